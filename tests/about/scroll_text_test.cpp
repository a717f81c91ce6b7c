// SPDX-License-Identifier: GPL-3.0-or-later
// The scrolling text: where the block stands at each step, how lines align,
// what the styles add, and the passes the timer makes.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "about/ScrollText.h"
#include "qtbridge/QtColor.h"

namespace pling::about {
namespace {

double At(int step, int steps) {
  return ScrollFraction(step, steps, false);
}

class ScrollTextTest : public ::testing::Test {
 protected:
  QWidget FParent;
  TScrollText* Make() {
    auto* text = new TScrollText(&FParent);
    text->setGeometry(0, 0, 200, 60);
    return text;
  }
};

TEST_F(ScrollTextTest, EachDirectionCrossesFromEdgeToEdgeRoundingHalvesToEven) {
  // A block 50 × 40 in an area 200 × 60, 80 steps.
  const TScrollMetrics m{20, 50, 40, 75, 10};
  const auto origin = [&](TScrollDirection d, int step) {
    return BlockOrigin(d, At(step, 80), m, 200, 60);
  };
  // Right to left: X = Round((1 - s/80) × 250) - 50. Halves come where s/80
  // is exact in binary: s = 20 gives 187.5, s = 60 gives 62.5.
  EXPECT_EQ(origin(sdRightToLeft, 0), QPoint(200, 10));   // just outside the right edge
  EXPECT_EQ(origin(sdRightToLeft, 1), QPoint(197, 10));   // 246.875
  EXPECT_EQ(origin(sdRightToLeft, 20), QPoint(138, 10));  // 187.5 -> 188
  EXPECT_EQ(origin(sdRightToLeft, 60), QPoint(12, 10));   // 62.5 -> 62
  EXPECT_EQ(origin(sdRightToLeft, 80), QPoint(-50, 10));  // just outside the left edge
  EXPECT_EQ(origin(sdRightToLeft, 81), QPoint(-53, 10));  // the step beyond
  // Left to right mirrors it.
  EXPECT_EQ(origin(sdLeftToRight, 0), QPoint(-50, 10));
  EXPECT_EQ(origin(sdLeftToRight, 20), QPoint(12, 10));   // 62.5 -> 62
  EXPECT_EQ(origin(sdLeftToRight, 60), QPoint(138, 10));  // 187.5 -> 188
  EXPECT_EQ(origin(sdLeftToRight, 80), QPoint(200, 10));
  // Top to bottom: Y = Round(s/80 × 100) - 40.
  EXPECT_EQ(origin(sdTopToBottom, 0), QPoint(75, -40));
  EXPECT_EQ(origin(sdTopToBottom, 10), QPoint(75, -28));  // 12.5 -> 12
  EXPECT_EQ(origin(sdTopToBottom, 30), QPoint(75, -2));   // 37.5 -> 38
  EXPECT_EQ(origin(sdTopToBottom, 80), QPoint(75, 60));
  EXPECT_EQ(origin(sdBottomToTop, 0), QPoint(75, 60));
  EXPECT_EQ(origin(sdBottomToTop, 70), QPoint(75, -28));  // 12.5 -> 12
  EXPECT_EQ(origin(sdBottomToTop, 50), QPoint(75, -2));   // 37.5 -> 38
  EXPECT_EQ(origin(sdBottomToTop, 80), QPoint(75, -40));
  EXPECT_EQ(origin(sdStatic, 33), QPoint(75, 10));

  // The About window's credits: 300 steps in 177 pixels, a block 360 high:
  // Y = Round((1 - s/300) × 537) - 360.
  const TScrollMetrics credits{20, 300, 360, 6, 0};
  const auto y = [&](int step) {
    return BlockOrigin(sdBottomToTop, At(step, 300), credits, 313, 177).y();
  };
  EXPECT_EQ(y(0), 177);
  EXPECT_EQ(y(1), 175);     // 535.21
  EXPECT_EQ(y(75), 43);     // 402.75
  EXPECT_EQ(y(150), -92);   // 268.5 -> 268
  EXPECT_EQ(y(225), -226);  // 134.25
  EXPECT_EQ(y(300), -360);

  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);

  // While designing the block stands half-way whatever the position.
  for (int step : {0, 17, 80}) {
    EXPECT_EQ(BlockOrigin(sdRightToLeft, ScrollFraction(step, 80, true), m, 200, 60),
              QPoint(75, 10));
  }
}

TEST_F(ScrollTextTest, CentredLinesRoundHalvesToEven) {
  EXPECT_EQ(AlignmentOffset(taCenter, 101, 100), 0);  // 0.5 -> 0
  EXPECT_EQ(AlignmentOffset(taCenter, 103, 100), 2);  // 1.5 -> 2
  EXPECT_EQ(AlignmentOffset(taCenter, 105, 100), 2);  // 2.5 -> 2
  EXPECT_EQ(AlignmentOffset(taLeftJustify, 103, 100), 0);
  EXPECT_EQ(AlignmentOffset(taRightJustify, 103, 100), 3);
  // A stored 0 is centred.
  EXPECT_EQ(static_cast<TAlignment>(0), taCenter);
}

TEST_F(ScrollTextTest, AStyleAddsItsAllowanceToLineHeightAndWidth) {
  TScrollText& text = *Make();
  text.SetItems({QStringLiteral("Pling"), QStringLiteral("a longer second line")});
  const TScrollMetrics flat = text.Metrics();
  EXPECT_GT(flat.lineHeight, 0);
  EXPECT_EQ(flat.textHeight, 2 * flat.lineHeight);
  EXPECT_EQ(flat.blockLeft, (200 - flat.maxWidth) / 2);
  EXPECT_EQ(flat.blockTop, (60 - flat.textHeight) / 2);

  text.SetDepth(2);
  text.SetTextStyle(tsRaised);
  EXPECT_EQ(text.Metrics().lineHeight, flat.lineHeight + 4);
  EXPECT_EQ(text.Metrics().maxWidth, flat.maxWidth + 4);
  text.SetTextStyle(tsLowered);
  EXPECT_EQ(text.Metrics().lineHeight, flat.lineHeight + 4);
  text.SetTextStyle(tsShaddow);
  EXPECT_EQ(text.Metrics().lineHeight, flat.lineHeight + 2);
  EXPECT_EQ(text.Metrics().maxWidth, flat.maxWidth + 2);

  // The line height is the cell height plus the internal leading.
  text.SetTextStyle(tsNormal);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(20);
  text.SetFont(font);
  const QFontMetrics metrics(font, &text);
  EXPECT_EQ(text.Metrics().lineHeight, 2 * metrics.height() - 20);

  // Lines wider than the area: the block starts at the left edge.
  text.resize(30, 10);
  text.UpdateMetrics();
  EXPECT_EQ(text.Metrics().blockLeft, 0);
  EXPECT_EQ(text.Metrics().blockTop, 0);
}

TEST_F(ScrollTextTest, AnEmptyListShowsOnlyTheBackground) {
  TScrollText& text = *Make();
  text.SetItems({});
  text.SetScrollDirection(sdStatic);
  EXPECT_EQ(text.Metrics().maxWidth, 0);
  EXPECT_EQ(text.Metrics().textHeight, 0);
  const QImage frame = text.Frame();
  const QRgb background = qtbridge::ResolveColor(settings::clBtnFace, text.palette()).rgb();
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) ASSERT_EQ(frame.pixel(x, y), background);
  }
}

TEST_F(ScrollTextTest, LoweredTextIsDrawnWithinTheBlockInShadowHighlightAndFontColours) {
  TScrollText& text = *Make();
  text.resize(300, 100);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(40);  // stems wide enough for unmixed colours
  text.SetFont(font);
  QPalette colors = text.palette();
  colors.setColor(QPalette::Button, QColor(200, 200, 200));
  colors.setColor(QPalette::Dark, QColor(0, 0, 255));     // button shadow
  colors.setColor(QPalette::Light, QColor(255, 255, 0));  // button highlight
  text.setPalette(colors);
  text.SetItems({QStringLiteral("HHHH")});
  text.SetFontColor(settings::clRed);
  text.SetTextStyle(tsLowered);
  text.SetDepth(2);
  text.SetScrollDirection(sdStatic);
  ASSERT_EQ(qtbridge::ResolveColor(settings::clBtnShadow, text.palette()), QColor(0, 0, 255));
  ASSERT_EQ(qtbridge::ResolveColor(settings::clBtnHighlight, text.palette()), QColor(255, 255, 0));
  const QImage frame = text.Frame();
  const TScrollMetrics m = text.Metrics();
  const QRect block(m.blockLeft - 2, m.blockTop - 2, m.maxWidth + 4, m.textHeight + 4);
  bool red = false, shadow = false, highlight = false;
  int shadowTop = frame.height(), highlightTop = frame.height();
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      const QColor c = frame.pixelColor(x, y);
      if (c == QColor(200, 200, 200)) continue;
      EXPECT_TRUE(block.contains(x, y)) << x << "," << y;
      // Anti-aliased edges mix colours; the pure ones tell the copies apart.
      if (c == QColor(255, 0, 0)) red = true;
      if (c == QColor(0, 0, 255)) {
        shadow = true;
        shadowTop = std::min(shadowTop, y);
      }
      if (c == QColor(255, 255, 0)) {
        highlight = true;
        highlightTop = std::min(highlightTop, y);
      }
    }
  }
  EXPECT_TRUE(red);
  EXPECT_TRUE(shadow);
  EXPECT_TRUE(highlight);
  // Lowered: the shadow copy above and left, the highlight copy below and right.
  EXPECT_LT(shadowTop, highlightTop);
}

TEST_F(ScrollTextTest, SpeedIsClampedAndAnUnchangedValueChangesNothing) {
  TScrollText& text = *Make();
  EXPECT_EQ(text.Speed(), 100);
  text.SetSpeed(0);
  EXPECT_EQ(text.Speed(), 1);
  text.SetSpeed(5000);
  EXPECT_EQ(text.Speed(), 1000);
  text.SetSpeed(-7);
  EXPECT_EQ(text.Speed(), 1);
  text.SetSpeed(250);
  EXPECT_EQ(text.Speed(), 250);
  EXPECT_EQ(text.findChild<QTimer*>()->interval(), 250);
}

struct Counts {
  int begin = 0;
  int step = 0;
  int end = 0;
};

void Count(TScrollText& text, Counts& counts) {
  text.OnBegin = [&counts](TCustomScrollText&) { ++counts.begin; };
  text.OnStep = [&counts](TCustomScrollText&) { ++counts.step; };
  text.OnEnd = [&counts](TCustomScrollText&) { ++counts.end; };
}

TEST_F(ScrollTextTest, APassTakesStepsPlusOneTicksAndStopAndResumeSkipsOnBegin) {
  TScrollText& text = *Make();
  EXPECT_TRUE(text.Scrolling());  // from construction
  text.SetSteps(10);
  Counts counts;
  Count(text, counts);
  for (int i = 0; i < 3; ++i) text.TimerTick();
  EXPECT_EQ(text.Position(), 3);
  EXPECT_EQ(counts.begin, 1);

  text.SetScrollDirection(sdStatic);
  EXPECT_FALSE(text.Scrolling());
  text.TimerTick();  // a late tick does nothing
  EXPECT_EQ(text.Position(), 3);
  text.SetScrollDirection(sdBottomToTop);
  EXPECT_TRUE(text.Scrolling());
  EXPECT_EQ(text.Position(), 3);
  for (int i = 3; i < 11; ++i) text.TimerTick();
  EXPECT_EQ(counts.begin, 1);
  EXPECT_EQ(counts.step, 11);
  EXPECT_EQ(counts.end, 1);
  // Continuous: the next pass starts from step 0 at once.
  EXPECT_EQ(text.Position(), 0);
  EXPECT_TRUE(text.Scrolling());
  text.TimerTick();
  EXPECT_EQ(counts.begin, 2);

  // Not continuous: the pass ends stopped at 0; setting the direction again
  // starts a new pass.
  text.SetContinuous(false);
  for (int i = 1; i < 11; ++i) text.TimerTick();
  EXPECT_EQ(counts.end, 2);
  EXPECT_FALSE(text.Scrolling());
  EXPECT_EQ(text.Position(), 0);
  text.SetScrollDirection(sdBottomToTop);
  EXPECT_TRUE(text.Scrolling());
  text.TimerTick();
  EXPECT_EQ(counts.begin, 3);
}

TEST_F(ScrollTextTest, NoStepsMakesEachTickAWholePassWithTheBlockOutOfSight) {
  TScrollText& text = *Make();
  text.SetScrollDirection(sdBottomToTop);
  Counts counts;
  Count(text, counts);
  for (int steps : {0, -5}) {
    text.SetSteps(steps);
    text.show();
    for (int i = 0; i < 3; ++i) {
      text.TimerTick();
      EXPECT_EQ(text.Position(), 0);
    }
    // Between passes the block stands below the area: only background shows.
    const QImage frame = text.Frame();
    const QRgb background = frame.pixel(0, 0);
    for (int y = 0; y < frame.height(); ++y) {
      for (int x = 0; x < frame.width(); ++x) ASSERT_EQ(frame.pixel(x, y), background);
    }
  }
  EXPECT_EQ(counts.begin, 6);
  EXPECT_EQ(counts.end, 6);
  EXPECT_TRUE(text.Scrolling());
}

}  // namespace
}  // namespace pling::about
