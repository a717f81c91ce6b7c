// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The status line's label.
#include <QFont>
#include <QLabel>
#include <QString>

#include "settings/font.h"

namespace pling::app {

// A one-line label whose text colour is a core colour, resolved at every paint.
// A text too wide for it is shown in a smaller size, down to the desktop's, and
// beyond that shortened with "…" at its end: it is never cut off.
class TColorLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  settings::TColor Color() const { return FColor; }
  void SetColor(settings::TColor value);
  // The font and text as painted now.
  QFont DisplayedFont() const;
  QString DisplayedText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  settings::TColor FColor = settings::clWindowText;
};

}  // namespace pling::app
