// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How much this machine takes from one sender on the network: a token bucket per
// source address. Each address may send kSenderRate packets a second on average,
// and up to kSenderBurst at once after a quiet spell; what it sends beyond that
// is dropped, so that one host that floods cannot fill the queues ahead of
// everyone else. The table of addresses is bounded: at most kMaxSenders are kept,
// and the one heard from least recently is forgotten first (it starts again with
// a full bucket). Not thread-safe: one table per receiving thread.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

namespace pling::net {

inline constexpr double kSenderRate = 200;    // packets a second
inline constexpr double kSenderBurst = 1000;  // packets at once
inline constexpr std::size_t kMaxSenders = 4096;
// While an address keeps being dropped, the drop is reported again after this
// long, so that a program that starts meanwhile hears of it too.
inline constexpr std::chrono::seconds kLimitReportInterval{10};

struct TSenderLimit {
  double rate = kSenderRate;
  double burst = kSenderBurst;
  std::size_t senders = kMaxSenders;
};

enum class TSenderVerdict {
  Take,           // within the limit
  Drop,           // over it
  DropAndReport,  // over it, and the drop is to be reported (the first one, or
                  // the first after kLimitReportInterval)
};

class TSenderLimits {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TSenderLimits(TSenderLimit limit = {});

  // Whether one more packet from `address` (host byte order) is taken at `now`;
  // taking it spends one token of the address's bucket.
  TSenderVerdict Take(std::uint32_t address, TClock::time_point now);

  // How many addresses are kept.
  std::size_t Size() const { return FIndex.size(); }

 private:
  struct TBucket {
    std::uint32_t address = 0;
    double tokens = 0;
    TClock::time_point refilled{};
    TClock::time_point reported{};
    bool everReported = false;
  };
  const TSenderLimit FLimit;
  std::list<TBucket> FOrder;  // most recently heard from first
  std::unordered_map<std::uint32_t, std::list<TBucket>::iterator> FIndex;
};

}  // namespace pling::net
