// SPDX-License-Identifier: GPL-3.0-or-later
// The port holder service (pling-holder) on a host of a private LAN (see
// lan_fixture.h), started as systemd starts it: the ports bound for it and
// handed over, the program itself run as an unprivileged account of its own.
// It claims the messenger name of each user whose program waits on it, and none
// for its own account; a program that started before it receives once it runs.
// Where no service manager binds the ports, the same program is the helper a
// user's program starts (--bind), with the capability to bind them.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "lan_fixture.h"
#include "wait_until.h"

namespace pling::testing {
namespace {

// Binds UDP 137 and 138 and TCP 139 as the service's sockets do, hands them over
// as descriptors 3, 4 and 5 (LISTEN_PID, LISTEN_FDS), and runs the program as
// the account `uid`.
constexpr const char* kActivate = R"PY(
import fcntl, os, socket, sys
uid, program = int(sys.argv[1]), sys.argv[2:]
sockets = []
for port in (137, 138):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(('0.0.0.0', port))
    sockets.append(s)
s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
s.bind(('0.0.0.0', 139))
s.listen(64)
sockets.append(s)
high = [fcntl.fcntl(s.fileno(), fcntl.F_DUPFD, 100) for s in sockets]
for i, fd in enumerate(high):
    os.dup2(fd, 3 + i)
os.setgroups([])
os.setgid(uid)
os.setuid(uid)
os.environ['LISTEN_PID'] = str(os.getpid())
os.environ['LISTEN_FDS'] = str(len(sockets))
os.execv(program[0], program)
)PY";

// The service's account, and an ordinary user "carol" on the host called bob
// (her name is not the computer's).
constexpr int kHolderUid = 64990;
constexpr int kUserUid = 64991;
constexpr const char* kHeld = "holds this computer's NetBIOS ports";

class HolderServiceLanTest : public TLanTest {
 protected:
  // The accounts on the hosts called bob, and the test's folder open to them.
  void AddAccounts() {
    std::ofstream(Passwd("bob"), std::ios::app)
        << "pling-holder:x:" << kHolderUid << ":" << kHolderUid
        << "::/nonexistent:/usr/sbin/nologin\n"
        << "carol:x:" << kUserUid << ":" << kUserUid << "::/nonexistent:/bin/sh\n";
    ASSERT_EQ(chmod(Dir().c_str(), 0755), 0);
    std::ofstream(Dir() + "/activate.py") << kActivate;
    const std::string config = Dir() + "/config-bob";
    std::filesystem::create_directories(config);
    ASSERT_EQ(chown(config.c_str(), kUserUid, kUserUid), 0);
  }

  // Carol's `pling-cli listen --verbose` on host `i` (called bob): she may not
  // use the ports.
  TChild& ListenAsCarol(int i) {
    return Listen(i, "bob", "",
                  "PLING_AS=carol setpriv --reuid=" + std::to_string(kUserUid) +
                      " --regid=" + std::to_string(kUserUid) + " --clear-groups");
  }

  // Starts the service on host `i`.
  TChild& StartHolder(int i) {
    TChild& holder = Start(i, "bob",
                           "python3 " + Dir() + "/activate.py " + std::to_string(kHolderUid) + " " +
                               TestProgram("pling-holder"));
    EXPECT_TRUE(holder.WaitForOutput("pling-holder: ")) << holder.Output();
    return holder;
  }
};

// Starts the service on host `host`; the test ends there (skipped) where an
// enabled Samba keeps the ports from it.
#define PLING_START_HOLDER(holder, host)                                          \
  TChild& holder = StartHolder(host);                                             \
  if (holder.Output().find("Samba") != std::string::npos) {                       \
    GTEST_SKIP() << "an enabled Samba keeps the ports from the service; not run"; \
  }                                                                               \
  ASSERT_TRUE(holder.WaitForOutput(kHeld)) << holder.Output()

TEST_F(HolderServiceLanTest, ClaimsTheNameOfEachWaitingUserWhileOneWaitsAndNoneOfItsOwn) {
  PLING_MAKE_LAN(2);
  AddAccounts();
  PLING_START_HOLDER(holder, 2);
  TChild& carol = ListenAsCarol(2);
  ASSERT_TRUE(carol.WaitForReachable()) << carol.Errors();

  std::string output;
  // As a session message the service takes for her name, and confirms.
  EXPECT_EQ(Run(1, "alice", Cli() + " send --verbose carol to the user", 10s, &output), 0)
      << output;
  EXPECT_NE(output.find("which confirmed it"), std::string::npos) << output;
  EXPECT_TRUE(carol.WaitForOutput("ALICE to carol : to the user\n"))
      << carol.Output() << carol.Errors();
  // Nobody is reached by the service's account.
  EXPECT_EQ(Run(1, "alice", Cli() + " send pling-holder to the service", 10s, &output), 1)
      << output;

  // With the user's last program gone, so is her name.
  carol.Stop();
  EXPECT_TRUE(
      WaitUntil([&] { return Run(1, "alice", Cli() + " send carol gone", 10s) == 1; }, 30s, 10ms))
      << holder.Output();
  EXPECT_TRUE(holder.Running()) << holder.Output();
}

TEST_F(HolderServiceLanTest, AListenerStartedBeforeTheServiceReceivesOnceItRuns) {
  PLING_MAKE_LAN(2);
  AddAccounts();
  TChild& carol = ListenAsCarol(2);
  ASSERT_TRUE(WaitUntil(
      [&] { return carol.Errors().find("cannot be received") != std::string::npos; }, 15s))
      << carol.Errors();
  EXPECT_EQ(carol.Errors().find("reachable: "), std::string::npos) << carol.Errors();

  PLING_START_HOLDER(holder, 2);
  // The listener finds the service without being started again.
  ASSERT_TRUE(carol.WaitForReachable(90s)) << carol.Errors() << holder.Output();
  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send carol after the service started", 10s, &output), 0)
      << output;
  EXPECT_TRUE(carol.WaitForOutput("ALICE to carol : after the service started\n"))
      << carol.Output() << carol.Errors();
}

// The processes of `program` in the network namespace of process `near`.
std::vector<pid_t> ProcessesNear(pid_t near, const std::string& program) {
  const auto netns = [](pid_t pid) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/net", error)
        .string();
  };
  const std::string ours = netns(near);
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    // A process that ended and waits to be reaped has no namespace any more.
    if (FileText("/proc/" + name + "/comm") == program + "\n" && netns(pid) == ours &&
        !ours.empty()) {
      found.push_back(pid);
    }
  }
  return found;
}

// A line of /proc/PID/status ("Uid:", "CapEff:", ...), without its name.
std::string StatusLine(pid_t pid, const std::string& key) {
  std::istringstream lines(FileText("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key, 0) == 0) return line.substr(line.find_first_not_of(" \t", key.size()));
  }
  return {};
}

TEST_F(HolderServiceLanTest, WithoutAServiceAUsersProgramStartsTheHelperWhichEndsWithIt) {
  PLING_MAKE_LAN(2);
  AddAccounts();
  // The helper as the package makes it where no systemd runs: runnable by the
  // group (here carol's own), with the capability to bind the ports.
  const std::string helper = Dir() + "/libexec/pling-holder";
  std::filesystem::create_directories(Dir() + "/libexec");
  std::filesystem::copy_file(TestProgram("pling-holder"), helper);
  ASSERT_EQ(chown(helper.c_str(), 0, kUserUid), 0);
  ASSERT_EQ(chmod(helper.c_str(), 0750), 0);
  if (Shell("setcap cap_net_bind_service=ep " + helper) != 0) {
    GTEST_SKIP() << "setcap cannot give the helper its capability here; not run";
  }
  TChild& carol = Listen(2, "bob", "",
                         "PLING_AS=carol PLING_HOLDER_HELPER=" + helper +
                             " setpriv --reuid=" + std::to_string(kUserUid) +
                             " --regid=" + std::to_string(kUserUid) + " --clear-groups");
  ASSERT_TRUE(carol.WaitForReachable()) << carol.Errors();
  EXPECT_EQ(carol.Errors().find("cannot be received"), std::string::npos) << carol.Errors();
  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send carol through the helper", 10s, &output), 0) << output;
  EXPECT_TRUE(carol.WaitForOutput("ALICE to carol : through the helper\n"))
      << carol.Output() << carol.Errors();

  // One helper, carol's, holding no capability any more while it serves.
  const std::vector<pid_t> helpers = ProcessesNear(carol.Pid(), "pling-holder");
  ASSERT_EQ(helpers.size(), 1u) << carol.Errors();
  EXPECT_EQ(StatusLine(helpers[0], "Uid:").substr(0, 5), std::to_string(kUserUid));
  EXPECT_EQ(StatusLine(helpers[0], "CapEff:"), "0000000000000000");
  EXPECT_EQ(StatusLine(helpers[0], "CapPrm:"), "0000000000000000");

  // A helper that dies is started again, and carol is reachable again.
  ASSERT_EQ(kill(helpers[0], SIGKILL), 0);
  EXPECT_TRUE(WaitUntil([&] { return Count(carol.Errors(), "reachable: ") == 2; }, 30s))
      << carol.Errors();
  EXPECT_EQ(Run(1, "alice", Cli() + " send carol again", 10s, &output), 0) << output;
  EXPECT_TRUE(carol.WaitForOutput("ALICE to carol : again\n")) << carol.Output() << carol.Errors();

  // Gone for good (nobody may start it any more), the listener says why it
  // cannot receive; back, it is started again and the listener says so.
  ASSERT_EQ(chmod(helper.c_str(), 0700), 0);
  const std::size_t toldBefore = Count(carol.Errors(), "cannot be received");
  const std::vector<pid_t> second = ProcessesNear(carol.Pid(), "pling-holder");
  ASSERT_EQ(second.size(), 1u) << carol.Errors();
  ASSERT_EQ(kill(second[0], SIGKILL), 0);
  EXPECT_TRUE(
      WaitUntil([&] { return Count(carol.Errors(), "cannot be received") == toldBefore + 1; }, 30s))
      << carol.Errors();
  ASSERT_EQ(chmod(helper.c_str(), 0750), 0);
  EXPECT_TRUE(WaitUntil([&] { return Count(carol.Errors(), "reachable: ") == 3; }, 30s))
      << carol.Errors();

  // It ends with the program that started it.
  const std::vector<pid_t> again = ProcessesNear(carol.Pid(), "pling-holder");
  ASSERT_EQ(again.size(), 1u) << carol.Errors();
  carol.Stop();
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string state = StatusLine(again[0], "State:");
        return state.empty() || state[0] == 'Z';
      },
      15s));
}

}  // namespace
}  // namespace pling::testing
