// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TGradientFill: fills its whole area with a linear gradient of a fixed number
// of solid bands, from a begin colour to an end colour, in one of four
// directions. The bands are always laid out from the top (vertical directions)
// or from the left (horizontal directions); the two reversed directions swap the
// colours instead.
#include <QWidget>
#include <cstdint>
#include <vector>

#include "settings/font.h"

class QImage;

namespace pling::about {

enum TFillDirection : std::uint8_t { fdTopToBottom, fdBottomToTop, fdLeftToRight, fdRightToLeft };

// 1 to 255 in use; 0 draws no band.
using TNumberOfColors = std::uint8_t;

struct TRgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const TRgb&, const TRgb&) = default;
};

// One band: the rows (vertical directions) or columns (horizontal directions)
// from `from` up to, not including, `to`, across the whole other extent.
struct TGradientBand {
  std::int32_t from = 0;
  std::int32_t to = 0;
  TRgb color;
  bool Empty() const { return to <= from; }
};

bool IsVertical(TFillDirection direction);

// The bands of a gradient over an area of width × height, one per colour in
// index order, empty ones included (they draw nothing). Band i spans
// MulDiv(i, extent, n) to MulDiv(i + 1, extent, n); its colour is
// start + MulDiv(i, end - start, n - 1) per channel, the start colour alone for
// n = 1. No bands for n of 0 or less.
std::vector<TGradientBand> GradientBands(TRgb begin, TRgb end, TFillDirection direction,
                                         std::int32_t width, std::int32_t height,
                                         std::int32_t numberOfColors);

class TGradientFill : public QWidget {
  Q_OBJECT

 public:
  // 105 × 105 pixels, pure blue to black, top to bottom, 16 colours.
  explicit TGradientFill(QWidget* parent = nullptr);

  // Colours of the core: RGB or system colours, looked up in the widget's
  // palette whenever it is drawn.
  settings::TColor BeginColor() const { return FBeginColor; }
  void SetBeginColor(settings::TColor value);
  settings::TColor EndColor() const { return FEndColor; }
  void SetEndColor(settings::TColor value);
  TFillDirection FillDirection() const { return FFillDirection; }
  void SetFillDirection(TFillDirection value);
  TNumberOfColors NumberOfColors() const { return FNumberOfColors; }
  void SetNumberOfColors(TNumberOfColors value);
  // Kept for the stored description; it changes neither size nor drawing.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);

  // The gradient as the next paint draws it, at the widget's size.
  QImage PaintGradient() const;

 signals:
  void Click();
  void DblClick();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  settings::TColor FBeginColor;
  settings::TColor FEndColor;
  TFillDirection FFillDirection = fdTopToBottom;
  TNumberOfColors FNumberOfColors = 16;
  bool FAutoSize = false;
};

}  // namespace pling::about
