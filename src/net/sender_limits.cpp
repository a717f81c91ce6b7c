// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/sender_limits.h"

#include <algorithm>

namespace pling::net {

namespace {

// Refills `bucket` for the time since it was last refilled; whether it then holds
// a token, which is spent.
bool Spend(double& tokens, std::chrono::steady_clock::time_point& refilled, double rate,
           double burst, std::chrono::steady_clock::time_point now) {
  if (now > refilled) {
    const double elapsed = std::chrono::duration<double>(now - refilled).count();
    tokens = std::min(burst, tokens + elapsed * rate);
    refilled = now;
  }
  if (tokens < 1) return false;
  tokens -= 1;
  return true;
}

}  // namespace

TSenderLimits::TSenderLimits(TSenderLimit limit) : FLimit(limit) {
  FIndex.reserve(std::min<std::size_t>(FLimit.senders, 1024));
  for (TTotal& total : FTotals) total.bucket.tokens = FLimit.totalBurst;
}

TSenderVerdict TSenderLimits::Take(std::uint32_t address, TClock::time_point now, TSenderWay way) {
  auto found = FIndex.find(address);
  if (found == FIndex.end()) {
    if (FLimit.senders == 0) return TSenderVerdict::Take;
    if (FIndex.size() >= FLimit.senders) {
      // Forget the address heard from least recently; its bucket is reused.
      FIndex.erase(FOrder.back().address);
      FOrder.splice(FOrder.begin(), FOrder, std::prev(FOrder.end()));
      FOrder.front() = TBucket{};
    } else {
      FOrder.emplace_front();
    }
    TBucket& fresh = FOrder.front();
    fresh.address = address;
    fresh.tokens = FLimit.burst;
    fresh.refilled = now;
    found = FIndex.emplace(address, FOrder.begin()).first;
  } else if (found->second != FOrder.begin()) {
    FOrder.splice(FOrder.begin(), FOrder, found->second);
  }
  TBucket& bucket = *found->second;
  const auto report = [now](TBucket& reported) {
    if (reported.everReported && now - reported.reported < kLimitReportInterval) return false;
    reported.everReported = true;
    reported.reported = now;
    return true;
  };
  if (!Spend(bucket.tokens, bucket.refilled, FLimit.rate, FLimit.burst, now)) {
    return report(bucket) ? TSenderVerdict::DropAndReport : TSenderVerdict::Drop;
  }
  TTotal& total = FTotals[way == TSenderWay::Session ? 1 : 0];
  if (!total.started) {
    total.started = true;
    total.bucket.refilled = now;
  }
  if (FLimit.totalRate > 0 && !Spend(total.bucket.tokens, total.bucket.refilled, FLimit.totalRate,
                                     FLimit.totalBurst, now)) {
    return report(total.bucket) ? TSenderVerdict::DropAllAndReport : TSenderVerdict::DropAll;
  }
  return TSenderVerdict::Take;
}

}  // namespace pling::net
