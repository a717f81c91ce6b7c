// SPDX-License-Identifier: GPL-3.0-or-later
// One host floods another with messenger datagrams while a third sends it real
// messages by name, on a private LAN of network namespaces that this program
// makes (root only): hosts EVE (the flood), BOB (the receiver) and ALICE.
//
// - EVE sends N datagrams (50,000) with distinct sender names to BOB<03> as fast
//   as one UDP socket takes them; with --sources K, from K addresses of its
//   subnet in turn (one socket each), as a host that forges its source would.
// - Meanwhile ALICE asks BOB's name service for BOB<03> every 50 ms (each query
//   waits up to a second), from a second before the flood to the end, and runs
//   `pling-cli send bob "legitimate N"` every 0.7 s, from just before the flood
//   until a few seconds after it.
// - BOB runs the receiver: `pling-cli listen` (the default), or with --window the
//   window itself (this program's own copy of it, in a process of its own, on the
//   X display given; its message handler is watched, not changed).
//
// Prints the flood's rate, how many flood messages the receiver got, the name
// queries' answer times (most, median, 99th percentile, unanswered), each send's
// exit status and the delay until its message reached the receiver, the
// receiver's resident memory before, at most and after, its processor time, and
// the datagrams the kernel dropped for a full receive buffer. Asserts nothing.
//
// Usage: sudo build/bin/pling_flood_bench [--flood N] [--sources K] [--window]
//        (--window under an X server: xvfb-run -a -s "-screen 0 1280x1024x24" ...)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "net/netbios.h"

#ifdef PLING_FLOOD_BENCH_WINDOW
#include <QAction>
#include <QApplication>
#include <QSocketNotifier>

#include "app/PlingApplication.h"
#include "app/PlingFrmUnit.h"
#include "app/QtMainThread.h"
#include "mailslot/lxMailSlot.h"
#include "runtime/main_thread.h"
#include "window_parts.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string gRun;
std::string gDir;

std::string Host(int i) {
  return "plfb" + gRun + "_" + std::to_string(i);
}
std::string Address(int i) {
  return "10.96." + gRun + "." + std::to_string(i);
}
std::uint32_t HostOrder(const std::string& dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted.c_str(), &address);
  return ntohl(address.s_addr);
}

bool Shell(const std::string& command) {
  return std::system(("{ " + command + "\n} >/dev/null 2>&1").c_str()) == 0;
}

// Monotonic nanoseconds, comparable between the processes of this run.
long long Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// Takes host name `name` in a UTS namespace of this process's own.
void TakeHostName(const char* name) {
  if (unshare(CLONE_NEWUTS) != 0 || sethostname(name, std::strlen(name)) != 0) _exit(2);
}

// In a forked child: joins host `i`'s network namespace with host name `name`
// (unless `named` is false: the window takes it once it has reached the X
// server, whose authorization goes by host name) and the transport on.
void EnterHost(int i, const char* name, bool named = true) {
  const int ns = open(("/var/run/netns/" + Host(i)).c_str(), O_RDONLY | O_CLOEXEC);
  if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) _exit(2);
  close(ns);
  if (named) TakeHostName(name);
  setenv("PLING_NETWORK", "on", 1);
  setenv("XDG_CONFIG_HOME", (gDir + "/" + name).c_str(), 1);
  fs::create_directories(gDir + "/" + name);
}

struct TChild {
  pid_t pid = -1;
  int out = -1;  // the child's lines
};

// Runs `fn` in a child inside host `i`; what it writes to the given descriptor
// comes back through `out`.
TChild InHost(int i, const char* name, const std::function<void(int out)>& fn, bool named = true) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    EnterHost(i, name, named);
    fn(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  return {pid, fds[0]};
}

void WriteLine(int fd, const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t written = write(fd, text.data(), text.size());
}

// Reads a child's lines as they come, each handed to `take` on a thread of its own.
std::thread ReadLines(int fd, std::function<void(const std::string&)> take) {
  return std::thread([fd, take = std::move(take)] {
    std::string pending;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
      pending.append(buffer, static_cast<std::size_t>(n));
      std::size_t start = 0;
      for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
           start = end + 1) {
        take(pending.substr(start, end - start));
      }
      pending.erase(0, start);
    }
    close(fd);
  });
}

// EVE's `sources` addresses: its own, then .10, .11, ... of its subnet.
std::string SourceAddress(int j) {
  return j == 0 ? Address(1) : "10.96." + gRun + "." + std::to_string(9 + j);
}

// EVE: `count` datagrams to BOB<03>'s messenger mailslot, each from a sender name
// of its own, as fast as the sockets take them, from `sources` addresses in
// turn. Writes "start END_NS" lines.
void Flood(int out, long count, int sources) {
  using namespace pling::net;
  std::vector<std::string> packets;
  packets.reserve(static_cast<std::size_t>(count));
  TMailslotDatagram d;
  d.source = TNetBiosName::Make("EVE", 0x00);
  d.destination = TNetBiosName::Make("BOB", 0x03);
  d.mailslot = "\\MAILSLOT\\MESSNGR";
  for (long i = 0; i < count; ++i) {
    d.sourceIp = HostOrder(SourceAddress(static_cast<int>(i % sources)));
    d.id = static_cast<std::uint16_t>(i);
    const std::string number = std::to_string(i);
    d.data.assign("F").append(number).append(1, '\0').append("BOB").append(1, '\0');
    d.data.append("flood message ").append(number);
    packets.push_back(BuildMailslotDatagram(d));
  }
  std::vector<int> fds;
  for (int j = 0; j < sources; ++j) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(HostOrder(SourceAddress(j)));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) _exit(3);
    fds.push_back(fd);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(138);
  to.sin_addr.s_addr = htonl(HostOrder(Address(2)));
  const long long start = Now();
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const std::string& packet = packets[i];
    sendto(fds[i % fds.size()], packet.data(), packet.size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  WriteLine(out, std::to_string(start) + " " + std::to_string(Now()));
}

// ALICE: a name query for BOB<03> every 50 ms until `stop` is readable; one line
// per query: "SENT_NS ANSWERED_NS" (-1: no answer within a second).
void Probe(int out, int stop) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(137);
  to.sin_addr.s_addr = htonl(HostOrder(Address(2)));
  std::mt19937 random{std::random_device{}()};
  for (;;) {
    pollfd stopped{stop, POLLIN, 0};
    if (poll(&stopped, 1, 0) > 0) return;
    const auto id = static_cast<std::uint16_t>(random());
    const std::string query =
        pling::net::BuildNameQuery({id, false, pling::net::TNetBiosName::Make("BOB", 0x03)});
    const long long sent = Now();
    sendto(fd, query.data(), query.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    long long answered = -1;
    while (answered < 0 && Now() - sent < 1'000'000'000) {
      pollfd readable{fd, POLLIN, 0};
      if (poll(&readable, 1, 10) <= 0) continue;
      char buffer[1500];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      const auto answer = pling::net::ParseNameAnswer(
          std::string_view(buffer, n > 0 ? static_cast<std::size_t>(n) : 0));
      if (answer && answer->id == id) answered = Now();
    }
    WriteLine(out, std::to_string(sent) + " " + std::to_string(answered));
    const long long next = sent + 50'000'000;
    while (Now() < next) usleep(1000);
  }
}

// ALICE: `pling-cli send bob "legitimate N"` every 0.7 s until `until_ns`; one line
// per send: "N START_NS STATUS".
void SendByName(int out, const std::string& cli, long long untilNs) {
  for (int n = 1; Now() < untilNs; ++n) {
    const long long start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      dup2(devnull, 2);
      const std::string text = "legitimate " + std::to_string(n);
      execl(cli.c_str(), cli.c_str(), "send", "bob", text.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    WriteLine(out, std::to_string(n) + " " + std::to_string(start) + " " +
                       std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
    const long long next = start + 700'000'000;
    while (Now() < next) usleep(5000);
  }
}

#ifdef PLING_FLOOD_BENCH_WINDOW
// BOB, as the window: the program's window listening on the messenger mailslot;
// one line per message its handler took: "NS TEXT" ("f" for the flood's).
void Window(int out) {
  static int argc = 1;
  static char name[] = "pling";
  static char* argv[] = {name, nullptr};
  pling::app::TPlingApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pling"));
  TakeHostName("bob");
  auto mainThread = std::make_shared<pling::app::TQtMainThread>();
  pling::runtime::SetMainThread(mainThread);
  {
    pling::app::TPlingFrm w;
    w.resize(448, 400);
    w.show();
    auto handler = w.Messenger().OnMessage;
    w.Messenger().OnMessage = [&](pling::runtime::TComponent& sender, std::string r, std::string s,
                                  std::string m) {
      handler(sender, r, s, m);
      WriteLine(out,
                std::to_string(Now()) + " " + (m.rfind("flood", 0) == 0 ? std::string("f") : m));
    };
    if (!w.Messenger().Active()) pling::bench::Part<QAction>(w, "Activate1")->trigger();
    WriteLine(out, "ready");
    // Ends on SIGTERM.
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    bool ended = false;
    while (!ended) {
      pling::bench::RunEventsUntil(
          [&] {
            timespec none{0, 0};
            ended = ended || sigtimedwait(&term, nullptr, &none) > 0;
            return ended;
          },
          3600000);
    }
    w.close();
  }
  pling::runtime::SetMainThread(nullptr);
  mainThread->Shutdown();
}
#endif

long Rss(pid_t pid) {  // kB
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stol(field);
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The kernel's count of UDP datagrams dropped for a full receive buffer in the
// namespace of `pid`.
long UdpBufferDrops(pid_t pid) {
  std::ifstream snmp("/proc/" + std::to_string(pid) + "/net/snmp");
  std::string names, values;
  for (std::string line; std::getline(snmp, line);) {
    if (line.rfind("Udp: ", 0) != 0) continue;
    if (names.empty()) {
      names = line;
    } else {
      values = line;
      break;
    }
  }
  std::istringstream n(names), v(values);
  for (std::string name, value; n >> name && v >> value;) {
    if (name == "RcvbufErrors") return std::stol(value);
  }
  return -1;
}

bool Holds(pid_t pid) {
  std::ifstream udp("/proc/" + std::to_string(pid) + "/net/udp");
  const std::string text((std::istreambuf_iterator<char>(udp)), std::istreambuf_iterator<char>());
  return text.find(":008A ") != std::string::npos && text.find(":0089 ") != std::string::npos;
}

double Ms(long long ns) {
  return static_cast<double>(ns) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  long flood = 50000;
  int sources = 1;
  bool window = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--flood") == 0 && i + 1 < argc) flood = std::atol(argv[++i]);
    if (std::strcmp(argv[i], "--sources") == 0 && i + 1 < argc) {
      sources = std::clamp(std::atoi(argv[++i]), 1, 241);
    }
    if (std::strcmp(argv[i], "--window") == 0) window = true;
  }
#ifndef PLING_FLOOD_BENCH_WINDOW
  if (window) {
    std::puts("this build has no window (pling_app was not built); nothing measured");
    return 1;
  }
#endif
  if (geteuid() != 0) {
    std::puts("pling_flood_bench needs root (it makes network namespaces); nothing measured");
    return 0;
  }
  const std::string cli = (fs::canonical("/proc/self/exe").parent_path() / "pling-cli").string();
  for (int tries = 0; tries < 200 && gRun.empty(); ++tries) {
    const std::string run = std::to_string(10 + (getpid() + tries) % 240);
    if (Shell("ip netns add plfbbr" + run)) gRun = run;
  }
  if (gRun.empty()) return 1;
  gDir = (fs::temp_directory_path() / ("pling-flood-bench-" + gRun)).string();
  fs::create_directories(gDir);
  std::string setup = "set -e; ip -n plfbbr" + gRun + " link add br0 type bridge; ip -n plfbbr" +
                      gRun + " link set br0 up";
  for (int i = 1; i <= 3; ++i) {
    const std::string veth = "fv" + gRun + "h" + std::to_string(i);
    setup += "; ip netns add " + Host(i) + "; ip link add " + veth + " netns " + Host(i) +
             " type veth peer name p" + std::to_string(i) + " netns plfbbr" + gRun +
             "; ip -n plfbbr" + gRun + " link set p" + std::to_string(i) +
             " master br0 up; ip -n " + Host(i) + " addr add " + Address(i) + "/24 brd 10.96." +
             gRun + ".255 dev " + veth + "; ip -n " + Host(i) + " link set " + veth +
             " up; ip -n " + Host(i) + " link set lo up";
  }
  for (int j = 1; j < sources; ++j) {
    setup += "; ip -n " + Host(1) + " addr add " + SourceAddress(j) + "/24 dev fv" + gRun + "h1";
  }
  const bool made = Shell(setup);
  const auto cleanup = [] {
    Shell("ip netns del " + Host(1) + "; ip netns del " + Host(2) + "; ip netns del " + Host(3) +
          "; ip netns del plfbbr" + gRun);
    fs::remove_all(gDir);
  };
  if (!made) {
    cleanup();
    std::puts("cannot make network namespaces; nothing measured");
    return 1;
  }

  // BOB's receiver, its lines timestamped as they arrive.
  std::mutex lock;
  std::map<int, long long> arrived;  // legitimate N -> when
  long floodReceived = 0;
  std::vector<std::string> notices;
  std::atomic<bool> ready{false};
  const auto take = [&](const std::string& line, long long at) {
    std::lock_guard<std::mutex> guard(lock);
    const std::size_t legit = line.find("legitimate ");
    if (legit != std::string::npos) {
      arrived.emplace(std::atoi(line.c_str() + legit + 11), at);
    } else if (line == "f" || line.find(" : flood message ") != std::string::npos) {
      ++floodReceived;
    } else if (line.find("were dropped") != std::string::npos) {
      notices.push_back(line);
    }
  };
  TChild receiver;
  std::thread receiverReader, receiverErrors;
  if (!window) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return 1;
    receiver.pid = fork();
    if (receiver.pid == 0) {
      EnterHost(2, "bob");
      dup2(out[1], 1);
      dup2(err[1], 2);
      execl(cli.c_str(), cli.c_str(), "listen", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    receiverReader = ReadLines(out[0], [&](const std::string& line) { take(line, Now()); });
    receiverErrors = ReadLines(err[0], [&](const std::string& line) { take(line, Now()); });
    ready = true;
  } else {
#ifdef PLING_FLOOD_BENCH_WINDOW
    receiver = InHost(2, "bob", Window, false);
    receiverReader = ReadLines(receiver.out, [&](const std::string& line) {
      if (line == "ready") {
        ready = true;
        return;
      }
      const std::size_t space = line.find(' ');
      take(line.substr(space + 1), std::atoll(line.c_str()));
    });
#endif
  }
  const auto waitStart = Clock::now();
  while (!(ready && Holds(receiver.pid)) && Clock::now() - waitStart < 20s) {
    std::this_thread::sleep_for(20ms);
  }
  if (!Holds(receiver.pid)) {
    std::puts("the receiver does not hold the NetBIOS ports; nothing measured");
    kill(receiver.pid, SIGKILL);
    waitpid(receiver.pid, nullptr, 0);
    cleanup();
    return 1;
  }
  // BOB answers for his names once he has claimed them (three broadcasts 250 ms
  // apart after the ports are bound).
  std::this_thread::sleep_for(1200ms);
  const long rssBefore = Rss(receiver.pid);
  const double cpuBefore = CpuSeconds(receiver.pid);
  const long dropsBefore = UdpBufferDrops(receiver.pid);

  // ALICE's name queries, from a second before the flood.
  int stopProbe[2];
  if (pipe2(stopProbe, O_CLOEXEC) != 0) return 1;
  std::vector<std::pair<long long, long long>> queries;
  TChild probe = InHost(3, "alice", [&](int out) {
    close(stopProbe[1]);  // else the end of the parent's would never be seen
    Probe(out, stopProbe[0]);
  });
  close(stopProbe[0]);
  std::thread probeReader = ReadLines(probe.out, [&](const std::string& line) {
    std::istringstream fields(line);
    long long sent = 0, answered = 0;
    fields >> sent >> answered;
    std::lock_guard<std::mutex> guard(lock);
    queries.emplace_back(sent, answered);
  });
  std::this_thread::sleep_for(1s);

  // ALICE's sends by name, from just before the flood to a few seconds after it.
  const long long sendsUntil = Now() + 8'000'000'000LL;
  std::vector<std::tuple<int, long long, int>> sends;
  TChild sender = InHost(3, "alice", [&](int out) { SendByName(out, cli, sendsUntil); });
  std::thread senderReader = ReadLines(sender.out, [&](const std::string& line) {
    std::istringstream fields(line);
    int n = 0, status = 0;
    long long start = 0;
    fields >> n >> start >> status;
    std::lock_guard<std::mutex> guard(lock);
    sends.emplace_back(n, start, status);
  });
  std::this_thread::sleep_for(300ms);

  long long floodStart = 0, floodEnd = 0;
  TChild flooder = InHost(1, "eve", [&](int out) { Flood(out, flood, sources); });
  std::thread flooderReader = ReadLines(flooder.out, [&](const std::string& line) {
    std::istringstream(line) >> floodStart >> floodEnd;
  });

  // Resident memory while it all goes on.
  long rssMost = rssBefore;
  for (bool sending = true; sending;) {
    rssMost = std::max(rssMost, Rss(receiver.pid));
    sending = waitpid(sender.pid, nullptr, WNOHANG) == 0;
    std::this_thread::sleep_for(100ms);
  }
  waitpid(flooder.pid, nullptr, 0);
  flooderReader.join();
  senderReader.join();
  // The last sends' messages: a few seconds to arrive.
  for (int i = 0; i < 50; ++i) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (arrived.size() >= sends.size()) break;
    }
    rssMost = std::max(rssMost, Rss(receiver.pid));
    std::this_thread::sleep_for(100ms);
  }
  close(stopProbe[1]);
  waitpid(probe.pid, nullptr, 0);
  probeReader.join();
  const long rssAfter = Rss(receiver.pid);
  const double cpu = CpuSeconds(receiver.pid) - cpuBefore;
  const long drops = UdpBufferDrops(receiver.pid) - dropsBefore;
  kill(receiver.pid, SIGTERM);
  waitpid(receiver.pid, nullptr, 0);
  receiverReader.join();
  if (receiverErrors.joinable()) receiverErrors.join();
  cleanup();

  const double floodSeconds = Ms(floodEnd - floodStart) / 1e3;
  std::printf("receiver: %s\n", window ? "the window" : "pling-cli listen");
  std::printf(
      "flood: %ld datagrams in %.2f s (%.0f/s) from one host and %d address(es), distinct "
      "sender names\n",
      flood, floodSeconds, floodSeconds > 0 ? static_cast<double>(flood) / floodSeconds : 0,
      sources);
  std::printf(
      "flood messages the receiver got: %ld; dropped by the kernel (receive buffer "
      "full): %ld\n",
      floodReceived, drops);
  for (const std::string& notice : notices) std::printf("receiver said: %s\n", notice.c_str());

  std::vector<double> answerMs;
  int unanswered = 0, duringFlood = 0;
  for (const auto& [sent, answered] : queries) {
    if (sent >= floodStart && sent <= floodEnd + 2'000'000'000LL) ++duringFlood;
    if (answered < 0) {
      ++unanswered;
    } else {
      answerMs.push_back(Ms(answered - sent));
    }
  }
  std::sort(answerMs.begin(), answerMs.end());
  const auto at = [&](double share) {
    return answerMs.empty()
               ? 0.0
               : answerMs[std::min(
                     answerMs.size() - 1,
                     static_cast<std::size_t>(share * static_cast<double>(answerMs.size())))];
  };
  std::printf(
      "name queries: %zu (%d from the flood's start to 2 s after it), unanswered %d; "
      "answer time median %.2f ms, 99th percentile %.2f ms, most %.2f ms\n",
      queries.size(), duringFlood, unanswered, at(0.5), at(0.99),
      answerMs.empty() ? 0.0 : answerMs.back());

  int exitZero = 0, lost = 0;
  double mostDelay = 0, totalDelay = 0;
  for (const auto& [n, start, status] : sends) {
    if (status == 0) ++exitZero;
    const auto found = arrived.find(n);
    if (found == arrived.end()) {
      ++lost;
      continue;
    }
    const double delay = Ms(found->second - start);
    mostDelay = std::max(mostDelay, delay);
    totalDelay += delay;
  }
  const std::size_t got = sends.size() - static_cast<std::size_t>(lost);
  std::printf(
      "sends by name: %zu, exit 0: %d, arrived: %zu; delay from the send's start to "
      "arrival: mean %.0f ms, most %.0f ms\n",
      sends.size(), exitZero, got, got > 0 ? totalDelay / static_cast<double>(got) : 0.0,
      mostDelay);
  std::printf(
      "receiver resident memory: before %.1f MB, most %.1f MB, after %.1f MB; "
      "processor time %.2f s\n",
      static_cast<double>(rssBefore) / 1024, static_cast<double>(rssMost) / 1024,
      static_cast<double>(rssAfter) / 1024, cpu);
  return 0;
}
