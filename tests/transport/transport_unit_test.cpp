// The transport's pieces that need no network: the workgroup from the Samba
// configuration, the name cache's lifetimes, and what a write refuses before
// anything is sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/netbios.h"
#include "net/resolver.h"
#include "net/transport.h"
#include "net/workgroup.h"
#include "platform/network.h"

namespace pling::net {
namespace {

TEST(TransportWorkgroup, TakesTheGlobalSectionsWorkgroupOnly) {
  EXPECT_EQ(ParseWorkgroup("[global]\n   workgroup = Office\n"), "Office");
  // Other sections, comments and other parameters do not count; the last
  // global value wins; names ignore case, spaces and underscores.
  EXPECT_EQ(ParseWorkgroup("; workgroup = COMMENT\n"
                           "[Global]\n"
                           "  # workgroup = HASH\n"
                           "  server string = workgroup = NO\n"
                           "  Work_Group = FIRST\n"
                           "[homes]\n"
                           "  workgroup = SHARE\n"
                           "[ global ]\r\n"
                           "  WORKGROUP = \\\n"
                           "   LAST\r\n"),
            "LAST");
  EXPECT_EQ(ParseWorkgroup("workgroup = BEFORESECTIONS\n[printers]\n"), "BEFORESECTIONS");
  EXPECT_EQ(ParseWorkgroup("[homes]\nworkgroup = X\n"), "");
  EXPECT_EQ(ReadWorkgroup("/nonexistent/smb.conf"), "WORKGROUP");
}

TEST(TransportNameCache, KeepsAnswersForTheirLifetimeAndUnknownNamesShorter) {
  TNameCache cache;
  const auto start = TNameCache::TClock::now();
  const TResolved bob{0x0A000002, NetBiosName::Make("BOB", 0x03)};
  cache.Store("BOB", bob, start);
  cache.Store("NOBODY", std::nullopt, start);
  EXPECT_FALSE(cache.Lookup("CAROL", start).has_value());

  const auto beforeNegativeEnds = start + kNegativeLifetime - std::chrono::seconds(1);
  ASSERT_TRUE(cache.Lookup("BOB", beforeNegativeEnds).has_value());
  EXPECT_EQ(*cache.Lookup("BOB", beforeNegativeEnds), bob);
  const auto unknown = cache.Lookup("NOBODY", beforeNegativeEnds);
  ASSERT_TRUE(unknown.has_value());
  EXPECT_FALSE(unknown->has_value());

  const auto afterNegative = start + kNegativeLifetime;
  EXPECT_FALSE(cache.Lookup("NOBODY", afterNegative).has_value());
  EXPECT_TRUE(cache.Lookup("BOB", afterNegative).has_value());
  EXPECT_FALSE(cache.Lookup("BOB", start + kPositiveLifetime).has_value());
  // A new answer replaces the old one.
  cache.Store("BOB", std::nullopt, start);
  EXPECT_FALSE(cache.Lookup("BOB", start)->has_value());
}

TEST(TransportSend, RefusesWhatCannotGoBeforeSendingAnything) {
  int delivered = 0;
  TTransportConfig config;
  config.computerName = "ALICE";
  config.userName = "ALICE";
  config.workgroup = "WORKGROUP";
  config.deliverLocal = [&](std::string_view, std::string_view) {
    ++delivered;
    return true;
  };
  // Ports nobody uses: even were something sent, it would reach no one.
  config.datagramPort = 9;
  config.namePort = 9;
  TTransport transport(config);
  const std::string longest(kMaxMailslotData, 'x');
  EXPECT_EQ(transport.Send("*", "MESSNGR", longest + "y"), TSendResult::TooLong);
  EXPECT_EQ(transport.Send("BOB", "MESSNGR", longest + "y"), TSendResult::TooLong);
  EXPECT_EQ(transport.Send("SIXTEENCHARACTER*", "MESSNGR", "x"), TSendResult::BadName);
  EXPECT_EQ(transport.Send("A*B", "MESSNGR", "x"), TSendResult::BadName);
  EXPECT_EQ(transport.Send("", "MESSNGR", "x"), TSendResult::BadName);
  EXPECT_EQ(delivered, 0);
}

}  // namespace
}  // namespace pling::net

namespace pling::platform {
namespace {

// The test programs run with the transport off (tests/support/network-off and
// isolated-netns): were it on here, a test's mailslot would bind the host's ports.
TEST(TransportSwitch, IsOffForTestProgramsWhateverTheSetting) {
  const char* value = std::getenv("PLING_NETWORK");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "off");
  SetNetworkEnabled(true);
  EXPECT_FALSE(NetworkEnabled());
  EXPECT_EQ(NetworkReceiveProblem(), "");
}

}  // namespace
}  // namespace pling::platform
