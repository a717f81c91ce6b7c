// SPDX-License-Identifier: GPL-3.0-or-later
// Local delivery: a datagram written to the messenger mailslot until OnMessage runs
// on the main thread; latency (p50, p99), throughput, and an idle listener's
// wake-ups. Each figure stands beside the same figure for a bare hand-off (a
// thread blocked on a Unix datagram socket that passes each datagram to the main
// thread through the same blocking call), measured in the same run, so the ratio
// can be read on a noisy machine.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
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

// The bare hand-off: a socket pair, a thread blocked in poll/recv, the main-thread
// call for each datagram.
class BareHandoff {
 public:
  explicit BareHandoff(std::function<void(const std::string&)> deliver)
      : FDeliver(std::move(deliver)) {
    socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, FFds);
    FThread = std::thread([this] { Body(); });
  }
  ~BareHandoff() {
    FStop.Set();
    FThread.join();
    close(FFds[0]);
    close(FFds[1]);
  }
  void Send(const std::string& data) { (void)send(FFds[1], data.data(), data.size(), 0); }

 private:
  void Body() {
    char buffer[65536];
    auto mainThread = runtime::MainThread();
    while (!FStop.IsSet()) {
      pollfd fds[2] = {{FFds[0], POLLIN, 0}, {FStop.NativeHandle(), POLLIN, 0}};
      if (poll(fds, 2, -1) <= 0 || (fds[1].revents & POLLIN) != 0) continue;
      const ssize_t n = recv(FFds[0], buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0) continue;
      std::string datagram(buffer, static_cast<size_t>(n));
      mainThread->Synchronize([&] { FDeliver(datagram); }, &FStop);
    }
  }
  std::function<void(const std::string&)> FDeliver;
  int FFds[2] = {-1, -1};
  runtime::TEvent FStop;
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

void BM_Latency_BareHandoff(benchmark::State& state) {
  auto loop = InstallLoop();
  bool got = false;
  std::vector<double> micros;
  {
    BareHandoff bare([&](const std::string&) { got = true; });
    for (auto _ : state) {
      got = false;
      const auto start = Clock::now();
      bare.Send(ms::EncodeMessengerDatagram("BENCH", "BENCH", "latency probe"));
      loop->RunUntil([&] { return got; }, 5s);
      const std::chrono::duration<double> elapsed = Clock::now() - start;
      state.SetIterationTime(elapsed.count());
      micros.push_back(elapsed.count() * 1e6);
    }
  }
  ReportPercentiles(state, micros);
  runtime::SetMainThread(nullptr);
}
BENCHMARK(BM_Latency_BareHandoff)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

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

void BM_Throughput_BareHandoff(benchmark::State& state) {
  auto loop = InstallLoop();
  int received = 0;
  {
    BareHandoff bare([&](const std::string&) { ++received; });
    for (auto _ : state) {
      received = 0;
      const auto start = Clock::now();
      std::thread sender([&] {
        for (int i = 0; i < kBurst; ++i)
          bare.Send(ms::EncodeMessengerDatagram("BENCH", "BENCH", "burst"));
      });
      loop->RunUntil([&] { return received >= kBurst; }, 60s);
      sender.join();
      state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  state.counters["msgs_per_s"] =
      benchmark::Counter(static_cast<double>(kBurst) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  runtime::SetMainThread(nullptr);
}
BENCHMARK(BM_Throughput_BareHandoff)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

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

void BM_IdleWakeups_BareHandoff(benchmark::State& state) {
  MeasureIdle(state, [] { return std::make_shared<BareHandoff>([](const std::string&) {}); });
}
BENCHMARK(BM_IdleWakeups_BareHandoff)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
