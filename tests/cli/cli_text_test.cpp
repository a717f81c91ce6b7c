// SPDX-License-Identifier: GPL-3.0-or-later
// What pling-cli prints of a message: nothing in it may drive the terminal, JSON
// stays valid, and line breaks from standard input become CR LF.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "cli.h"
#include "platform/codepage.h"

namespace pling::cli {
namespace {

using namespace std::string_literals;

class CliText : public ::testing::Test {
 protected:
  void SetUp() override { platform::SelectCodePages(1252); }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(CliText, TerminalLinesEscapeEverythingThatCouldControlIt) {
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  EXPECT_EQ(EscapeForTerminal("a\r\nb\tc\\d"), "a\\r\\nb\\tc\\\\d");
  EXPECT_EQ(EscapeForTerminal("\x1b]0;title\x07\x7f"), "\\x1B]0;title\\x07\\x7F");
  // 0x81 has no character in this code page; 0x9B is a printable quotation mark.
  EXPECT_EQ(EscapeForTerminal("\x81\x9b"), "\\x81\xE2\x80\xBA");
  EXPECT_EQ(EscapeForTerminal("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(EscapeForTerminal(""), "");
  // Outside a UTF-8 terminal, bytes above ASCII are shown by value.
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(EscapeForTerminal("caf\xE9\n"), "caf\\xE9\\n");
}

TEST_F(CliText, JsonStringsAreValidUtf8WithEscapes) {
  EXPECT_EQ(JsonString("say \"hi\"\\"), R"("say \"hi\"\\")");
  EXPECT_EQ(JsonString("a\r\n\x01"), R"("a\u000D\u000A\u0001")");
  EXPECT_EQ(JsonString("caf\xE9 \x80"), "\"caf\xC3\xA9 \xE2\x82\xAC\"");  // é and €
  EXPECT_EQ(JsonString("\x81"), R"("\u0081")");
}

TEST_F(CliText, OtherTerminalCodeSetsAreConvertedWithReplacements) {
  EXPECT_EQ(ConvertCodeset("caf\xC3\xA9", "UTF-8", "ISO-8859-1"), "caf\xE9");
  EXPECT_EQ(ConvertCodeset("caf\xE9", "ISO-8859-1", "UTF-8"), "caf\xC3\xA9");
  // The euro sign has no place in Latin-1; a broken sequence is one character.
  EXPECT_EQ(ConvertCodeset("1\xE2\x82\xAC=\xC3(", "UTF-8", "ISO-8859-1"), "1?=?(");
  EXPECT_FALSE(ConvertCodeset("x", "UTF-8", "NO-SUCH-CODESET").has_value());
}

TEST_F(CliText, HexBytes) {
  EXPECT_EQ(HexBytes("PC1\0PC2\0Hi"s), "50 43 31 00 50 43 32 00 48 69");
  EXPECT_EQ(HexBytes(""), "");
}

}  // namespace
}  // namespace pling::cli
