// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ColorLabel.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "qtbridge/QtColor.h"

namespace pling::app {

using settings::TColor;

void TColorLabel::SetColor(TColor value) {
  FColor = value;
  update();
}

QFont TColorLabel::DisplayedFont() const {
  // Smaller, a point at a time, down to the desktop's size, while the text is
  // too wide.
  QFont shown = font();
  const qreal smallest = std::min(shown.pointSizeF(), QApplication::font().pointSizeF());
  const int room = contentsRect().width();
  while (shown.pointSizeF() - 1 >= smallest && smallest > 0 &&
         QFontMetrics(shown).horizontalAdvance(text()) > room) {
    shown.setPointSizeF(shown.pointSizeF() - 1);
  }
  return shown;
}

QString TColorLabel::DisplayedText() const {
  return QFontMetrics(DisplayedFont()).elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void TColorLabel::paintEvent(QPaintEvent* /*event*/) {
  // Resolved now, so that a new desktop theme shows at the next paint.
  const QColor color = qtbridge::ResolveColor(FColor, QApplication::palette(this));
  if (palette().color(QPalette::WindowText) != color) {
    QPalette own = palette();
    own.setColor(QPalette::WindowText, color);
    setPalette(own);
  }
  QPainter painter(this);
  painter.setFont(DisplayedFont());
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                        isEnabled(), DisplayedText(), foregroundRole());
}

}  // namespace pling::app
