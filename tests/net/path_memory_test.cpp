// SPDX-License-Identifier: GPL-3.0-or-later
// The memory of machines whose session port did not answer.
#include "net/path_memory.h"

#include <gtest/gtest.h>

#include "net/session_client.h"

namespace pling::net {
namespace {

using namespace std::chrono_literals;

TEST(PathMemoryTest, ASilentSessionPortIsSkippedForAWhileAndOnlyOnThatMachine) {
  TPathMemory paths;
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
  // The memory expires: the machine may have opened its port since.
  const auto expired = t0 + kSessionConnectTime + kSilentPathLifetime;
  EXPECT_FALSE(paths.SessionWorthTrying(silent, expired - 1ms));
  EXPECT_TRUE(paths.SessionWorthTrying(silent, expired));
  // Silent again, then answering: a session that was taken clears the memory.
  paths.SessionTried(silent, false, expired, expired + kSessionExchangeTime);
  EXPECT_FALSE(paths.SessionWorthTrying(silent, expired + kSessionExchangeTime + 1s));
  paths.SessionTried(silent, true, expired, expired + 5ms);
  EXPECT_TRUE(paths.SessionWorthTrying(silent, expired + kSessionExchangeTime + 1s));
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
