// SPDX-License-Identifier: GPL-3.0-or-later
// Local delivery: a datagram written to the messenger mailslot until OnMessage runs
// on the main thread; latency (p50, p99), throughput, and an idle listener's
// wake-ups. Each figure stands beside the same figure for a raw hand-off (a
// thread blocked on a Unix datagram socket that queues each datagram and wakes
// the main thread through an eventfd), measured in the same run; the ratios are
// printed at the end, so that they can be read on a noisy machine.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/eventfd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mailslot/lxMailSlot.h"
#include "runtime/event_loop.h"
#include "runtime/main_thread.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace ps = pling::platform;
namespace runtime = pling::runtime;
namespace ms = pling::mailslot;

std::shared_ptr<runtime::TEventLoop> InstallLoop() {
  auto loop = std::make_shared<runtime::TEventLoop>();
  runtime::SetMainThread(loop);
  return loop;
}

void ReportPercentiles(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

// The raw hand-off, the floor for a delivery to a main thread: a socket pair, a
// thread blocked in poll/recv that queues each datagram and counts it on an
// eventfd, and the main thread blocked in poll on that eventfd. Nothing of the
// project's own on the way.
class RawHandoff {
 public:
  RawHandoff() {
    socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, FFds);
    FReady = eventfd(0, EFD_CLOEXEC);
    FStop = eventfd(0, EFD_CLOEXEC);
    FThread = std::thread([this] { Body(); });
  }
  ~RawHandoff() {
    const std::uint64_t one = 1;
    if (write(FStop, &one, sizeof one) < 0) std::abort();
    FThread.join();
    close(FFds[0]);
    close(FFds[1]);
    close(FReady);
    close(FStop);
  }
  void Send(const std::string& data) { (void)send(FFds[1], data.data(), data.size(), 0); }
  // On the main thread: waits for datagrams and passes each to `deliver`, until
  // `done()` or `limit` passed.
  void RunUntil(const std::function<void(const std::string&)>& deliver,
                const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    std::deque<std::string> taken;
    while (!done() && Clock::now() < end) {
      pollfd fd{FReady, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(limit.count())) <= 0) continue;
      std::uint64_t count = 0;
      if (read(FReady, &count, sizeof count) < 0) continue;
      {
        std::lock_guard<std::mutex> guard(FLock);
        taken.swap(FQueue);
      }
      for (const std::string& datagram : taken) deliver(datagram);
      taken.clear();
    }
  }

 private:
  void Body() {
    char buffer[65536];
    for (;;) {
      pollfd fds[2] = {{FFds[0], POLLIN, 0}, {FStop, POLLIN, 0}};
      if (poll(fds, 2, -1) <= 0) continue;
      if ((fds[1].revents & POLLIN) != 0) return;
      const ssize_t n = recv(FFds[0], buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0) continue;
      {
        std::lock_guard<std::mutex> guard(FLock);
        FQueue.emplace_back(buffer, static_cast<size_t>(n));
      }
      const std::uint64_t one = 1;
      if (write(FReady, &one, sizeof one) < 0) std::abort();
    }
  }
  int FFds[2] = {-1, -1};
  int FReady = -1;
  int FStop = -1;
  std::mutex FLock;
  std::deque<std::string> FQueue;
  std::thread FThread;
};

void BM_Latency_Pling(benchmark::State& state) {
  auto loop = InstallLoop();
  ms::TlxPling pling(nullptr);
  bool got = false;
  pling.OnMessage = [&](runtime::TComponent&, std::string, std::string, std::string) {
    got = true;
  };
  pling.Open();
  std::vector<double> micros;
  for (auto _ : state) {
    got = false;
    const auto start = Clock::now();
    pling.Send(".", "BENCH", "BENCH", "latency probe");
    loop->RunUntil([&] { return got; }, 5s);
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    state.SetIterationTime(elapsed.count());
    micros.push_back(elapsed.count() * 1e6);
  }
  pling.Close();
  ReportPercentiles(state, micros);
  runtime::SetMainThread(nullptr);
}
BENCHMARK(BM_Latency_Pling)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// The writer's own share of the latency: opening the mailslot, writing one
// datagram and closing it again, as every send does.
void BM_WriteOnly_Pling(benchmark::State& state) {
  auto loop = InstallLoop();
  ms::TlxPling pling(nullptr);
  bool got = false;
  pling.OnMessage = [&](runtime::TComponent&, std::string, std::string, std::string) {
    got = true;
  };
  pling.Open();
  for (auto _ : state) {
    got = false;
    const auto start = Clock::now();
    pling.Send(".", "BENCH", "BENCH", "latency probe");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    loop->RunUntil([&] { return got; }, 5s);
  }
  pling.Close();
  runtime::SetMainThread(nullptr);
}
BENCHMARK(BM_WriteOnly_Pling)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_Latency_RawHandoff(benchmark::State& state) {
  bool got = false;
  std::vector<double> micros;
  RawHandoff raw;
  for (auto _ : state) {
    got = false;
    const auto start = Clock::now();
    raw.Send(ms::EncodeMessengerDatagram("BENCH", "BENCH", "latency probe"));
    raw.RunUntil([&](const std::string&) { got = true; }, [&] { return got; }, 5s);
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    state.SetIterationTime(elapsed.count());
    micros.push_back(elapsed.count() * 1e6);
  }
  ReportPercentiles(state, micros);
}
BENCHMARK(BM_Latency_RawHandoff)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

constexpr int kBurst = 20000;

void BM_Throughput_Pling(benchmark::State& state) {
  auto loop = InstallLoop();
  ms::TlxPling pling(nullptr);
  int received = 0;
  pling.OnMessage = [&](runtime::TComponent&, std::string, std::string, std::string) {
    ++received;
  };
  pling.Open();
  int failed = 0;
  for (auto _ : state) {
    received = 0;
    const auto start = Clock::now();
    std::thread sender([&] {
      for (int i = 0; i < kBurst; ++i) {
        if (!ms::WriteMailSlot(".", "messngr",
                               ms::EncodeMessengerDatagram("BENCH", "BENCH", "burst")))
          ++failed;
      }
    });
    loop->RunUntil([&] { return received + failed >= kBurst; }, 60s);
    sender.join();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  pling.Close();
  state.counters["msgs_per_s"] =
      benchmark::Counter(static_cast<double>(kBurst) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["failed_writes"] = failed;
  runtime::SetMainThread(nullptr);
}
BENCHMARK(BM_Throughput_Pling)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Throughput_RawHandoff(benchmark::State& state) {
  int received = 0;
  {
    RawHandoff raw;
    for (auto _ : state) {
      received = 0;
      const auto start = Clock::now();
      std::thread sender([&] {
        for (int i = 0; i < kBurst; ++i)
          raw.Send(ms::EncodeMessengerDatagram("BENCH", "BENCH", "burst"));
      });
      raw.RunUntil([&](const std::string&) { ++received; }, [&] { return received >= kBurst; },
                   60s);
      sender.join();
      state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  state.counters["msgs_per_s"] =
      benchmark::Counter(static_cast<double>(kBurst) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Throughput_RawHandoff)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Context switches of every thread but the calling one: each is one wake-up.
long long OtherThreadsSwitches() {
  long long total = 0;
  const std::string self = std::to_string(gettid());
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      const std::string tid = entry->d_name;
      if (tid == "." || tid == ".." || tid == self) continue;
      std::ifstream status("/proc/self/task/" + tid + "/status");
      std::string line;
      while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
            line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
          total += std::stoll(line.substr(line.find(':') + 1));
        }
      }
    }
    closedir(dir);
  }
  return total;
}

constexpr auto kIdlePeriod = 3s;

template <class Setup>
void MeasureIdle(benchmark::State& state, Setup setup) {
  auto loop = InstallLoop();
  double perSecond = 0;
  {
    auto keep = setup();
    loop->ProcessEvents(200ms);  // let everything settle
    for (auto _ : state) {
      const long long before = OtherThreadsSwitches();
      const auto start = Clock::now();
      std::this_thread::sleep_for(kIdlePeriod);
      const long long after = OtherThreadsSwitches();
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      state.SetIterationTime(seconds);
      perSecond = static_cast<double>(after - before) / seconds;
    }
  }
  state.counters["wakeups_per_s"] = perSecond;
  runtime::SetMainThread(nullptr);
}

void BM_IdleWakeups_Pling(benchmark::State& state) {
  MeasureIdle(state, [] {
    auto pling = std::make_shared<ms::TlxPling>(nullptr);
    pling->Open();
    return pling;
  });
}
BENCHMARK(BM_IdleWakeups_Pling)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_IdleWakeups_RawHandoff(benchmark::State& state) {
  MeasureIdle(state, [] { return std::make_shared<RawHandoff>(); });
}
BENCHMARK(BM_IdleWakeups_RawHandoff)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

// Keeps each run's counters, to print the ratios to the raw hand-off at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      for (const auto& [name, counter] : run.counters)
        FCounters[run.benchmark_name()][name] = counter;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    std::printf("\nagainst the raw hand-off (same run):\n");
    const auto ratio = [&](const char* ours, const char* raw, const char* counter,
                           bool higherIsBetter) {
      const auto a = Find(ours, counter), b = Find(raw, counter);
      if (a <= 0 || b <= 0) return;
      std::printf("  %-28s %-12s x%.2f%s\n", ours, counter, a / b,
                  higherIsBetter ? " (rate: higher is better)" : "");
    };
    ratio("BM_Latency_Pling", "BM_Latency_RawHandoff", "p50_us", false);
    ratio("BM_Latency_Pling", "BM_Latency_RawHandoff", "p99_us", false);
    ratio("BM_Throughput_Pling", "BM_Throughput_RawHandoff", "msgs_per_s", true);
  }

 private:
  double Find(const std::string& prefix, const std::string& counter) const {
    for (const auto& [name, counters] : FCounters) {
      if (name.rfind(prefix, 0) != 0 || (name.size() > prefix.size() && name[prefix.size()] != '/'))
        continue;
      const auto found = counters.find(counter);
      if (found != counters.end()) return found->second.value;
    }
    return 0;
  }
  std::map<std::string, std::map<std::string, benchmark::Counter>> FCounters;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
