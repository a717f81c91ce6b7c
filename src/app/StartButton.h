// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Start button: it opens the program's menu and stays down while messages
// are received. A click does not toggle it: that state follows the messenger
// alone. Screen readers get it as a toggle ("Start", checked while receiving)
// and are told each change (Accessibility.h).
#include <QToolButton>

namespace pling::app {

class TStartButton : public QToolButton {
  Q_OBJECT
 public:
  explicit TStartButton(QWidget* parent);

 protected:
  // A click opens the menu; the menu's Activate changes the state.
  void nextCheckState() override {}
};

}  // namespace pling::app
