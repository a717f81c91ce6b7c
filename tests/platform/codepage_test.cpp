// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace pling::platform {
namespace {

constexpr unsigned kAnsiPages[] = {1252, 1251, 1250};

std::string AllBytes() {
  std::string bytes(256, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
  return bytes;
}

// Puts the active pair back after each test, so the tests do not depend on their order.
class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = ActiveCodePages(); }
  void TearDown() override { SelectCodePages(saved_.ansi); }

 private:
  TCodePages saved_{};
};

TEST_F(CodePageTest, EveryPairIsABijectionAndTheDirectionsAreInverse) {
  for (const unsigned ansi : kAnsiPages) {
    SCOPED_TRACE(ansi);
    ASSERT_TRUE(SelectCodePages(ansi));
    const std::string all = AllBytes();

    std::string oem = all;
    CharToOem(oem);
    EXPECT_EQ(oem.substr(0, 128), all.substr(0, 128)) << "ASCII must not change";
    std::string sorted = oem;
    std::sort(sorted.begin(), sorted.end(), [](char a, char b) {
      return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
    });
    EXPECT_EQ(sorted, all) << "two ANSI bytes share an OEM byte";
    OemToChar(oem);
    EXPECT_EQ(oem, all);

    std::string ansiText = all;
    OemToChar(ansiText);
    CharToOem(ansiText);
    EXPECT_EQ(ansiText, all);
  }
}

TEST_F(CodePageTest, LettersMapToTheSameLetterInTheOemPage) {
  struct Case {
    unsigned ansiPage;
    unsigned char ansi;
    unsigned char oem;
  };
  const Case cases[] = {
      {1252, 0xE9, 0x82},  // é
      {1252, 0xC4, 0x8E},  // Ä
      {1251, 0xC6, 0x86},  // Ж
      {1251, 0xFF, 0xEF},  // я
      {1251, 0xA8, 0xF0},  // Ё
      {1250, 0xF8, 0xFD},  // ř
      {1250, 0xA3, 0x9D},  // Ł
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ansiPage << " byte " << unsigned{c.ansi});
    ASSERT_TRUE(SelectCodePages(c.ansiPage));
    std::string text = {'a', static_cast<char>(c.ansi), 'Z'};
    CharToOem(text);
    EXPECT_EQ(text, (std::string{'a', static_cast<char>(c.oem), 'Z'}));
    OemToChar(text);
    EXPECT_EQ(text, (std::string{'a', static_cast<char>(c.ansi), 'Z'}));
  }
}

// Each page folds its own letters, the text and its OEM form fold alike, and what
// has no capital in the page (or only an ASCII look-alike) stays as it is.
TEST_F(CodePageTest, CaseFoldsInThePageTheTextIsIn) {
  struct Case {
    unsigned ansiPage;
    std::string ansiLower, ansiUpper, oemLower, oemUpper;
  };
  const Case cases[] = {
      // é ä ÿ š / É Ä Ÿ Š (ÿ and š have no OEM 850 form of their own: ANSI only)
      {1252, "gr\xE9\xE4n\xFF\x9A", "GR\xC9\xC4N\x9F\x8A", "gr\x82\x84n", "GR\x90\x8EN"},
      {1251, "\xE6\xFF\xB8", "\xC6\xDF\xA8", "\xA6\xEF\xF1", "\x86\x9F\xF0"},  // ж я ё
      {1250, "\xF8\xB3", "\xD8\xA3", "\xFD\x88", "\xFC\x9D"},                  // ř ł
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ansiPage);
    ASSERT_TRUE(SelectCodePages(c.ansiPage));
    std::string text = c.ansiLower;
    AnsiUpperCase(text);
    EXPECT_EQ(text, c.ansiUpper);
    AnsiUpperCase(text);
    EXPECT_EQ(text, c.ansiUpper);
    EXPECT_TRUE(AnsiEqualsIgnoreCase(c.ansiLower, c.ansiUpper));

    text = c.oemLower;
    OemUpperCase(text);
    EXPECT_EQ(text, c.oemUpper);
    EXPECT_TRUE(OemEqualsIgnoreCase(c.oemLower, c.oemUpper));
    // The OEM form of an ANSI name folds to the OEM form of its capitals.
    std::string oemOfLower = c.ansiLower.substr(0, c.oemLower.size());
    CharToOem(oemOfLower);
    EXPECT_EQ(oemOfLower, c.oemLower);
  }

  ASSERT_TRUE(SelectCodePages(1252));
  std::string unfoldable = "stra\xDF\xB5\xD7\xF7 az{}";  // ß µ × ÷
  AnsiUpperCase(unfoldable);
  EXPECT_EQ(unfoldable, "STRA\xDF\xB5\xD7\xF7 AZ{}");
  std::string dotless = "\xD5i";  // ı in OEM 850 is not an I
  OemUpperCase(dotless);
  EXPECT_EQ(dotless, "\xD5I");
  EXPECT_FALSE(AnsiEqualsIgnoreCase("stra\xDF", "STRASS"));
  EXPECT_FALSE(AnsiEqualsIgnoreCase("ab", "abc"));
  EXPECT_FALSE(AnsiEqualsIgnoreCase("\xE9", "E"));
  // The bytes of ÿ and Ÿ in 1252 are ˙ and ź in 1250: no pair there.
  EXPECT_TRUE(AnsiEqualsIgnoreCase("\xFF", "\x9F"));
  ASSERT_TRUE(SelectCodePages(1250));
  EXPECT_FALSE(AnsiEqualsIgnoreCase("\xFF", "\x9F"));
}

TEST_F(CodePageTest, PairIsChosenFromTheLocaleName) {
  struct Case {
    const char* locale;
    unsigned ansi;
    unsigned oem;
  };
  const Case cases[] = {
      {"ru_RU.UTF-8", 1251, 866}, {"uk_UA", 1251, 866},       {"bg", 1251, 866},
      {"sr_RS", 1251, 866},       {"sr_RS@latin", 1250, 852}, {"sr_RS.UTF-8@latin", 1250, 852},
      {"pl_PL", 1250, 852},       {"cs_CZ.UTF-8", 1250, 852}, {"hu_HU.ISO-8859-2", 1250, 852},
      {"C", 1252, 850},           {"POSIX", 1252, 850},       {"", 1252, 850},
      {"de_DE.UTF-8", 1252, 850}, {"en_US@euro", 1252, 850},  {"rus", 1252, 850},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    const TCodePages chosen = SelectCodePagesForLocale(c.locale);
    EXPECT_EQ(chosen.ansi, c.ansi);
    EXPECT_EQ(chosen.oem, c.oem);
    EXPECT_EQ(ActiveCodePages().ansi, c.ansi);
    EXPECT_EQ(ActiveCodePages().oem, c.oem);
  }
}

TEST_F(CodePageTest, UnknownAnsiPageLeavesThePairAlone) {
  ASSERT_TRUE(SelectCodePages(1251));
  EXPECT_FALSE(SelectCodePages(437));
  EXPECT_EQ(ActiveCodePages().ansi, 1251u);
  EXPECT_EQ(ActiveCodePages().oem, 866u);
}

TEST_F(CodePageTest, EveryAnsiByteSurvivesTheTripThroughUtf8) {
  for (const unsigned ansi : kAnsiPages) {
    SCOPED_TRACE(ansi);
    ASSERT_TRUE(SelectCodePages(ansi));
    const std::string all = AllBytes();
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  }
}

TEST_F(CodePageTest, AnsiBytesBecomeTheirUnicodeCharacters) {
  ASSERT_TRUE(SelectCodePages(1252));
  EXPECT_EQ(AnsiToUtf8("caf\xE9 \x80"), "caf\u00E9 \u20AC");
  EXPECT_EQ(AnsiToUnicode(0x81), U'\u0081');  // left undefined by the page
  EXPECT_EQ(Utf8ToAnsi("\u0081"), "\x81");
  ASSERT_TRUE(SelectCodePages(1251));
  EXPECT_EQ(AnsiToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2"), "\u041F\u0440\u0438\u0432\u0435\u0442");
  EXPECT_EQ(Utf8ToAnsi("\u041F\u0440\u0438\u0432\u0435\u0442"), "\xCF\xF0\xE8\xE2\xE5\xF2");
  ASSERT_TRUE(SelectCodePages(1250));
  EXPECT_EQ(Utf8ToAnsi("\u0159\u0141"), "\xF8\xA3");
}

TEST_F(CodePageTest, InvalidUtf8AndForeignCharactersBecomeTheReplacement) {
  ASSERT_TRUE(SelectCodePages(1252));
  EXPECT_EQ(Utf8ToAnsi("a\x80z"), "a?z");              // lone continuation byte
  EXPECT_EQ(Utf8ToAnsi("a\xE2\x82z"), "a?z");          // cut-off sequence counts once
  EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");                // cut off at the end
  EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");             // overlong '/'
  EXPECT_EQ(Utf8ToAnsi("\xE0\x80\xAF"), "???");        // overlong '/'
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");        // surrogate
  EXPECT_EQ(Utf8ToAnsi("\xF4\x90\x80\x80"), "????");   // above U+10FFFF
  EXPECT_EQ(Utf8ToAnsi("\xFF\xFE"), "??");             // never valid
  EXPECT_EQ(Utf8ToAnsi("\u65E5\U0001F600."), "??.");   // not in the page
  EXPECT_EQ(Utf8ToAnsi("\u041F\xE2\x82", '_'), "__");  // chosen replacement
  EXPECT_EQ(Utf8ToAnsi(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace pling::platform
