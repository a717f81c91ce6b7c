// SPDX-License-Identifier: GPL-3.0-or-later
// The transport's pieces that need no network: the workgroup from the Samba
// configuration, the name cache's lifetimes, and what a write refuses before
// anything is sent.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "files.h"
#include "net/interfaces.h"
#include "net/name_packets.h"
#include "net/netbios.h"
#include "net/resolver.h"
#include "net/transport.h"
#include "net/wins.h"
#include "net/workgroup.h"
#include "platform/mailslot_service.h"
#include "platform/network.h"

namespace pling::net {
namespace {

TEST(TransportUnitTest, TakesTheGlobalSectionsWorkgroupOnly) {
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

// The status line says that session messages come through Samba only when
// Samba's own [global] message command hands them to `pling-cli deliver`.
TEST(TransportUnitTest, SessionMessagesComeThroughSambaOnlyWhenItsGlobalMessageCommandDelivers) {
  const std::string path =
      std::filesystem::temp_directory_path() / pling::testing::UniqueName("pling-smb-");
  const auto delivers = [&path](const std::string& text) {
    std::ofstream(path) << text;
    return SambaDeliversMessages(path);
  };
  EXPECT_TRUE(
      delivers("[global]\n  message command = /usr/bin/pling-cli deliver --from %f %s &\n"));
  EXPECT_FALSE(delivers("[global]\n; message command = pling-cli deliver %s\n"));
  EXPECT_FALSE(delivers("[global]\n[share]\n  message command = pling-cli deliver %s\n"));
  EXPECT_FALSE(delivers("[global]\n  message command = mail -s message root < %s\n"));
  // What the window asks: the configuration the environment names.
  delivers("[global]\n  Message_Command = pling-cli deliver --from %f --to %t %s\n");
  ::setenv("PLING_SMB_CONF", path.c_str(), 1);
  EXPECT_TRUE(platform::SessionMessagesThroughSamba());
  ::setenv("PLING_SMB_CONF", "/nonexistent/smb.conf", 1);
  EXPECT_FALSE(platform::SessionMessagesThroughSamba());
  ::unsetenv("PLING_SMB_CONF");
  std::filesystem::remove(path);
}

TEST(TransportUnitTest, KeepsAnswersForTheirLifetimeAndUnknownNamesShorter) {
  TNameCache cache;
  const auto start = TNameCache::TClock::now();
  const TResolved bob{0x0A000002, TNetBiosName::Make("BOB", 0x03)};
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

// Answers a node status query with a stray answer (another query's id) first,
// then, when `answer` is set, with the machine's own; nothing else.
class TStatusPeer final : public INameQueryChannel {
 public:
  explicit TStatusPeer(bool answer) : FAnswer(answer) {}
  void Send(const std::string& packet, std::uint32_t address) override {
    sent.push_back({packet, address});
    const auto query = ParseStatusQuery(packet);
    if (!query) return;
    FPending.push_back(BuildStatusAnswer({static_cast<std::uint16_t>(query->id + 1),
                                          query->name,
                                          {{TNetBiosName::Make("STRAY", 0x03), false}}}));
    if (FAnswer) {
      FPending.push_back(BuildStatusAnswer({query->id,
                                            query->name,
                                            {{TNetBiosName::Make("OFFICE", 0x03), true},
                                             {TNetBiosName::Make("BOB", 0x00), false},
                                             {TNetBiosName::Make("BOB", 0x03), false}}}));
    }
  }
  std::optional<std::string> Receive(std::chrono::steady_clock::time_point until) override {
    if (FPending.empty()) {
      std::this_thread::sleep_until(until);
      return std::nullopt;
    }
    std::string packet = FPending.front();
    FPending.erase(FPending.begin());
    return packet;
  }
  std::vector<std::pair<std::string, std::uint32_t>> sent;

 private:
  bool FAnswer;
  std::vector<std::string> FPending;
};

TEST(TransportUnitTest, AsksTheAddressAndTakesOnlyItsOwnAnswer) {
  TStatusPeer bob(true);
  EXPECT_EQ(QueryNodeStatus(0x0A000002, bob), TNetBiosName::Make("BOB", 0x03));
  ASSERT_EQ(bob.sent.size(), 1u);
  EXPECT_EQ(bob.sent[0].second, 0x0A000002u);
  EXPECT_EQ(ParseStatusQuery(bob.sent[0].first)->name, TNetBiosName::Broadcast());

  // Nobody there: three tries, then not found.
  TStatusPeer silent(false);
  EXPECT_FALSE(QueryNodeStatus(0x0A000003, silent));
  EXPECT_EQ(silent.sent.size(), static_cast<std::size_t>(kQueryTries));
}

// Two name servers: the first never answers, the second knows every messenger name.
class TServerPair final : public INameQueryChannel {
 public:
  static constexpr std::uint32_t kFirst = 0x0A000101, kSecond = 0x0A000201;
  explicit TServerPair(std::vector<std::uint32_t>& asked) : FAsked(asked) {}
  void Send(const std::string& packet, std::uint32_t address) override {
    FAsked.push_back(address);
    const auto query = ParseNameQuery(packet);
    if (address == kSecond && query && query->name.Suffix() == 0x03) {
      FPending.push_back(BuildNameAnswer({query->id, query->name, false, 300, 0x0A000309}));
    }
  }
  std::optional<std::string> Receive(std::chrono::steady_clock::time_point until) override {
    if (FPending.empty()) {
      std::this_thread::sleep_until(until);
      return std::nullopt;
    }
    std::string packet = FPending.front();
    FPending.erase(FPending.begin());
    return packet;
  }

 private:
  std::vector<std::uint32_t>& FAsked;
  std::vector<std::string> FPending;
};

// `wins server = A B`: B is asked when A is silent, and A, once silent, is left
// out of the next look-ups for a while instead of costing each of them its wait,
// also by the user's other programs (a resolver of their own, sharing a board).
TEST(TransportUnitTest, NameServersAreAskedInOrderAndASilentOneIsRemembered) {
  const std::filesystem::path board =
      std::filesystem::temp_directory_path() / pling::testing::UniqueName("pling-silent-");
  std::vector<std::uint32_t> asked;
  TResolver resolver;
  resolver.SetChannelFactory([&asked] { return std::make_unique<TServerPair>(asked); });
  resolver.SetNameServer("10.0.1.1, 10.0.2.1");
  resolver.ShareSilences(board);
  const auto bob = resolver.Resolve("BOB");
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->address, 0x0A000309u);
  EXPECT_EQ(bob->name, TNetBiosName::Make("BOB", 0x03));
  EXPECT_EQ(std::count(asked.begin(), asked.end(), TServerPair::kFirst), 2 * kServerQueryTries);
  asked.clear();
  const auto carol = resolver.Resolve("CAROL");
  ASSERT_TRUE(carol);
  EXPECT_EQ(asked, std::vector<std::uint32_t>(asked.size(), TServerPair::kSecond));

  asked.clear();
  TResolver other;
  other.SetChannelFactory([&asked] { return std::make_unique<TServerPair>(asked); });
  other.SetNameServer("10.0.1.1, 10.0.2.1");
  other.ShareSilences(board);
  ASSERT_TRUE(other.Resolve("DAVE"));
  EXPECT_FALSE(asked.empty());
  EXPECT_EQ(asked, std::vector<std::uint32_t>(asked.size(), TServerPair::kSecond));
  std::filesystem::remove(board);
}

TEST(TransportUnitTest, OneBroadcastTargetPerSubnetWithAnAddressOnIt) {
  const std::vector<TInterface> all{
      {"lo", 0x7F000001, 0xFF000000, 0, true},
      {"eth0", 0x0A000001, 0xFFFFFF00, 0x0A0000FF, false},
      {"eth0", 0x0A000002, 0xFFFFFF00, 0x0A0000FF, false},  // a second address there
      {"eth1", 0xC0A80105, 0xFFFF0000, 0xC0A8FFFF, false},
      {"tun0", 0x0A080001, 0xFFFFFFFF, 0, false},  // point to point: no broadcast
      // Set without a broadcast address, which the system then reports as the address.
      {"eth2", 0x0A600103, 0xFFFFFF00, 0x0A600103, false},
      {"eth1", 0xC0A80206, 0xFFFF0000, 0xC0A8FFFF, false},
  };
  const std::vector<TInterface> targets = BroadcastInterfaces(all);
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].broadcast, 0x0A0000FFu);
  EXPECT_EQ(targets[0].address, 0x0A000001u);
  EXPECT_EQ(targets[1].broadcast, 0xC0A8FFFFu);
  EXPECT_EQ(targets[1].address, 0xC0A80105u);
}

TEST(TransportUnitTest, RefusesWhatCannotGoBeforeSendingAnything) {
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
TEST(TransportUnitTest, IsOffForTestProgramsWhateverTheSetting) {
  const char* value = std::getenv("PLING_NETWORK");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "off");
  SetNetworkEnabled(true);
  EXPECT_FALSE(NetworkEnabled());
  EXPECT_EQ(NetworkReceiveProblem(), "");
}

// A write that must look its name up runs beside the window's wait; one that
// goes out at once (a cached name, a workgroup) never enters it. Run in a child
// process in an empty network namespace of its own, the only place where the
// transport may be on here: it has no interface, so nothing can leave.
TEST(TransportUnitTest, WindowWaitsOnlyWhileANameIsLookedUp) {
  if (geteuid() != 0) GTEST_SKIP() << "an own network namespace needs root; not run";
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    setenv("PLING_NETWORK", "on", 1);
    int waits = 0;
    bool served = true;
    SetNetworkWait(TNetworkWait{[&] { return served; },
                                [&](const std::function<bool()>& done) {
                                  ++waits;
                                  while (!done()) usleep(1000);
                                }});
    const auto write = [](const char* path) {
      const HANDLE file = CreateFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0);
      if (file == INVALID_HANDLE_VALUE) return DWORD{1000};
      DWORD written = 0;
      const bool ok = WriteFile(file, "x", 1, &written);
      const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
      CloseHandle(file);
      return error;
    };
    // Unknown here: looked up while the window waits, and the failure comes back.
    if (write("\\\\NOSUCHNAME\\mailslot\\messngr") != ERROR_BAD_NETPATH || waits != 1) _exit(1);
    // Now cached as unknown: fails at once, no wait.
    if (write("\\\\NOSUCHNAME\\mailslot\\messngr") != ERROR_BAD_NETPATH || waits != 1) _exit(2);
    // A workgroup write needs no lookup (and reaches no one here).
    write("\\\\*\\mailslot\\messngr");
    if (waits != 1) _exit(3);
    // A thread that serves no window blocks instead.
    served = false;
    if (write("\\\\OTHERNAME\\mailslot\\messngr") != ERROR_BAD_NETPATH || waits != 1) _exit(4);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot make a network namespace; not run";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "step " << WEXITSTATUS(status) << " failed";
}

#if defined(__SANITIZE_ADDRESS__)
#define PLING_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLING_ADDRESS_SANITIZER 1
#endif
#endif

// A mailslot opens, and works on this machine, when the thread that receives from
// the network cannot be started; the reason is told, its name is not left taken,
// and a later opening starts receiving. Run in a child process in an empty network
// namespace, with an address space too small for a thread's stack.
TEST(TransportUnitTest, MailslotOpensWhenTheReceivingThreadCannotStart) {
#ifdef PLING_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than this leaves; not run";
#endif
  if (geteuid() != 0) GTEST_SKIP() << "an own network namespace needs root; not run";
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    alarm(30);  // a hang fails the test
    // The mailslot service and its thread first, with the transport off.
    setenv("PLING_NETWORK", "off", 1);
    const HANDLE first = CreateMailslot("\\\\.\\mailslot\\first", 0, 0);
    if (first == INVALID_HANDLE_VALUE) _exit(1);
    setenv("PLING_NETWORK", "on", 1);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    rlimit tight = old;
    tight.rlim_cur =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (256u << 10);
    if (setrlimit(RLIMIT_AS, &tight) != 0) _exit(78);
    HANDLE slot = CreateMailslot("\\\\.\\mailslot\\netless", 0, 1000);
    const std::string problem = NetworkReceiveProblem();
    setrlimit(RLIMIT_AS, &old);
    if (slot == INVALID_HANDLE_VALUE) _exit(2);
    if (problem.find("cannot be received: the thread that receives them cannot be started") ==
        std::string::npos) {
      _exit(3);
    }
    const HANDLE file =
        CreateFile("\\\\.\\mailslot\\netless", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0);
    DWORD written = 0, read = 0;
    char buffer[8] = {};
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, "x", 1, &written)) _exit(4);
    CloseHandle(file);
    if (!ReadFile(slot, buffer, sizeof buffer, &read) || read != 1 || buffer[0] != 'x') _exit(5);
    CloseHandle(slot);
    slot = CreateMailslot("\\\\.\\mailslot\\netless", 0, 0);
    if (slot == INVALID_HANDLE_VALUE) _exit(6);
    if (!NetworkReceiveProblem().empty()) _exit(7);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot make a network namespace; not run";
  if (WEXITSTATUS(status) == 78) GTEST_SKIP() << "cannot limit the address space; not run";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "step " << WEXITSTATUS(status) << " failed";
}

}  // namespace
}  // namespace pling::platform
