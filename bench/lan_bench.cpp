// SPDX-License-Identifier: GPL-3.0-or-later
// The network transport between two hosts on a private LAN of network namespaces
// that this program makes (root only): messages per second through the mailslot
// service beside raw UDP datagrams of the same size between the same two hosts in
// the same run; the time to look a name up, first and cached; how long a message
// to a machine whose session port does not answer takes, the first time, the
// next time, and to three of its names at once, beside a datagram; and how often
// an idle `pling-cli listen` holding the ports wakes up. Prints its numbers; asserts
// nothing. Usage: pling_lan_bench [MESSAGES]   (run from the build tree: it finds
// pling-cli beside itself).
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mailslot/lxMailSlot.h"
#include "net/resolver.h"
#include "platform/mailslot_service.h"
#include "platform/network.h"
#include "platform/types.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace ps = pling::platform;
namespace runtime = pling::runtime;

constexpr std::size_t kDataSize = 103;  // a 185-byte datagram, as the worked example's size class
std::string gRun;

std::string Host(int i) {
  return "plbn" + gRun + "_" + std::to_string(i);
}
std::string Address(int i) {
  return "10.97." + gRun + "." + std::to_string(i);
}

bool Shell(const std::string& command) {
  return std::system(("{ " + command + "\n} >/dev/null 2>&1").c_str()) == 0;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Runs `fn` in a child process inside host `i`'s network namespace, with host
// name `name` and the transport on; its text result comes back through a pipe.
struct TChildResult {
  pid_t pid;
  int pipe;
};
TChildResult InHost(int i, const char* name, const std::function<std::string()>& fn) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const int ns = open(("/var/run/netns/" + Host(i)).c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0 || setns(ns, CLONE_NEWNET) != 0 || unshare(CLONE_NEWUTS) != 0 ||
        sethostname(name, std::strlen(name)) != 0) {
      _exit(2);
    }
    setenv("PLING_NETWORK", "on", 1);
    const std::string text = fn();
    [[maybe_unused]] const ssize_t written = write(fds[1], text.data(), text.size());
    _exit(0);
  }
  close(fds[1]);
  return {pid, fds[0]};
}

std::string Collect(const TChildResult& child) {
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(child.pipe, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(child.pipe);
  waitpid(child.pid, nullptr, 0);
  return text;
}

// Receives until `expected` arrived or nothing came for a second; "count seconds".
std::string Tally(const std::function<bool(std::chrono::milliseconds)>& receiveOne, long expected) {
  long count = 0;
  Clock::time_point first{}, last{};
  while (count < expected && receiveOne(count == 0 ? 10s : 1s)) {
    last = Clock::now();
    if (count++ == 0) first = last;
  }
  std::ostringstream out;
  out << count << " " << (count > 1 ? Seconds(last - first) : 0.0);
  return out.str();
}

void Report(const char* what, long sent, const std::string& tally, double sendSeconds) {
  long count = 0;
  double seconds = 0;
  std::istringstream(tally) >> count >> seconds;
  std::printf("%-22s sent %ld in %.3f s (%.0f/s), received %ld (%.1f%%) at %.0f/s\n", what, sent,
              sendSeconds, sendSeconds > 0 ? static_cast<double>(sent) / sendSeconds : 0.0, count,
              100.0 * static_cast<double>(count) / static_cast<double>(sent),
              seconds > 0 ? static_cast<double>(count - 1) / seconds : 0.0);
}

long VoluntarySwitches(pid_t pid) {
  long total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stol(line.substr(24));
    }
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const long messages = argc > 1 ? std::atol(argv[1]) : 5000;
  if (geteuid() != 0) {
    std::puts("pling_lan_bench needs root (it makes network namespaces); nothing measured");
    return 0;
  }
  for (int tries = 0; tries < 200 && gRun.empty(); ++tries) {
    const std::string run = std::to_string(10 + (getpid() + tries) % 240);
    if (Shell("ip netns add plbnbr" + run)) gRun = run;
  }
  if (gRun.empty()) return 1;
  std::string setup = "set -e; ip -n plbnbr" + gRun + " link add br0 type bridge; ip -n plbnbr" +
                      gRun + " link set br0 up";
  for (int i = 1; i <= 2; ++i) {
    const std::string veth = "bv" + gRun + "h" + std::to_string(i);
    setup += "; ip netns add " + Host(i) + "; ip link add " + veth + " netns " + Host(i) +
             " type veth peer name p" + std::to_string(i) + " netns plbnbr" + gRun +
             "; ip -n plbnbr" + gRun + " link set p" + std::to_string(i) +
             " master br0 up; ip -n " + Host(i) + " addr add " + Address(i) + "/24 brd 10.97." +
             gRun + ".255 dev " + veth + "; ip -n " + Host(i) + " link set " + veth +
             " up; ip -n " + Host(i) + " link set lo up";
  }
  const bool made = Shell(setup);
  const auto cleanup = [] {
    Shell("ip netns del " + Host(1) + "; ip netns del " + Host(2) + "; ip netns del plbnbr" + gRun);
  };
  if (!made) {
    cleanup();
    std::puts("cannot make network namespaces; nothing measured");
    return 1;
  }

  // 1. Mailslot writes from ALICE to BOB's mailslot, name lookups first.
  {
    int ready[2];
    if (pipe(ready) != 0) return 1;
    const TChildResult bob = InHost(2, "bob", [&] {
      const ps::HANDLE slot = ps::CreateMailslot("\\\\.\\mailslot\\BENCH", 0, 0);
      // Ready once BOB has claimed its names (a node status query lists them).
      in_addr own{};
      inet_pton(AF_INET, Address(2).c_str(), &own);
      for (int i = 0; i < 50 && !pling::net::QueryNodeStatus(ntohl(own.s_addr)); ++i) {
        std::this_thread::sleep_for(100ms);
      }
      [[maybe_unused]] const ssize_t w = write(ready[1], "r", 1);
      std::vector<char> buffer(1024);
      return Tally(
          [&](std::chrono::milliseconds wait) {
            const runtime::TEvent stop;
            if (ps::WaitForMailslot(slot, stop, wait) != ps::TMailslotWait::MessageWaiting) {
              return false;
            }
            ps::DWORD read = 0;
            return ps::ReadFile(slot, buffer.data(), 1024, &read);
          },
          messages + 2);
    });
    char byte;
    [[maybe_unused]] const ssize_t r = read(ready[0], &byte, 1);
    const TChildResult alice = InHost(1, "alice", [&] {
      std::ostringstream out;
      pling::net::TResolver resolver;
      auto start = Clock::now();
      resolver.Resolve("BOB");
      out << Seconds(Clock::now() - start) << " ";
      start = Clock::now();
      resolver.Resolve("BOB");
      out << Seconds(Clock::now() - start) << " ";
      start = Clock::now();
      resolver.Resolve("NOBODY");
      out << Seconds(Clock::now() - start) << " ";
      const std::string data(kDataSize, 'm');
      const ps::HANDLE file = ps::CreateFile("\\\\BOB\\mailslot\\BENCH", ps::GENERIC_WRITE,
                                             ps::FILE_SHARE_READ, ps::OPEN_EXISTING, 0);
      ps::DWORD written = 0;
      // The first two writes look the name up (the write's own cache), then it is cached.
      start = Clock::now();
      ps::WriteFile(file, data.data(), kDataSize, &written);
      out << Seconds(Clock::now() - start) << " ";
      start = Clock::now();
      ps::WriteFile(file, data.data(), kDataSize, &written);
      out << Seconds(Clock::now() - start) << " ";
      start = Clock::now();
      for (long i = 0; i < messages; ++i) ps::WriteFile(file, data.data(), kDataSize, &written);
      out << Seconds(Clock::now() - start);
      return out.str();
    });
    std::istringstream times(Collect(alice));
    double first = 0, cached = 0, unknown = 0, firstWrite = 0, secondWrite = 0, sending = 0;
    times >> first >> cached >> unknown >> firstWrite >> secondWrite >> sending;
    std::printf("name lookup: first %.1f ms, cached %.3f ms, unknown name %.1f ms\n", first * 1e3,
                cached * 1e3, unknown * 1e3);
    std::printf("write to BOB: first (looks up) %.1f ms, next (cached) %.3f ms\n", firstWrite * 1e3,
                secondWrite * 1e3);
    Report("mailslot transport", messages + 2, Collect(bob), sending);
  }

  // 2. Raw UDP datagrams of the same size between the same two hosts.
  {
    int ready[2];
    if (pipe(ready) != 0) return 1;
    const TChildResult bob = InHost(2, "bob", [&] {
      const int fd = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(4138);
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      [[maybe_unused]] const ssize_t w = write(ready[1], "r", 1);
      char buffer[1024];
      return Tally(
          [&](std::chrono::milliseconds wait) {
            timeval timeout{static_cast<time_t>(wait.count() / 1000),
                            static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            return recv(fd, buffer, sizeof buffer, 0) > 0;
          },
          messages);
    });
    char byte;
    [[maybe_unused]] const ssize_t r = read(ready[0], &byte, 1);
    const TChildResult alice = InHost(1, "alice", [&] {
      const int fd = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(4138);
      inet_pton(AF_INET, Address(2).c_str(), &to.sin_addr);
      const std::string payload(185, 'u');
      const auto start = Clock::now();
      for (long i = 0; i < messages; ++i) {
        sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
      return std::to_string(Seconds(Clock::now() - start));
    });
    const double sending = std::stod(Collect(alice));
    Report("raw UDP", messages, Collect(bob), sending);
  }

  // 3. A machine whose session port (TCP 139) does not answer: BOB's port is held
  //    by a listener whose queue is full, so connection attempts go unanswered as
  //    behind a firewall that drops them. Each figure in a fresh sending process
  //    (nothing remembered yet), after a datagram write that looks the name up.
  {
    int ready[2], done[2];
    if (pipe(ready) != 0 || pipe(done) != 0) return 1;
    const TChildResult bob = InHost(2, "bob", [&] {
      const int port = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(139);
      if (bind(port, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          listen(port, 0) != 0) {
        return std::string("cannot hold port 139");
      }
      inet_pton(AF_INET, Address(2).c_str(), &address.sin_addr);
      std::vector<int> filling;
      for (int i = 0; i < 2; ++i) {
        filling.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(filling.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
      }
      const ps::HANDLE slot = ps::CreateMailslot("\\\\.\\mailslot\\messngr", 0, 0);
      in_addr own{};
      inet_pton(AF_INET, Address(2).c_str(), &own);
      for (int i = 0; i < 50 && !pling::net::QueryNodeStatus(ntohl(own.s_addr)); ++i) {
        std::this_thread::sleep_for(100ms);
      }
      [[maybe_unused]] const ssize_t w = write(ready[1], "r", 1);
      char byte;
      [[maybe_unused]] const ssize_t r = read(done[0], &byte, 1);
      ps::CloseHandle(slot);
      return std::string();
    });
    char byte;
    [[maybe_unused]] const ssize_t r = read(ready[0], &byte, 1);
    // `receivers` messages to BOB at once, the first time and then again; seconds.
    const auto sendTogether = [](int receivers) {
      return InHost(1, "alice", [receivers] {
        ps::SetSessionMessagesEnabled(false);
        pling::mailslot::WriteMessengerMessage("BOB", "ALICE", "BOB", "look-up");
        std::vector<pling::mailslot::TOutgoingMessage> together(static_cast<std::size_t>(receivers),
                                                                {"BOB", {"ALICE", "BOB", "hello"}});
        pling::mailslot::TlxPling pling(nullptr);
        auto start = Clock::now();
        constexpr int kDatagrams = 20;
        for (int i = 0; i < kDatagrams; ++i) pling.DeliverTogether(together);
        const double datagram = Seconds(Clock::now() - start) / kDatagrams;
        ps::SetSessionMessagesEnabled(true);
        start = Clock::now();
        pling.DeliverTogether(together);
        const double first = Seconds(Clock::now() - start);
        start = Clock::now();
        for (int i = 0; i < kDatagrams; ++i) pling.DeliverTogether(together);
        const double next = Seconds(Clock::now() - start) / kDatagrams;
        return std::to_string(datagram) + " " + std::to_string(first) + " " + std::to_string(next);
      });
    };
    double one[3] = {}, three[3] = {};
    std::istringstream(Collect(sendTogether(1))) >> one[0] >> one[1] >> one[2];
    std::istringstream(Collect(sendTogether(3))) >> three[0] >> three[1] >> three[2];
    [[maybe_unused]] const ssize_t w = write(done[1], "d", 1);
    Collect(bob);
    std::printf(
        "silent session port: datagram %.2f ms; first message %.0f ms, next %.2f ms "
        "(next / datagram x%.2f)\n",
        one[0] * 1e3, one[1] * 1e3, one[2] * 1e3, one[0] > 0 ? one[2] / one[0] : 0.0);
    std::printf(
        "  three receivers at once: first %.0f ms (x%.2f one receiver's first), next %.2f ms\n",
        three[1] * 1e3, one[1] > 0 ? three[1] / one[1] : 0.0, three[2] * 1e3);
  }

  // 4. An idle listener: voluntary context switches over 10 s, holding the ports
  //    and, beside it, with the transport off (what the rest of the program costs).
  const std::string cli =
      (std::filesystem::canonical("/proc/self/exe").parent_path() / "pling-cli").string();
  for (const char* network : {"on", "off"}) {
    const pid_t listener = fork();
    if (listener == 0) {
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      const std::string command = "ip netns exec " + Host(2) +
                                  " unshare --uts sh -c 'hostname bob && PLING_NETWORK=" + network +
                                  " exec " + cli + " listen'";
      execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(1500ms);
    const long before = VoluntarySwitches(listener);
    std::this_thread::sleep_for(10s);
    const long after = VoluntarySwitches(listener);
    std::printf("idle pling-cli listen, transport %-3s: %ld voluntary switches in 10 s\n", network,
                after - before);
    kill(listener, SIGTERM);
    waitpid(listener, nullptr, 0);
  }
  cleanup();
  return 0;
}
