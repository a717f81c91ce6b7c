// SPDX-License-Identifier: GPL-3.0-or-later
// Integer, colour and font texts.
#include <gtest/gtest.h>

#include <string>

#include "convert_error.h"
#include "runtime/exceptions.h"
#include "settings/IntText.h"
#include "settings/Megares.h"

namespace pling::settings {
namespace {

using pling::testing::ConvertErrorOf;

TEST(TextFormsTest, AcceptsDecimalAndHexadecimalForms) {
  EXPECT_EQ(TryStrToInt("0"), 0);
  EXPECT_EQ(TryStrToInt("   42"), 42);
  EXPECT_EQ(TryStrToInt("+7"), 7);
  EXPECT_EQ(TryStrToInt("-15"), -15);
  EXPECT_EQ(TryStrToInt("007"), 7);
  EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
  EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(TryStrToInt("$1F"), 31);
  EXPECT_EQ(TryStrToInt("$1f"), 31);
  EXPECT_EQ(TryStrToInt(" $00000010"), 16);
  EXPECT_EQ(TryStrToInt("$7FFFFFFF"), 2147483647);
  EXPECT_EQ(TryStrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(TryStrToInt("$80000008"), static_cast<std::int32_t>(0x80000008u));
}

TEST(TextFormsTest, RejectsEverythingElse) {
  for (const char* text :
       {"", "   ", "+", "-", "$", "0x1F", "-$1F", "$-1", "12 ", "1a", "1.0", "2147483648",
        "-2147483649", "99999999999999999999", "$100000000", "$1G", "- 1", "+-1"}) {
    EXPECT_FALSE(TryStrToInt(text).has_value()) << "'" << text << "'";
  }
}

TEST(TextFormsTest, ConversionErrorQuotesTheText) {
  EXPECT_EQ(ConvertErrorOf([] { StrToInt("abc"); }), "'abc' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { StrToInt(""); }), "'' is not a valid integer value");
  EXPECT_EQ(StrToInt("-89"), -89);
  EXPECT_EQ(IntToStr(-89), "-89");
}

TEST(TextFormsTest, NamedColoursAndHexadecimalText) {
  EXPECT_EQ(ColorToText(0x00000080), "clMaroon");
  EXPECT_EQ(ColorToText(0x00000000), "clBlack");
  EXPECT_EQ(ColorToText(0x00FFFF00), "clAqua");
  EXPECT_EQ(ColorToText(static_cast<TColor>(0x80000000u)), "clScrollBar");
  EXPECT_EQ(ColorToText(static_cast<TColor>(0x80000005u)), "clWindow");
  EXPECT_EQ(ColorToText(static_cast<TColor>(0x80000008u)), "clWindowText");
  EXPECT_EQ(ColorToText(static_cast<TColor>(0x8000000Fu)), "clBtnFace");
  EXPECT_EQ(ColorToText(static_cast<TColor>(0x80000015u)), "cl3DDkShadow");
  EXPECT_EQ(ColorToText(static_cast<TColor>(0x80000018u)), "clInfoBk");
  EXPECT_EQ(ColorToText(0x1FFFFFFF), "clNone");
  EXPECT_EQ(ColorToText(0x00123456), "$00123456");
  EXPECT_EQ(ColorToText(0x00ABCDEF), "$00ABCDEF");
  EXPECT_EQ(ColorToText(static_cast<TColor>(0x80000019u)), "$80000019");
  EXPECT_EQ(ColorToText(-1), "$FFFFFFFF");
}

TEST(TextFormsTest, TextToColorReadsIdentifiersInAnyCaseAndIntegerText) {
  EXPECT_EQ(TextToColor("clwindowtext"), static_cast<TColor>(0x80000008u));
  EXPECT_EQ(TextToColor("CLMAROON"), 0x000080);
  EXPECT_EQ(TextToColor("clInfoText"), static_cast<TColor>(0x80000017u));
  EXPECT_EQ(TextToColor("255"), 255);
  EXPECT_EQ(TextToColor("$000000FF"), 255);
  EXPECT_EQ(TextToColor("$80000005"), clWindow);
  EXPECT_EQ(TextToColor("-1"), -1);
  EXPECT_EQ(ConvertErrorOf([] { TextToColor("clPink"); }), "'clPink' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { TextToColor(" clRed"); }), "' clRed' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { TextToColor(""); }), "'' is not a valid integer value");
}

TEST(TextFormsTest, EveryTextRoundTrips) {
  for (TColor color : {clBlack, clWhite, clTeal, clGrayText, clNone, TColor{0x00123456}, TColor{-1},
                       TColor{0x7FFFFFFF}, static_cast<TColor>(0x80000000u)}) {
    EXPECT_EQ(TextToColor(ColorToText(color)), color) << ColorToText(color);
  }
}

TEST(TextFormsTest, FontToTextWritesStrikeOutBeforeUnderline) {
  TFont font;
  EXPECT_EQ(FontToText(font), "MS Sans Serif;8;clWindowText;0000");
  font.style = {fsItalic};
  EXPECT_EQ(FontToText(font), "MS Sans Serif;8;clWindowText;0100");
  font = TFont{"Arial", 12, 0x00123456, {fsStrikeOut}};
  EXPECT_EQ(FontToText(font), "Arial;12;$00123456;0010");
  font.style = {fsUnderline};
  EXPECT_EQ(FontToText(font), "Arial;12;$00123456;0001");
  font.style = {fsBold, fsItalic, fsUnderline, fsStrikeOut};
  font.size = -3;
  EXPECT_EQ(FontToText(font), "Arial;-3;$00123456;1111");
}

TEST(TextFormsTest, FontFromTextReadsFourFields) {
  const TFont font = FontFromText("Arial;12;$00123456;1001");
  EXPECT_EQ(font.name, "Arial");
  EXPECT_EQ(font.size, 12);
  EXPECT_EQ(font.color, 0x00123456);
  EXPECT_TRUE(font.style.Contains(fsBold));
  EXPECT_TRUE(font.style.Contains(fsUnderline));
  EXPECT_FALSE(font.style.Contains(fsItalic));
  EXPECT_FALSE(font.style.Contains(fsStrikeOut));

  EXPECT_EQ(FontFromText("Arial;12;clRed;1").style, TFontStyles{fsBold});
  EXPECT_TRUE(FontFromText("Arial;12;clRed;").style.Empty());
  EXPECT_TRUE(FontFromText("Arial;12;clRed").style.Empty());
  EXPECT_EQ(FontFromText("Arial;12;clRed;x01").style, TFontStyles{fsStrikeOut});
  // Only the fourth field holds flags; what follows it is ignored.
  EXPECT_EQ(FontFromText("Arial;12;clRed;0100;1111").style, TFontStyles{fsItalic});
  EXPECT_EQ(FontFromText("; 7;255;0000"), (TFont{"", 7, 255, {}}));
}

TEST(TextFormsTest, InvalidSizeOrColourFails) {
  EXPECT_EQ(ConvertErrorOf([] { FontFromText("Arial"); }), "'' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { FontFromText(""); }), "'' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { FontFromText("Arial;12pt;clRed;0000"); }),
            "'12pt' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { FontFromText("Arial;12"); }), "'' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { FontFromText("Arial;12;clPink;0000"); }),
            "'clPink' is not a valid integer value");
}

TEST(TextFormsTest, EveryStyleCombinationRoundTrips) {
  for (unsigned bits = 0; bits < 16; ++bits) {
    TFont font{"Courier New", 10, clNavy, {}};
    for (TFontStyle style : {fsBold, fsItalic, fsUnderline, fsStrikeOut}) {
      if ((bits & (1u << style)) != 0) font.style.Include(style);
    }
    EXPECT_EQ(FontFromText(FontToText(font)), font) << FontToText(font);
  }
}

}  // namespace
}  // namespace pling::settings
