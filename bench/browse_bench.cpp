// SPDX-License-Identifier: GPL-3.0-or-later
// The network neighbourhood under load, in one process, nothing on the network:
//
// - memory: the heap a neighbourhood of 10,000 announced machines takes (each
//   with a 43-byte comment and two messenger names), beside the anchor: the
//   bytes of the 10,000 announcement frames themselves;
// - pauses: 1,000 announcements a second arrive on a thread of their own (as the
//   holder's thread hands them over) for three seconds, over 10,000 machines
//   known, while the "main thread" does what the window does when the list
//   changes: the follower's thread (at most four times a second) reads the list
//   and makes a snapshot, the main thread (every 16 ms) takes the latest and marks
//   200 receivers. The longest main-thread call, the longest refresh and the
//   longest hearing (which waits while the list is read), beside the anchor:
//   sorting 10,000 names once;
// - idle wake-ups: the browse service's thread, once it has announced, counted
//   by its context switches over five seconds, beside the anchor: a thread that
//   sleeps a millisecond at a time over the same five seconds.
//
// Usage: build/bin/pling_browse_bench. Prints figures and ratios; asserts nothing.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/browse_service.h"
#include "net/neighbourhood.h"
#include "platform/neighbourhood.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace pling;

net::TAnnouncement Machine(int i) {
  net::TAnnouncement a;
  a.name = "HOST" + std::to_string(i);
  a.serverType = net::kServerWorkstation;
  a.periodicityMs = 720000;
  a.comment = std::string(net::kMaxBrowseComment, 'c');
  return a;
}

net::TNeighbourhoodLimits Unlimited() {
  net::TNeighbourhoodLimits limits;
  limits.rate = {1e9, 1e9, 100000};
  return limits;
}

// One address per machine, as on a LAN.
std::uint32_t Address(int i) {
  return 0x0a000000u + static_cast<std::uint32_t>(i);
}

void Fill(net::TNeighbourhood& hood, int count, Clock::time_point now) {
  for (int i = 0; i < count; ++i) {
    const net::TAnnouncement a = Machine(i);
    hood.Hear(a, "WORKGROUP", Address(i), now);
    hood.SetPeople(a.name, Address(i), {a.name, "USER" + std::to_string(i)});
  }
}

void Memory() {
  const std::size_t before = mallinfo2().uordblks;
  auto hood = std::make_unique<net::TNeighbourhood>(Unlimited());
  Fill(*hood, 10000, Clock::now());
  const std::size_t used = mallinfo2().uordblks - before;
  std::size_t frames = 0;
  for (int i = 0; i < 10000; ++i) frames += net::BuildAnnouncement(Machine(i)).size();
  std::printf(
      "memory: 10,000 machines take %.2f MB (%zu bytes each); the frames %.2f MB; "
      "ratio %.1f; budget 10 MB: %.0f%% of it\n",
      static_cast<double>(used) / 1e6, used / 10000, static_cast<double>(frames) / 1e6,
      static_cast<double>(used) / static_cast<double>(frames), 100.0 * double(used) / 10e6);
}

void Pauses() {
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  net::TNeighbourhood hood(Unlimited());
  Fill(hood, 10000, Clock::now());
  std::atomic<bool> changed{false};
  hood.SetChanged([&] { changed.store(true, std::memory_order_relaxed); });
  std::atomic<bool> done{false};
  std::atomic<int> heard{0};
  Clock::duration longestHear{};
  std::thread holder([&] {
    // 1,000 a second, in steps of a millisecond: new machines and old ones again.
    const auto start = Clock::now();
    for (int i = 0; i < 3000; ++i) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
      const int n = i % 2 == 0 ? 10000 + i : i;
      const auto before = Clock::now();
      hood.Hear(Machine(n), "WORKGROUP", Address(n), before);
      longestHear = std::max(longestHear, Clock::now() - before);
      heard.fetch_add(1, std::memory_order_relaxed);
    }
    done = true;
  });
  // The follower's thread: reads and sorts the list, makes the snapshot.
  std::mutex latestLock;
  std::shared_ptr<const platform::TNeighbourhoodSnapshot> latest;
  Clock::duration longestRefresh{};
  int refreshes = 0;
  std::thread follower([&] {
    // The one before the last is kept too, so that the main thread never frees one.
    std::shared_ptr<const platform::TNeighbourhoodSnapshot> last, before;
    while (!done) {
      std::this_thread::sleep_for(250ms);
      if (!changed.exchange(false)) continue;
      const auto start = Clock::now();
      platform::TNeighbourhoodRead read;
      read.machines = platform::ToNeighbours(hood.Machines(Clock::now()));
      before = last;
      last = platform::MakeSnapshot(std::move(read), last.get());
      longestRefresh = std::max(longestRefresh, Clock::now() - start);
      ++refreshes;
      std::lock_guard<std::mutex> guard(latestLock);
      latest = last;
    }
  });
  // The main thread: takes the latest snapshot and marks 200 receivers.
  std::vector<std::string> receivers;
  for (int i = 0; i < 200; ++i) receivers.push_back("user" + std::to_string(i * 37));
  Clock::duration longestMain{};
  int reachable = 0;
  while (!done) {
    std::this_thread::sleep_for(16ms);
    const auto start = Clock::now();
    std::shared_ptr<const platform::TNeighbourhoodSnapshot> snapshot;
    {
      std::lock_guard<std::mutex> guard(latestLock);
      snapshot = latest;
    }
    if (!snapshot) continue;
    for (const std::string& r : receivers) {
      reachable += snapshot->Reach(r) == platform::TReach::Reachable ? 1 : 0;
    }
    longestMain = std::max(longestMain, Clock::now() - start);
  }
  holder.join();
  follower.join();
  // The anchor: sorting 10,000 names once.
  std::vector<std::string> names;
  for (int i = 0; i < 10000; ++i) names.push_back("HOST" + std::to_string((i * 7919) % 10000));
  const auto anchorStart = Clock::now();
  std::sort(names.begin(), names.end());
  const double anchor = ms(Clock::now() - anchorStart);
  std::printf(
      "pauses: %d announcements in 3 s over %zu machines; main thread: longest %.3f ms "
      "(budget 16 ms), ratio to the anchor %.2f; follower's refresh (%d): longest %.1f "
      "ms, ratio %.1f; longest hearing (holder thread) %.1f ms, ratio %.1f; anchor "
      "(sorting 10,000 names) %.2f ms\n",
      heard.load(), hood.Size(), ms(longestMain), ms(longestMain) / anchor, refreshes,
      ms(longestRefresh), ms(longestRefresh) / anchor, ms(longestHear), ms(longestHear) / anchor,
      anchor);
}

long Switches(const std::string& task) {
  std::ifstream status(task + "/status");
  long total = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
        line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
      total += std::stol(line.substr(line.find(':') + 1));
    }
  }
  return total;
}

std::string TaskNamed(const std::string& name) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(entry.path() / "comm");
    std::string text;
    std::getline(comm, text);
    if (text == name) return entry.path().string();
  }
  return {};
}

class TQuietPorts final : public net::THolderPorts {
 public:
  bool SendNamePacket(std::string_view, std::uint32_t, std::uint16_t) override { return true; }
  bool SendDatagram(std::string_view, std::uint32_t, std::uint16_t) override {
    sent.fetch_add(1);
    return true;
  }
  bool AdmitMessageFrom(std::uint32_t) override { return true; }
  std::atomic<int> sent{0};
};

void Idle() {
  net::TBrowseConfig config;
  config.computerName = "BENCH";
  config.workgroup = "WORKGROUP";
  config.shareName.clear();
  net::TBrowseService service(config);
  TQuietPorts ports;
  service.Started(ports);
  while (service.Announced() == 0) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);
  const std::string task = TaskNamed("browse");
  const long before = Switches(task);
  std::atomic<bool> stop{false};
  std::atomic<pid_t> anchorId{0};
  std::thread anchor([&] {
    anchorId = gettid();
    while (!stop) std::this_thread::sleep_for(1ms);
  });
  while (anchorId == 0) std::this_thread::sleep_for(1ms);
  const std::string anchorPath = "/proc/self/task/" + std::to_string(anchorId.load());
  const long anchorBefore = Switches(anchorPath);
  std::this_thread::sleep_for(5s);
  const long woke = Switches(task) - before;
  const long anchorWoke = Switches(anchorPath) - anchorBefore;
  stop = true;
  anchor.join();
  service.Stopped();
  std::printf(
      "idle: the browse thread woke %ld times in 5 s (%.1f a second); anchor (1 ms "
      "sleeps) %ld; ratio %.4f\n",
      woke, static_cast<double>(woke) / 5.0, anchorWoke,
      anchorWoke > 0 ? static_cast<double>(woke) / static_cast<double>(anchorWoke) : 0.0);
}

}  // namespace

int main() {
  Memory();
  Pauses();
  Idle();
  return 0;
}
