// SPDX-License-Identifier: GPL-3.0-or-later
// Live on a LAN of network namespaces (support/netns-lan): the LAN itself is
// closed and cleaned up; Samba's nmbd answers our name query, and nmblookup finds
// a name our responder holds. Skips, saying why, without root or the programs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_program.h"

namespace {

struct LanRun {
  int status = -1;
  std::string output;
  std::vector<std::string> lines;

  std::string Value(const std::string& key) const {
    for (const auto& line : lines) {
      if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
  }
};

LanRun RunCommand(const std::string& command) {
  const pling::testing::TRunResult result = pling::testing::RunProgram("/bin/sh", {"-c", command});
  LanRun run;
  run.status = result.status;
  run.output = result.out + result.err;
  std::istringstream stream(run.output);
  for (std::string line; std::getline(stream, line);) run.lines.push_back(line);
  return run;
}

LanRun RunOnLan(const std::string& script) {
  const std::string tool = pling::testing::TestProgram("netbios_tool");
  return RunCommand("NETBIOS_TOOL='" + tool + "' '" + PLING_NETNS_LAN +
                    "' --hosts 2 --outside --timeout 60 -- sh '" + PLING_NET_SCRIPTS + "/" +
                    script + "' 2>&1");
}

#define SKIP_IF_UNAVAILABLE(run)                          \
  do {                                                    \
    if ((run).status == 77) GTEST_SKIP() << (run).output; \
  } while (false)

// The LAN has no way out, gives each host its own name, and is gone afterwards
// even when the command fails and leaves a program running on a host.
TEST(LanPeersTest, IsClosedNamesItsHostsAndIsRemovedAfterAFailure) {
  const LanRun run =
      RunCommand(std::string("'") + PLING_NETNS_LAN +
                 "' --hosts 3 --names alice,bob --outside --timeout 30 -- sh -c '"
                 "echo run=$NETNS_LAN_RUN; "
                 "for i in 1 2 3; do echo name$i=$($NETNS_LAN_EXEC $i hostname); done; "
                 "$NETNS_LAN_EXEC 2 ip -4 route | sed s/^/route=/; "
                 "$NETNS_LAN_EXEC 3 sleep 60 & exit 3' 2>&1");
  SKIP_IF_UNAVAILABLE(run);
  EXPECT_EQ(run.status, 3) << run.output;
  const std::string number = run.Value("run");
  ASSERT_FALSE(number.empty()) << run.output;
  EXPECT_EQ(run.Value("name1"), "alice");
  EXPECT_EQ(run.Value("name2"), "bob");
  EXPECT_EQ(run.Value("name3"), "lanhost3");
  int routes = 0;
  for (const auto& line : run.lines) {
    if (line.rfind("route=", 0) != 0) continue;
    ++routes;
    EXPECT_EQ(line.rfind("route=10.99." + number + ".0/24 dev eth0", 0), 0u) << line;
  }
  EXPECT_EQ(routes, 1) << run.output;

  const LanRun left = RunCommand("ip netns list");
  EXPECT_EQ(left.output.find("pling-lan" + number + "-"), std::string::npos) << left.output;
}

TEST(LanPeersTest, NmbdAnswersOurBroadcastQueryWithItsAddress) {
  const LanRun run = RunOnLan("lan_nmbd.sh");
  SKIP_IF_UNAVAILABLE(run);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string address = run.Value("nmbd_address");
  ASSERT_FALSE(address.empty()) << run.output;
  // answer=IP group=0|1 ttl=T name=NAME<xx> from=IP:PORT, read with our parser.
  const std::string answer = run.Value("answer");
  ASSERT_FALSE(answer.empty()) << "nmbd did not answer:\n" << run.output;
  std::istringstream fields(answer);
  std::string ip, group, ttl, name, from;
  fields >> ip >> group >> ttl >> name >> from;
  EXPECT_EQ(ip, address);
  EXPECT_EQ(group, "group=0");
  EXPECT_EQ(name, "name=NMBDHOST<00>");
  EXPECT_EQ(from, "from=" + address + ":137");
  EXPECT_NE(ttl, "ttl=0");
}

TEST(LanPeersTest, NmblookupFindsTheNameOurResponderHolds) {
  const LanRun run = RunOnLan("lan_nmblookup.sh");
  SKIP_IF_UNAVAILABLE(run);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string address = run.Value("responder_address");
  ASSERT_FALSE(address.empty()) << run.output;
  bool found = false;
  bool answered = false;
  for (const auto& line : run.lines) {
    found = found || line == "nmblookup=" + address + " PLINGHOST<03>";
    answered = answered || line.rfind("responder=answered=", 0) == 0;
  }
  EXPECT_TRUE(found) << run.output;
  EXPECT_TRUE(answered) << run.output;
}

}  // namespace
