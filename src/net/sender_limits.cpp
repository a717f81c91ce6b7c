// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/sender_limits.h"

#include <algorithm>

namespace pling::net {

TSenderLimits::TSenderLimits(TSenderLimit limit) : FLimit(limit) {
  FIndex.reserve(std::min<std::size_t>(FLimit.senders, 1024));
}

TSenderVerdict TSenderLimits::Take(std::uint32_t address, TClock::time_point now) {
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
  if (now > bucket.refilled) {
    const double elapsed = std::chrono::duration<double>(now - bucket.refilled).count();
    bucket.tokens = std::min(FLimit.burst, bucket.tokens + elapsed * FLimit.rate);
    bucket.refilled = now;
  }
  if (bucket.tokens >= 1) {
    bucket.tokens -= 1;
    return TSenderVerdict::Take;
  }
  if (!bucket.everReported || now - bucket.reported >= kLimitReportInterval) {
    bucket.everReported = true;
    bucket.reported = now;
    return TSenderVerdict::DropAndReport;
  }
  return TSenderVerdict::Drop;
}

}  // namespace pling::net
