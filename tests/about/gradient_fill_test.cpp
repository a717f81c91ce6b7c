// SPDX-License-Identifier: GPL-3.0-or-later
// Gradient bands as computed, and as drawn on the widget.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <vector>

#include "about/GradientFill.h"
#include "qtbridge/MulDiv.h"

namespace pling::about {
namespace {

constexpr TRgb kBlack{0, 0, 0};
constexpr TRgb kWhite{255, 255, 255};
constexpr TRgb kRed{255, 0, 0};
constexpr TRgb kBlue{0, 0, 255};

struct Band {
  std::int32_t from;
  std::int32_t to;
  int grey;
};

std::vector<Band> Greys(const std::vector<TGradientBand>& bands) {
  std::vector<Band> out;
  for (const TGradientBand& band : bands) out.push_back({band.from, band.to, band.color.red});
  return out;
}

bool operator==(const Band& a, const Band& b) {
  return a.from == b.from && a.to == b.to && a.grey == b.grey;
}
void PrintTo(const Band& band, std::ostream* out) {
  *out << "[" << band.from << "," << band.to << ") grey " << band.grey;
}

TEST(GradientFillTest, ThreeBandsRoundHalvesAwayFromZero) {
  EXPECT_EQ(Greys(GradientBands(kBlack, kWhite, fdTopToBottom, 7, 30, 3)),
            (std::vector<Band>{{0, 10, 0}, {10, 20, 128}, {20, 30, 255}}));
  EXPECT_EQ(Greys(GradientBands(kWhite, kBlack, fdTopToBottom, 7, 30, 3)),
            (std::vector<Band>{{0, 10, 255}, {10, 20, 127}, {20, 30, 0}}));
  // Horizontal: the bands split the width; the height does not matter.
  EXPECT_EQ(Greys(GradientBands(kBlack, kWhite, fdLeftToRight, 31, 2, 3)),
            (std::vector<Band>{{0, 10, 0}, {10, 21, 128}, {21, 31, 255}}));
}

TEST(GradientFillTest, ReversedDirectionsSwapTheColoursNotTheLayout) {
  const auto up = GradientBands(kRed, kBlue, fdBottomToTop, 10, 20, 2);
  ASSERT_EQ(up.size(), 2u);
  EXPECT_EQ(up[0].from, 0);  // the top band
  EXPECT_EQ(up[0].color, kBlue);
  EXPECT_EQ(up[1].color, kRed);
  const auto left = GradientBands(kRed, kBlue, fdRightToLeft, 10, 20, 2);
  EXPECT_EQ(left[0].color, kBlue);
  EXPECT_EQ(left[0].to, 5);  // columns: the width is split
  EXPECT_EQ(left[1].color, kRed);

  // One colour: the start colour over the whole area.
  const auto one = GradientBands(kRed, kBlue, fdTopToBottom, 10, 20, 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].color, kRed);
  EXPECT_EQ(std::pair(one[0].from, one[0].to), std::pair(0, 20));
  EXPECT_EQ(GradientBands(kRed, kBlue, fdRightToLeft, 10, 20, 1)[0].color, kBlue);

  // Each channel on its own, with differences of either sign.
  const auto mixed = GradientBands({10, 200, 0}, {20, 100, 255}, fdTopToBottom, 1, 3, 3);
  EXPECT_EQ(mixed[1].color, (TRgb{15, 150, 128}));
}

TEST(GradientFillTest, MoreBandsThanPixelsLeaveSomeEmpty) {
  // Band colours follow their index whether or not the band is drawn.
  EXPECT_EQ(Greys(GradientBands(kBlack, kWhite, fdTopToBottom, 4, 3, 5)),
            (std::vector<Band>{{0, 1, 0}, {1, 1, 64}, {1, 2, 128}, {2, 2, 191}, {2, 3, 255}}));
  EXPECT_TRUE(GradientBands(kBlack, kWhite, fdTopToBottom, 4, 0, 5)[4].Empty());
  EXPECT_TRUE(GradientBands(kBlack, kWhite, fdTopToBottom, 4, 3, 0).empty());
  EXPECT_TRUE(GradientBands(kBlack, kWhite, fdTopToBottom, 4, 3, -1).empty());
}

TEST(GradientFillTest, BandsTileTheAreaWithoutGapsOrOverlaps) {
  for (std::int32_t extent : {0, 1, 37, 105, 448, 1000}) {
    for (std::int32_t n : {1, 2, 3, 16, 64, 255}) {
      const auto bands = GradientBands(kBlack, kWhite, fdLeftToRight, extent, 9, n);
      ASSERT_EQ(bands.size(), static_cast<std::size_t>(n));
      std::int32_t next = 0;
      for (std::int32_t i = 0; i < n; ++i) {
        const auto& band = bands[static_cast<std::size_t>(i)];
        EXPECT_EQ(band.from, next);
        EXPECT_EQ(band.to, qtbridge::MulDiv(i + 1, extent, n));
        next = band.to;
      }
      EXPECT_EQ(next, extent) << extent << " in " << n;
      EXPECT_EQ(bands.front().color, kBlack);
      EXPECT_EQ(bands.back().color, n == 1 ? kBlack : kWhite);
    }
  }
}

QRgb Pixel(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFFu;
}

TEST(GradientFillTest, DrawsTheBandsAndFollowsThePalette) {
  TGradientFill fill;
  EXPECT_EQ(fill.size(), QSize(105, 105));
  EXPECT_EQ(fill.BeginColor(), settings::clBlue);
  EXPECT_EQ(fill.EndColor(), settings::clBlack);
  EXPECT_EQ(fill.FillDirection(), fdTopToBottom);
  EXPECT_EQ(fill.NumberOfColors(), 16);

  // The main window's bar: button shadow on the left to button face on the right.
  QPalette palette = fill.palette();
  palette.setColor(QPalette::Dark, QColor(0x40, 0x50, 0x60));
  palette.setColor(QPalette::Button, QColor(0xC0, 0xD0, 0xE0));
  fill.setPalette(palette);
  fill.resize(300, 38);
  fill.SetBeginColor(settings::clBtnShadow);
  fill.SetEndColor(settings::clBtnFace);
  fill.SetFillDirection(fdLeftToRight);
  fill.SetNumberOfColors(64);
  QImage image = fill.PaintGradient();
  ASSERT_EQ(image.size(), QSize(300, 38));
  EXPECT_EQ(Pixel(image, 0, 0), 0x405060u);
  EXPECT_EQ(Pixel(image, 299, 37), 0xC0D0E0u);
  const auto bands =
      GradientBands({0x40, 0x50, 0x60}, {0xC0, 0xD0, 0xE0}, fdLeftToRight, 300, 38, 64);
  for (const TGradientBand& band : bands) {
    const QRgb expected = qRgb(band.color.red, band.color.green, band.color.blue) & 0xFFFFFFu;
    EXPECT_EQ(Pixel(image, band.from, 20), expected);
    EXPECT_EQ(Pixel(image, band.to - 1, 0), expected);
  }

  // A theme change shows at the next drawing, with nothing set on the widget.
  palette.setColor(QPalette::Dark, QColor(0x11, 0x22, 0x33));
  fill.setPalette(palette);
  EXPECT_EQ(Pixel(fill.PaintGradient(), 0, 0), 0x112233u);

  // What the screen shows is that picture.
  const QImage shown = fill.grab().toImage();
  ASSERT_EQ(shown.size(), image.size());
  EXPECT_EQ(Pixel(shown, 0, 0), 0x112233u);
  EXPECT_EQ(Pixel(shown, 299, 0), 0xC0D0E0u);
  EXPECT_EQ(Pixel(shown, 150, 19), Pixel(fill.PaintGradient(), 150, 19));

  // Vertical bands span the width; the RGB colours of the core are 0x00BBGGRR.
  fill.resize(10, 30);
  fill.SetBeginColor(settings::clRed);
  fill.SetEndColor(settings::clBlue);
  fill.SetFillDirection(fdBottomToTop);
  fill.SetNumberOfColors(3);
  image = fill.PaintGradient();
  EXPECT_EQ(Pixel(image, 9, 0), 0x0000FFu);
  EXPECT_EQ(Pixel(image, 0, 15), 0x80007Fu);  // red rounds up, blue down
  EXPECT_EQ(Pixel(image, 9, 29), 0xFF0000u);
}

}  // namespace
}  // namespace pling::about
