// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hosts on a private LAN for the network tests: a bridge in a network namespace
// of its own and one namespace per host joined to it by a veth pair, with
// addresses 10.98.<run>.<host>/24. Nothing reaches the host's own network. Each
// fixture picks a run number that no other run holds (the bridge namespace's name
// is the claim), so tests may run in parallel; everything is removed afterwards.
// Programs run in a host with its own host name (a UTS namespace), as a user of
// that name (the superuser under the host's name, so that two hosts do not both
// claim ROOT<03>), and with the transport switched on there; everywhere else it
// stays off. Hosts claim their names with 20 ms between the broadcasts instead of
// 250 ms (PLING_NAME_RETRY_MS), so that a host answers for its names soon after
// its ports are bound; a command may set it back.
//
// Nothing outlives the test, however its process ends. At the end of a test the
// fixture kills every process still in its namespaces (daemons that left the
// process group they were started in, and whatever they forked, included), by
// process id, and deletes the namespaces and its folder. Should the test's
// process end before that (a signal, or killed outright on a time-out), a small
// watcher process does the same as soon as it sees the test's process gone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "logged_child.h"
#include "test_program.h"

namespace pling::testing {

using namespace std::chrono_literals;

// How often `needle` occurs in `text`, without overlaps.
inline std::size_t Count(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

inline int Shell(const std::string& command) {
  const int status = std::system(("{ " + command + "\n} >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program started with `sh -c` in a process group of its own, its output (both
// streams) in a file. Killed, with everything it started, when it is destroyed or
// does not end in time.
class TChild {
 public:
  // With `errFile`, standard error goes there (Errors) instead of with the output.
  TChild(const std::string& script, const std::string& outFile, const std::string& errFile = {})
      : FChild({"/bin/sh", "-c", script}, {}, outFile, {}, errFile, /*ownGroup=*/true),
        FErrFile(errFile) {}

  pid_t Pid() const { return FChild.Pid(); }
  std::string Output() const { return FChild.Output(); }
  std::string Errors() const { return FErrFile.empty() ? Output() : FileText(FErrFile); }

  // The exit status, or -1 (and the program killed) when it did not end in time.
  int Wait(std::chrono::milliseconds timeout) {
    if (const std::optional<int> status = FChild.Wait(timeout)) return *status;
    FChild.Kill();
    FChild.Wait(10s);
    return -1;
  }
  // Asks it to stop (SIGTERM to the program itself) and waits.
  int Stop(std::chrono::milliseconds timeout = 5s) {
    if (FChild.Ended()) return 0;
    FChild.Signal(SIGTERM);
    return Wait(timeout);
  }
  // Waits until the output holds `text`; whether it did before `timeout`.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = 15s) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Output().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  bool Running() { return FChild.Running(); }
  // Waits until a listener started with --verbose says that other machines can
  // reach it (its names are claimed); whether it did before `timeout`.
  bool WaitForReachable(std::chrono::milliseconds timeout = 15s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Errors().find("reachable: ") == std::string::npos) {
      if (std::chrono::steady_clock::now() > end || !FChild.Running()) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

 private:
  Child FChild;
  std::string FErrFile;
};

// Removes what a test made, by process id and by namespace name. A script so that
// the watcher (TLanReaper) runs it from a process of its own, without anything of
// the test's. Its input: lines "ns NAME" (a namespace the test made), "pidfile
// PATH" (a file that will hold a daemon's process id), "dir PATH" (the test's
// folder), and "go" (clean up now); "done" ends it without doing anything. At
// the end of its input (the test's process has gone) it cleans up as well.
//
// A process id from a file is signalled only while that process is in one of
// the namespaces; the processes left in the namespaces are found by `ip netns
// pids`. Both are killed by their ids, never by their names.
inline constexpr const char* kLanCleanupScript = R"sh(
namespaces=
pidfiles=
folders=
clean() {
  for file in $pidfiles; do
    pid=$(cat "$file" 2>/dev/null)
    case "$pid" in ''|*[!0-9]*) continue ;; esac
    for ns in $(ip netns identify "$pid" 2>/dev/null); do
      case " $namespaces " in *" $ns "*) kill -KILL "$pid" 2>/dev/null ;; esac
    done
  done
  for try in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    left=
    for ns in $namespaces; do
      for pid in $(ip netns pids "$ns" 2>/dev/null); do
        kill -KILL "$pid" 2>/dev/null && left=1
      done
    done
    [ -z "$left" ] && break
    sleep 0.05
  done
  for ns in $namespaces; do ip netns del "$ns" 2>/dev/null; done
  for folder in $folders; do rm -rf -- "$folder"; done
}
while read -r kind value; do
  case "$kind" in
    ns) namespaces="$namespaces $value" ;;
    pidfile) pidfiles="$pidfiles $value" ;;
    dir) folders="$folders $value" ;;
    go) clean; exit 0 ;;
    done) exit 0 ;;
  esac
done
clean
)sh";

// Watches the test's process from a process of its own, outside the test's
// process tree (so that a runner that kills the test's tree on a time-out leaves
// it), and cleans up (kLanCleanupScript) when the test's process ends without
// having done so. It holds nothing of the test's: no output, no other file.
class TLanReaper {
 public:
  TLanReaper() = default;
  ~TLanReaper() { Finish(false); }
  TLanReaper(const TLanReaper&) = delete;
  TLanReaper& operator=(const TLanReaper&) = delete;

  // Starts the watcher; false when it cannot be.
  bool Start() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t child = fork();
    if (child < 0) {
      close(fds[0]);
      close(fds[1]);
      return false;
    }
    if (child == 0) {
      // A session of its own, and a grandchild, which init (or the nearest
      // subreaper) inherits: outside the test's process tree.
      setsid();
      if (fork() != 0) _exit(0);
      dup2(fds[0], 0);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      close_range(3, ~0U, 0);
      signal(SIGINT, SIG_IGN);
      signal(SIGHUP, SIG_IGN);
      signal(SIGPIPE, SIG_IGN);
      execl("/bin/sh", "sh", "-c", kLanCleanupScript, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[0]);
    waitpid(child, nullptr, 0);
    FWrite = fds[1];
    return true;
  }
  void Namespace(const std::string& name) { Tell("ns " + name); }
  void PidFile(const std::string& path) { Tell("pidfile " + path); }
  void Folder(const std::string& path) { Tell("dir " + path); }
  // Cleans up now (`clean`), or lets the watcher go without; waits until it is done.
  void Finish(bool clean) {
    if (FWrite < 0) return;
    Tell(clean ? "go" : "done");
    // The watcher's end of the pipe closes when it exits.
    pollfd fd{FWrite, 0, 0};
    for (int i = 0; i < 3000 && poll(&fd, 1, 10) == 0; ++i) {
    }
    close(FWrite);
    FWrite = -1;
  }

 private:
  void Tell(const std::string& line) {
    if (FWrite < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = write(FWrite, text.data(), text.size());
  }

  int FWrite = -1;
};

// Sets up a LAN of `hosts` hosts in a test, which ends there (skipped, with the
// reason) where that cannot be done.
#define PLING_MAKE_LAN(hosts)                     \
  do {                                            \
    MakeLan(hosts);                               \
    if (IsSkipped() || HasFatalFailure()) return; \
  } while (false)

class TLanTest : public ::testing::Test {
 protected:
  // Sets up `hosts` hosts, or skips the test (see PLING_MAKE_LAN).
  void MakeLan(int hosts) {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root; not run";
    if (Shell("command -v ip && command -v unshare") != 0) {
      GTEST_SKIP() << "ip or unshare missing; not run";
    }
    ASSERT_TRUE(FReaper.Start()) << "cannot start the process that cleans up after the test";
    for (int tries = 0; tries < 200 && FRun < 0; ++tries) {
      const int run = 10 + (getpid() + tries) % 240;
      if (Shell("ip netns add " + Bridge(run)) == 0) FRun = run;
    }
    if (FRun < 0) GTEST_SKIP() << "no free network namespace name; not run";
    FReaper.Namespace(Bridge());
    FHosts = hosts;
    for (int i = 1; i <= hosts; ++i) FReaper.Namespace(Host(i));
    std::string script = "set -e; ip -n " + Bridge() + " link add br0 type bridge; ip -n " +
                         Bridge() + " link set br0 up;";
    for (int i = 1; i <= hosts; ++i) {
      const std::string ns = Host(i), veth = Veth(i);
      script += "ip netns add " + ns + "; ip link add " + veth + " netns " + ns +
                " type veth peer name p" + std::to_string(i) + " netns " + Bridge() + "; ip -n " +
                Bridge() + " link set p" + std::to_string(i) + " master br0 up; ip -n " + ns +
                " addr add " + Address(i) + "/24 brd " + BroadcastAddress() + " dev " + veth +
                "; ip -n " + ns + " link set " + veth + " up; ip -n " + ns + " link set lo up;";
    }
    if (Shell(script) != 0) GTEST_SKIP() << "cannot set up network namespaces; not run";
    std::string dir = (std::filesystem::temp_directory_path() / "pling-lan-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    FDir = dir;
    FReaper.Folder(FDir);
    std::ofstream(FDir + "/smb.conf") << "[global]\n   workgroup = LanTest\n";
  }

  // Kills what the test started and what still runs in its namespaces, deletes
  // them and the test's folder (see kLanCleanupScript).
  void TearDown() override {
    FChildren.clear();
    FReaper.Finish(true);
  }

  // A namespace the test made beyond the LAN's own: deleted at the end, and what
  // runs in it killed.
  void RememberNamespace(const std::string& name) { FReaper.Namespace(name); }
  // A file that holds (or will hold) the process id of a daemon the test starts
  // in a session of its own: killed at the end while it runs in the test's
  // namespaces.
  void RememberPidFile(const std::string& path) { FReaper.PidFile(path); }

  std::string Bridge(int run = -1) const { return "plbr" + std::to_string(run < 0 ? FRun : run); }
  std::string Host(int i) const { return "plh" + std::to_string(FRun) + "_" + std::to_string(i); }
  // Host i's end of its link to the bridge.
  std::string Veth(int i) const { return "pv" + std::to_string(FRun) + "h" + std::to_string(i); }
  std::string Address(int i) const {
    return "10.98." + std::to_string(FRun) + "." + std::to_string(i);
  }
  std::string BroadcastAddress() const { return "10.98." + std::to_string(FRun) + ".255"; }
  const std::string& Dir() const { return FDir; }

  // The shell command that runs `command` on host `i`, named `name`, as user
  // `name`, with the transport on (unless `network` is "off"), and settings and
  // a session folder of its own (a folder per host name in the test's folder).
  std::string OnHost(int i, const std::string& name, const std::string& command,
                     const std::string& network = "on") const {
    const std::string session = FDir + "/session-" + name;
    return "exec ip netns exec " + Host(i) + " unshare --uts --mount sh -c 'mount --bind " +
           Passwd(name) + " /etc/passwd && hostname " + name + " && mkdir -p -m 700 " + session +
           " && PLING_NAME_RETRY_MS=20 PLING_NETWORK=" + network + " PLING_SMB_CONF=" + FDir +
           "/smb.conf XDG_CONFIG_HOME=" + FDir + "/config-" + name + " XDG_RUNTIME_DIR=" + session +
           " exec " + command + "'";
  }

  // A password file in which the superuser is called `name`.
  std::string Passwd(const std::string& name) const {
    const std::string path = FDir + "/passwd-" + name;
    if (!std::filesystem::exists(path)) {
      std::istringstream lines(FileText("/etc/passwd"));
      std::ofstream out(path);
      for (std::string line; std::getline(lines, line);) {
        const std::size_t user = line.find(':');
        const std::size_t uid = line.find(':', user + 1);
        if (user != std::string::npos && uid != std::string::npos &&
            line.compare(uid + 1, 2, "0:") == 0) {
          line = name + line.substr(user);
        }
        out << line << "\n";
      }
    }
    return path;
  }

  TChild& Start(int i, const std::string& name, const std::string& command,
                const std::string& network = "on") {
    const std::string out = FDir + "/out" + std::to_string(FChildren.size());
    FChildren.push_back(std::make_unique<TChild>(OnHost(i, name, command, network), out));
    return *FChildren.back();
  }

  // Starts `pling-cli listen --verbose OPTIONS` on host `i`, its standard error
  // apart from its output (TChild::Errors); TChild::WaitForReachable then waits
  // until other machines can reach it.
  // `env` (NAME=VALUE ...) goes into its environment.
  TChild& Listen(int i, const std::string& name, const std::string& options = "",
                 const std::string& env = "") {
    const std::string out = FDir + "/out" + std::to_string(FChildren.size());
    FChildren.push_back(std::make_unique<TChild>(
        OnHost(i, name, "env " + env + " " + Cli() + " listen --verbose " + options), out,
        out + ".err"));
    return *FChildren.back();
  }

  // Runs a command on host `i` to its end (at most `timeout`); its exit status.
  int Run(int i, const std::string& name, const std::string& command,
          std::chrono::milliseconds timeout = 10s, std::string* output = nullptr) {
    TChild& child = Start(i, name, command);
    const int status = child.Wait(timeout);
    if (output != nullptr) *output = child.Output();
    return status;
  }

  // Waits until the process's network namespace shows `needle` in /proc/net/<table>
  // (its own view of it): a bound port or an abstract socket name.
  static bool WaitForTable(pid_t pid, const std::string& table, const std::string& needle,
                           std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      if (FileText("/proc/" + std::to_string(pid) + "/net/" + table).find(needle) !=
          std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  // Waits until the messenger mailslot is open in the process's namespace and,
  // unless `ports` is false, the network ports are held there (by it or another).
  static bool WaitForMessenger(pid_t pid, bool ports = true) {
    return WaitForTable(pid, "unix", "@mailslot\\MESSNGR") &&
           (!ports || (WaitForTable(pid, "udp", ":008A ") && WaitForTable(pid, "udp", ":0089 ")));
  }
  // Port 138 bound in the namespace ("0000:008A" in hex, local address any).
  static bool PortsHeld(pid_t pid) {
    return FileText("/proc/" + std::to_string(pid) + "/net/udp").find(":008A ") !=
           std::string::npos;
  }

  std::string Cli() const { return TestProgram("pling-cli"); }

 private:
  TLanReaper FReaper;
  int FRun = -1;
  int FHosts = 0;
  std::string FDir;
  std::vector<std::unique_ptr<TChild>> FChildren;
};

}  // namespace pling::testing
