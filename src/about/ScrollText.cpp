// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/ScrollText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "qtbridge/QtColor.h"

namespace pling::about {

std::int32_t TextAllowance(TTextStyle style, std::int32_t depth) {
  switch (style) {
    case tsRaised:
    case tsLowered:
      return 2 * depth;
    case tsShaddow:
      return depth;
    case tsNormal:
      break;
  }
  return 0;
}

std::int32_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  const double below = std::floor(value);
  const double rest = value - below;
  double rounded = below;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0)) rounded = below + 1.0;
  constexpr double lowest = std::numeric_limits<std::int32_t>::min();
  constexpr double highest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(rounded, lowest, highest));
}

double ScrollFraction(std::int32_t position, std::int32_t steps, bool designing) {
  if (designing) return 0.5;
  if (steps <= 0) return position > 0 ? 1.0 : 0.0;
  return static_cast<double>(position) / static_cast<double>(steps);
}

QPoint BlockOrigin(TScrollDirection direction, double f, const TScrollMetrics& metrics,
                   std::int32_t width, std::int32_t height) {
  const double across = static_cast<double>(metrics.maxWidth) + width;
  const double down = static_cast<double>(metrics.textHeight) + height;
  switch (direction) {
    case sdRightToLeft:
      return {RoundHalfEven((1.0 - f) * across) - metrics.maxWidth, metrics.blockTop};
    case sdLeftToRight:
      return {RoundHalfEven(f * across) - metrics.maxWidth, metrics.blockTop};
    case sdTopToBottom:
      return {metrics.blockLeft, RoundHalfEven(f * down) - metrics.textHeight};
    case sdBottomToTop:
      return {metrics.blockLeft, RoundHalfEven((1.0 - f) * down) - metrics.textHeight};
    case sdStatic:
      break;
  }
  return {metrics.blockLeft, metrics.blockTop};
}

std::int32_t AlignmentOffset(TAlignment alignment, std::int32_t maxWidth, std::int32_t textWidth) {
  switch (alignment) {
    case taLeftJustify:
      return 0;
    case taRightJustify:
      return maxWidth - textWidth;
    case taCenter:
      break;
  }
  return RoundHalfEven(maxWidth * 0.5 - textWidth * 0.5);
}

TCustomScrollText::TCustomScrollText(QWidget* parent)
    : QWidget(parent), FItems{QStringLiteral("ScrollText")}, FTimer(new QTimer(this)) {
  // Each frame covers the whole area.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(200, 20);
  FFont.setFamily(QStringLiteral("Arial"));
  FFont.setPointSize(10);
  FTimer->setInterval(FSpeed);
  connect(FTimer, &QTimer::timeout, this, &TCustomScrollText::TimerTick);
  FScrollDirection = sdRightToLeft;
  StartScroll(FPosition);
  UpdateMetrics();
}

TCustomScrollText::~TCustomScrollText() {
  FTimer->stop();
}

void TCustomScrollText::SetItems(const QStringList& value) {
  if (&value != &FItems) FItems = value;
  Changed();
}

void TCustomScrollText::SetTextStyle(TTextStyle value) {
  if (value == FTextStyle) return;
  FTextStyle = value;
  Changed();
}

void TCustomScrollText::SetSteps(std::int32_t value) {
  if (value == FSteps) return;
  FSteps = value;
  if (FDesigning) update();
}

void TCustomScrollText::SetSpeed(std::int32_t value) {
  if (value == FSpeed) return;
  FSpeed = std::clamp(value, 1, 1000);
  FTimer->setInterval(FSpeed);
}

void TCustomScrollText::SetColor(settings::TColor value) {
  if (value == FColor) return;
  FColor = value;
  Changed();
}

void TCustomScrollText::SetContinuous(bool value) {
  if (value == FContinuous) return;
  FContinuous = value;
  if (FScrollDirection != sdStatic) StartScroll(FPosition);
}

void TCustomScrollText::SetFont(const QFont& value) {
  if (&value == &FFont) return;
  FFont = value;
  FontChanged();
}

void TCustomScrollText::SetFontColor(settings::TColor value) {
  if (value == FFontColor) return;
  FFontColor = value;
  FontChanged();
}

void TCustomScrollText::SetDepth(std::int32_t value) {
  if (value == FDepth) return;
  FDepth = value;
  Changed();
}

void TCustomScrollText::SetAlignment(TAlignment value) {
  if (value == FAlignment) return;
  FAlignment = value;
  Changed();
}

void TCustomScrollText::SetScrollDirection(TScrollDirection value) {
  FScrollDirection = value;
  if (value == sdStatic) {
    StopScroll();
  } else {
    StartScroll(FPosition);
  }
}

void TCustomScrollText::SetDesigning(bool value) {
  if (value == FDesigning) return;
  FDesigning = value;
  update();
}

void TCustomScrollText::StartScroll(std::int32_t firstStep) {
  if (FTimer->isActive()) return;
  if (firstStep >= 0 && firstStep <= FSteps) FPosition = firstStep;
  FTimer->start();
}

void TCustomScrollText::StopScroll() {
  FTimer->stop();
}

bool TCustomScrollText::Scrolling() const {
  return FTimer->isActive();
}

void TCustomScrollText::Changed() {
  UpdateMetrics();
  update();
}

void TCustomScrollText::FontChanged() {
  Changed();
}

void TCustomScrollText::UpdateMetrics() {
  const QFontMetrics metrics(FFont, this);
  const std::int32_t allowance = TextAllowance(FTextStyle, FDepth);
  // The cell height, plus the internal leading (the part of the cell above the
  // characters' em square) once more.
  const double dpi = logicalDpiY() > 0 ? logicalDpiY() : 96;
  const double em = FFont.pixelSize() > 0 ? FFont.pixelSize() : FFont.pointSizeF() * dpi / 72.0;
  const std::int32_t internalLeading = std::max(0, metrics.height() - RoundHalfEven(em));
  FMetrics.lineHeight = metrics.height() + internalLeading + allowance;
  FMetrics.maxWidth = 0;
  for (const QString& line : FItems) {
    const std::int32_t lineWidth = metrics.horizontalAdvance(line) + allowance;
    if (lineWidth > FMetrics.maxWidth) FMetrics.maxWidth = lineWidth;
  }
  const std::int64_t textHeight = std::int64_t{FMetrics.lineHeight} * FItems.size();
  FMetrics.textHeight = static_cast<std::int32_t>(
      std::min<std::int64_t>(textHeight, std::numeric_limits<std::int32_t>::max()));
  FMetrics.blockLeft = width() > FMetrics.maxWidth ? (width() - FMetrics.maxWidth) / 2 : 0;
  FMetrics.blockTop = height() > FMetrics.textHeight ? (height() - FMetrics.textHeight) / 2 : 0;
}

QImage TCustomScrollText::Frame() {
  UpdateMetrics();
  const qreal ratio = devicePixelRatioF();
  QImage frame(QSize(width(), height()) * ratio, QImage::Format_RGB32);
  if (frame.isNull()) return frame;
  frame.setDevicePixelRatio(ratio);
  frame.fill(qtbridge::ResolveColor(FColor, palette()));
  QPainter canvas(&frame);
  canvas.setFont(FFont);
  const double f = ScrollFraction(FPosition, FSteps, FDesigning);
  const QPoint origin = BlockOrigin(FScrollDirection, f, FMetrics, width(), height());
  // Lines wholly outside the area (their 3-D copies included) draw nothing.
  const std::int64_t margin = std::abs(std::int64_t{FDepth});
  std::int64_t y = origin.y();
  for (const QString& line : FItems) {
    if (y - margin < height() && y + FMetrics.lineHeight + margin > 0) {
      DrawLine(canvas, origin.x(), static_cast<std::int32_t>(y), line);
    }
    y += FMetrics.lineHeight;
  }
  return frame;
}

void TCustomScrollText::DrawLine(QPainter& canvas, std::int32_t x, std::int32_t y,
                                 const QString& text) {
  canvas.setFont(FFont);
  canvas.setBackgroundMode(Qt::TransparentMode);
  const QFontMetrics metrics(FFont, this);
  const std::int32_t offset =
      AlignmentOffset(FAlignment, FMetrics.maxWidth, metrics.horizontalAdvance(text));
  const std::int32_t left = x + offset;
  const std::int32_t baseline = y + metrics.ascent();
  const std::int32_t d = FDepth;
  const QColor highlight = qtbridge::ResolveColor(settings::clBtnHighlight, palette());
  const QColor shadow = qtbridge::ResolveColor(settings::clBtnShadow, palette());
  const auto copy = [&](const QColor& color, std::int32_t dx, std::int32_t dy) {
    canvas.setPen(color);
    canvas.drawText(QPoint(left + dx, baseline + dy), text);
  };
  switch (FTextStyle) {
    case tsRaised:
      copy(highlight, -d, -d);
      copy(shadow, d, d);
      break;
    case tsLowered:
      copy(shadow, -d, -d);
      copy(highlight, d, d);
      break;
    case tsShaddow:
      copy(shadow, d, d);
      break;
    case tsNormal:
      break;
  }
  copy(qtbridge::ResolveColor(FFontColor, palette()), 0, 0);
}

void TCustomScrollText::paintEvent(QPaintEvent* /*event*/) {
  const QImage frame = Frame();
  if (frame.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, frame);
}

void TCustomScrollText::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) update();
  QWidget::changeEvent(event);
}

void TCustomScrollText::TimerTick() {
  if (!FTimer->isActive()) return;  // a tick that arrived after stopping
  const QPointer<TCustomScrollText> alive(this);
  if (FPosition == 0 && OnBegin) {
    OnBegin(*this);
    if (!alive) return;
  }
  if (FPosition < std::numeric_limits<std::int32_t>::max()) ++FPosition;
  // The new frame shows at once, through the paint event.
  repaint();
  if (OnStep) {
    OnStep(*this);
    if (!alive) return;
  }
  if (FPosition > FSteps || FPosition == std::numeric_limits<std::int32_t>::max()) {
    FTimer->stop();
    if (OnEnd) {
      OnEnd(*this);
      if (!alive) return;
    }
    FPosition = 0;
    if (FContinuous) StartScroll(0);
  }
}

}  // namespace pling::about
