// SPDX-License-Identifier: GPL-3.0-or-later
// The message rules both front ends follow: the route of a send, the line a
// received message is shown as, and the line-break conversions.
#include "mailslot/message_text.h"

#include <gtest/gtest.h>

#include <string>

namespace pling::mailslot {
namespace {

using namespace std::string_literals;

TEST(MessageText, ARouteNamesTheComputerDirectlyAndTheUserThroughAServer) {
  int asked = 0;
  const auto computer = [&] {
    ++asked;
    return std::string("PC1");
  };
  auto direct = ChooseSendRoute("ann", computer, false, "SRV", "bob");
  ASSERT_TRUE(direct);
  EXPECT_EQ(direct.Value().sender, "PC1");
  EXPECT_EQ(direct.Value().machine, "bob");
  auto served = ChooseSendRoute("ann", computer, true, "SRV", "bob");
  ASSERT_TRUE(served);
  EXPECT_EQ(served.Value().sender, "ann");
  EXPECT_EQ(served.Value().machine, "SRV");
  EXPECT_EQ(asked, 1) << "the computer's name only for a direct message";

  const auto noUser = ChooseSendRoute("", computer, true, "SRV", "bob");
  ASSERT_FALSE(noUser);
  EXPECT_EQ(noUser.Error().text, "User name unkown");
  const auto noComputer = ChooseSendRoute(
      "ann", [] { return std::string(); }, false, "", "bob");
  ASSERT_FALSE(noComputer);
  EXPECT_EQ(noComputer.Error().text, "Computer name unkown");
}

TEST(MessageText, MarkersBreakTheTextIntoLinesWithoutTheHeader) {
  EXPECT_EQ(ReceivedText("ALICE", "BOB", "hello"), "ALICE to BOB : hello");
  EXPECT_EQ(ReceivedText("A", "B", "one\xB6two\xB6"), "one\r\ntwo\r\n");
  EXPECT_EQ(ReceivedText("A", "B", "\xB6"), "\r\n");
  // A line after a marker longer than its limit goes on in further lines.
  const std::string longLine(kMarkerLineLength + 2, 'x');
  EXPECT_EQ(ReceivedText("A", "B", "h\xB6" + longLine),
            "h\r\n" + std::string(kMarkerLineLength, 'x') + "\r\nxx");
}

TEST(MessageText, LineBreaksConvertBothWays) {
  EXPECT_EQ(ToCrLf("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(ToCrLf("\n\n"), "\r\n\r\n");
  EXPECT_EQ(EachLfToCrLf("a\r\nb\n"), "a\r\r\nb\r\n");
  EXPECT_EQ(ToLf("a\rb\nc\r\nd\n\re\n\nf\r\r"), "a\nb\nc\nd\ne\n\nf\n\n");
  EXPECT_EQ(ToLf("\0\r"s), "\0\n"s);
}

}  // namespace
}  // namespace pling::mailslot
