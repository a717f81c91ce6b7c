// SPDX-License-Identifier: GPL-3.0-or-later
// The port holder service (pling-holder) on a host of a private LAN (see
// lan_fixture.h), started as systemd starts it: the ports bound for it and
// handed over, the program itself run as an unprivileged account of its own.
// It claims the messenger name of each user whose program waits on it, and none
// for its own account; a program that started before it receives once it runs.
#include <sys/stat.h>
#include <unistd.h>

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

// The service's account, and an ordinary user "bob" (beside the superuser, who
// is called bob on that host too).
constexpr int kHolderUid = 64990;
constexpr int kUserUid = 64991;
constexpr const char* kHeld = "holds this computer's NetBIOS ports";

class HolderServiceLanTest : public TLanTest {
 protected:
  // The accounts on the hosts named "bob", and the test's folder open to them.
  void AddAccounts() {
    std::ofstream(Passwd("bob"), std::ios::app)
        << "pling-holder:x:" << kHolderUid << ":" << kHolderUid
        << "::/nonexistent:/usr/sbin/nologin\n"
        << "bob:x:" << kUserUid << ":" << kUserUid << "::/nonexistent:/bin/sh\n";
    ASSERT_EQ(chmod(Dir().c_str(), 0755), 0);
    std::ofstream(Dir() + "/activate.py") << kActivate;
  }

  // Starts the service on host `i`; the test ends (skipped) where an enabled
  // Samba keeps the ports from it.
  TChild& StartHolder(int i) {
    TChild& holder = Start(i, "bob",
                           "python3 " + Dir() + "/activate.py " + std::to_string(kHolderUid) + " " +
                               TestProgram("pling-holder"));
    EXPECT_TRUE(holder.WaitForOutput("pling-holder: ")) << holder.Output();
    return holder;
  }
};

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
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(bob.WaitForReachable()) << bob.Errors();

  std::string output;
  // As a session message the service takes for the user's name, and confirms.
  EXPECT_EQ(Run(1, "alice", Cli() + " send --verbose bob to the user", 10s, &output), 0) << output;
  EXPECT_NE(output.find("which confirmed it"), std::string::npos) << output;
  EXPECT_TRUE(bob.WaitForOutput("ALICE to bob : to the user\n")) << bob.Output() << bob.Errors();
  // Nobody is reached by the service's account.
  EXPECT_EQ(Run(1, "alice", Cli() + " send pling-holder to the service", 10s, &output), 1)
      << output;

  // With the user's last program gone, so is the name.
  bob.Stop();
  EXPECT_TRUE(
      WaitUntil([&] { return Run(1, "alice", Cli() + " send bob gone", 10s) == 1; }, 30s, 10ms))
      << holder.Output();
  EXPECT_TRUE(holder.Running()) << holder.Output();
}

TEST_F(HolderServiceLanTest, AListenerStartedBeforeTheServiceReceivesOnceItRuns) {
  PLING_MAKE_LAN(2);
  AddAccounts();
  const std::string config = Dir() + "/config-bob";
  std::filesystem::create_directories(config);
  ASSERT_EQ(chown(config.c_str(), kUserUid, kUserUid), 0);
  // An ordinary user's listener: it may not use the ports.
  TChild& bob = Listen(2, "bob", "",
                       "PLING_AS=bob setpriv --reuid=" + std::to_string(kUserUid) +
                           " --regid=" + std::to_string(kUserUid) + " --clear-groups");
  ASSERT_TRUE(
      WaitUntil([&] { return bob.Errors().find("cannot be received") != std::string::npos; }, 15s))
      << bob.Errors();
  EXPECT_EQ(bob.Errors().find("reachable: "), std::string::npos) << bob.Errors();

  PLING_START_HOLDER(holder, 2);
  // The listener finds the service without being started again.
  ASSERT_TRUE(bob.WaitForReachable(90s)) << bob.Errors() << holder.Output();
  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob after the service started", 10s, &output), 0)
      << output;
  EXPECT_TRUE(bob.WaitForOutput("ALICE to bob : after the service started\n"))
      << bob.Output() << bob.Errors();
}

}  // namespace
}  // namespace pling::testing
