// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/GradientFill.h"

#include <QEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include "qtbridge/MulDiv.h"
#include "qtbridge/QtColor.h"

namespace pling::about {

using qtbridge::MulDiv;

namespace {

std::uint8_t Channel(std::uint8_t start, std::uint8_t end, std::int32_t i, std::int32_t n) {
  if (n < 2) return start;
  const std::int32_t difference = std::int32_t{end} - std::int32_t{start};
  return static_cast<std::uint8_t>(std::int32_t{start} + MulDiv(i, difference, n - 1));
}

TRgb ToRgb(const QColor& color) {
  return {static_cast<std::uint8_t>(color.red()), static_cast<std::uint8_t>(color.green()),
          static_cast<std::uint8_t>(color.blue())};
}

}  // namespace

bool IsVertical(TFillDirection direction) {
  return direction == fdTopToBottom || direction == fdBottomToTop;
}

std::vector<TGradientBand> GradientBands(TRgb begin, TRgb end, TFillDirection direction,
                                         std::int32_t width, std::int32_t height,
                                         std::int32_t numberOfColors) {
  std::vector<TGradientBand> bands;
  if (numberOfColors <= 0) return bands;
  const bool reversed = direction == fdBottomToTop || direction == fdRightToLeft;
  const TRgb start = reversed ? end : begin;
  const TRgb finish = reversed ? begin : end;
  const std::int32_t extent = IsVertical(direction) ? height : width;
  bands.reserve(static_cast<std::size_t>(numberOfColors));
  for (std::int32_t i = 0; i < numberOfColors; ++i) {
    TGradientBand band;
    band.from = MulDiv(i, extent, numberOfColors);
    band.to = MulDiv(i + 1, extent, numberOfColors);
    band.color = {Channel(start.red, finish.red, i, numberOfColors),
                  Channel(start.green, finish.green, i, numberOfColors),
                  Channel(start.blue, finish.blue, i, numberOfColors)};
    bands.push_back(band);
  }
  return bands;
}

TGradientFill::TGradientFill(QWidget* parent)
    : QWidget(parent), FBeginColor(settings::clBlue), FEndColor(settings::clBlack) {
  // Every paint covers the whole area.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(105, 105);
}

void TGradientFill::SetBeginColor(settings::TColor value) {
  FBeginColor = value;
  update();
}

void TGradientFill::SetEndColor(settings::TColor value) {
  FEndColor = value;
  update();
}

void TGradientFill::SetFillDirection(TFillDirection value) {
  if (value == FFillDirection) return;
  FFillDirection = value;
  update();
}

void TGradientFill::SetNumberOfColors(TNumberOfColors value) {
  FNumberOfColors = value;
  update();
}

void TGradientFill::SetAutoSize(bool value) {
  FAutoSize = value;
  update();
}

QImage TGradientFill::PaintGradient() const {
  const int w = width();
  const int h = height();
  if (w <= 0 || h <= 0) return QImage();
  QImage image(w, h, QImage::Format_RGB32);
  // What no band covers (only with no colours at all) shows the window colour.
  image.fill(palette().color(QPalette::Window));
  const QPalette& colors = palette();
  const std::vector<TGradientBand> bands = GradientBands(
      ToRgb(qtbridge::ResolveColor(FBeginColor, colors)),
      ToRgb(qtbridge::ResolveColor(FEndColor, colors)), FFillDirection, w, h, FNumberOfColors);
  QPainter painter(&image);
  const bool vertical = IsVertical(FFillDirection);
  for (const TGradientBand& band : bands) {
    if (band.Empty()) continue;
    const QRect rect = vertical ? QRect(0, band.from, w, band.to - band.from)
                                : QRect(band.from, 0, band.to - band.from, h);
    painter.fillRect(rect, QColor(band.color.red, band.color.green, band.color.blue));
  }
  return image;
}

void TGradientFill::paintEvent(QPaintEvent* /*event*/) {
  const QImage image = PaintGradient();
  if (image.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, image);
}

void TGradientFill::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit Click();
  }
  QWidget::mouseReleaseEvent(event);
}

void TGradientFill::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DblClick();
  QWidget::mouseDoubleClickEvent(event);
}

void TGradientFill::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) update();
  QWidget::changeEvent(event);
}

}  // namespace pling::about
