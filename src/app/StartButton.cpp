// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartButton.h"

#include <QIcon>

#include "app/Accessibility.h"
#include "app/KeyboardFocus.h"

namespace pling::app {

TStartButton::TStartButton(QWidget* parent) : QToolButton(parent) {
  setObjectName(QStringLiteral("StartBtn"));
  setText(QStringLiteral("&Start"));
  setIcon(QIcon(QStringLiteral(":/pling/start.svg")));
  setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  setCheckable(true);  // down while receiving
  setFocusPolicy(Qt::StrongFocus);
  StyleStartButton(*this);
  // A check box to the accessibility bus: the one role that bus gets from Qt
  // whose checked state screen readers read out, as they find the button and
  // whenever it changes (a push button's "pressed" is never spoken).
  SetAccessibleRole(*this, QAccessible::CheckBox);
  setAccessibleName(QStringLiteral("Start"));
  setAccessibleDescription(
      QStringLiteral("Opens the program's menu. Checked while messages are received."));
}

}  // namespace pling::app
