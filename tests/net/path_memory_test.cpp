// SPDX-License-Identifier: GPL-3.0-or-later
// The memory of machines whose session port did not answer.
#include "net/path_memory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "files.h"
#include "net/session_client.h"
#include "net/silence_board.h"

namespace pling::net {
namespace {

using namespace std::chrono_literals;

TEST(PathMemoryTest, ASilentSessionPortIsSkippedForAWhileAndOnlyOnThatMachine) {
  // Shared with the user's other programs through a board.
  const std::string board =
      std::filesystem::temp_directory_path() / pling::testing::UniqueName("pling-paths-");
  TPathMemory paths(board);
  const TPathMemory::TClock::time_point t0{};
  const std::uint32_t silent = 0x0A000002, other = 0x0A000003, refusing = 0x0A000004;
  EXPECT_TRUE(paths.SessionWorthTrying(silent, t0));
  // Failed after waiting the connection's whole time: remembered.
  paths.SessionTried(silent, false, t0, t0 + kSessionConnectTime);
  // Failed at once (refused): costs little, tried again next time.
  paths.SessionTried(refusing, false, t0, t0 + 2ms);
  const auto t1 = t0 + kSessionConnectTime + 1ms;
  EXPECT_FALSE(paths.SessionWorthTrying(silent, t1));
  EXPECT_TRUE(paths.SessionWorthTrying(other, t1));
  EXPECT_TRUE(paths.SessionWorthTrying(refusing, t1));
  EXPECT_FALSE(TPathMemory(board).SessionWorthTrying(silent, t1)) << "another program";
  EXPECT_TRUE(TPathMemory(board).SessionWorthTrying(refusing, t1));
  // The memory expires: the machine may have opened its port since.
  const auto expired = t0 + kSessionConnectTime + kSilentPathLifetime;
  EXPECT_FALSE(paths.SessionWorthTrying(silent, expired - 1ms));
  EXPECT_TRUE(paths.SessionWorthTrying(silent, expired));
  // Silent again, then answering: a session that was taken clears the memory.
  paths.SessionTried(silent, false, expired, expired + kSessionExchangeTime);
  EXPECT_FALSE(paths.SessionWorthTrying(silent, expired + kSessionExchangeTime + 1s));
  EXPECT_FALSE(TPathMemory(board).SessionWorthTrying(silent, expired + kSessionExchangeTime + 1s));
  paths.SessionTried(silent, true, expired, expired + 5ms);
  EXPECT_TRUE(paths.SessionWorthTrying(silent, expired + kSessionExchangeTime + 1s));
  EXPECT_TRUE(TPathMemory(board).SessionWorthTrying(silent, expired + kSessionExchangeTime + 1s));
  std::filesystem::remove(board);
}

// A board is read line by line; what does not read as an entry, and an entry
// too far ahead (the file outlived a restart) or long over, is no silence.
TEST(PathMemoryTest, ABoardTakesOnlyWellFormedEntriesOfThisRunOfTheMachine) {
  const TSilenceBoard::TClock::time_point now{std::chrono::hours(5)};
  const long long nowMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const auto at = [&](long long ms) { return std::to_string(nowMs + ms); };
  const std::string text = "wins:A " + at(30000) + " 60\n" +    // taken
                           "wins:B " + at(601000) + " 60\n" +   // too far ahead
                           "wins:C " + at(-601000) + " 60\n" +  // long over
                           "wins:D " + at(-1000) + " 120\n" +   // over, its next kept
                           "wins:E " + at(1000) + " -5\n" +     // no such next
                           "wins:F " + at(1000) + " 60 x\n" +   // more than an entry
                           "wins:G" + at(1000) + "\n" + " " + at(1000) + " 5\n" + "path:10.0.0.1 " +
                           at(5000) + " 120";  // no line end: still one
  const TSilences read = ReadSilences(text, now);
  EXPECT_EQ(read.size(), 3u) << WriteSilences(read);
  EXPECT_EQ(read.at("wins:A").next, std::chrono::seconds(60));
  EXPECT_EQ(read.at("wins:D").until, now - std::chrono::seconds(1));
  EXPECT_EQ(read.at("path:10.0.0.1").until, now + std::chrono::seconds(5));
  EXPECT_EQ(ReadSilences(WriteSilences(read), now), read);
}

TEST(PathMemoryTest, ManySilentMachinesKeepTheMemoryBoundedAndTheNewestRemembered) {
  TPathMemory paths;
  const TPathMemory::TClock::time_point t0{};
  for (std::uint32_t i = 0; i < 5000; ++i) {
    const auto began = t0 + std::chrono::milliseconds(i);
    paths.SessionTried(i, false, began, began + kSessionConnectTime);
  }
  const auto now = t0 + 5000ms + kSessionConnectTime;
  EXPECT_FALSE(paths.SessionWorthTrying(4999, now));
  EXPECT_TRUE(paths.SessionWorthTrying(0, now)) << "the oldest made room";
}

}  // namespace
}  // namespace pling::net
