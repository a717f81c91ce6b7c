// Name service against Samba's own programs, live on a LAN of network
// namespaces (support/netns-lan): nmbd answers our query, and nmblookup finds a
// name our responder holds. Skips, saying why, without root or the programs.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

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

LanRun RunOnLan(const std::string& script) {
  const char* bin = std::getenv("PLING_TEST_BIN");
  const std::string tool = std::string(bin != nullptr ? bin : ".") + "/netbios_tool";
  const std::string command = "NETBIOS_TOOL='" + tool + "' '" + PLING_NETNS_LAN +
                              "' --hosts 2 --outside --timeout 60 -- sh '" + PLING_NET_SCRIPTS +
                              "/" + script + "' 2>&1";
  LanRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream stream(run.output);
  for (std::string line; std::getline(stream, line);) run.lines.push_back(line);
  return run;
}

#define SKIP_IF_UNAVAILABLE(run)                          \
  do {                                                    \
    if ((run).status == 77) GTEST_SKIP() << (run).output; \
  } while (false)

TEST(LanPeers, NmbdAnswersOurBroadcastQueryWithItsAddress) {
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

TEST(LanPeers, NmblookupFindsTheNameOurResponderHolds) {
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
