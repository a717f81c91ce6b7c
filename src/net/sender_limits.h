// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How much this machine takes from one sender on the network: a token bucket per
// source address. Each address may send kSenderRate packets a second on average,
// and up to kSenderBurst at once after a quiet spell; what it sends beyond that
// is dropped, so that one host that floods cannot fill the queues ahead of
// everyone else. The table of addresses is bounded: at most kMaxSenders are kept,
// and the one heard from least recently is forgotten first (it starts again with
// a full bucket). On top of that, all senders together get a total budget
// (kTotalRate a second, kTotalBurst at once): many addresses (forged ones, say)
// that each stay within their own limit still cannot make this machine spend more
// than a set share of a core on what they send. A sender's datagrams and its
// session messages spend one bucket; each of the two ways has a total budget of
// its own, so that forged datagrams, which cost nothing to send from a thousand
// addresses, do not also shut out session messages, which come over connections
// that cannot be forged. Not thread-safe.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

namespace pling::net {

inline constexpr double kSenderRate = 200;    // packets a second
inline constexpr double kSenderBurst = 1000;  // packets at once
inline constexpr double kTotalRate = 500;     // packets a second from all senders
inline constexpr double kTotalBurst = 4000;   // packets at once from all senders
inline constexpr std::size_t kMaxSenders = 4096;
// While an address keeps being dropped, the drop is reported again after this
// long, so that a program that starts meanwhile hears of it too.
inline constexpr std::chrono::seconds kLimitReportInterval{10};

struct TSenderLimit {
  double rate = kSenderRate;
  double burst = kSenderBurst;
  std::size_t senders = kMaxSenders;
  double totalRate = kTotalRate;
  double totalBurst = kTotalBurst;
};

// The address a drop over the total budget is reported for: no one sender's.
inline constexpr std::uint32_t kAllSenders = 0;

enum class TSenderVerdict {
  Take,              // within the limit
  Drop,              // over it
  DropAndReport,     // over it, and the drop is to be reported (the first one, or
                     // the first after kLimitReportInterval)
  DropAll,           // within it, but all senders together are over the total budget
  DropAllAndReport,  // the same, and that is to be reported (for kAllSenders)
};

// Whether the packet is taken; whether a drop is to be reported.
inline bool Taken(TSenderVerdict verdict) {
  return verdict == TSenderVerdict::Take;
}
inline bool ToReport(TSenderVerdict verdict) {
  return verdict == TSenderVerdict::DropAndReport || verdict == TSenderVerdict::DropAllAndReport;
}

// The way a message came: its total budget.
enum class TSenderWay { Datagram, Session };

class TSenderLimits {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TSenderLimits(TSenderLimit limit = {});

  // Whether one more packet from `address` (host byte order) that came `way` is
  // taken at `now`; taking it spends one token of the address's bucket and one
  // of the way's total budget.
  TSenderVerdict Take(std::uint32_t address, TClock::time_point now,
                      TSenderWay way = TSenderWay::Datagram);

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
  struct TTotal {
    TBucket bucket;  // all senders together
    bool started = false;
  };
  TTotal FTotals[2];          // by TSenderWay
  std::list<TBucket> FOrder;  // most recently heard from first
  std::unordered_map<std::uint32_t, std::list<TBucket>::iterator> FIndex;
};

}  // namespace pling::net
