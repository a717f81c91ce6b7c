// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/path_memory.h"

#include <algorithm>

#include "net/session_client.h"

namespace pling::net {

bool TPathMemory::SessionWorthTrying(std::uint32_t address, TClock::time_point now) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FSilentUntil.find(address);
  if (found == FSilentUntil.end()) return true;
  if (now < found->second) return false;
  FSilentUntil.erase(found);
  return true;
}

void TPathMemory::SessionTried(std::uint32_t address, bool answered, TClock::time_point began,
                               TClock::time_point ended) {
  std::lock_guard<std::mutex> guard(FLock);
  if (answered) {
    FSilentUntil.erase(address);
    return;
  }
  if (ended - began < kSessionConnectTime) return;
  if (FSilentUntil.size() >= kMaxSilent && !FSilentUntil.contains(address)) {
    std::erase_if(FSilentUntil, [ended](const auto& entry) { return entry.second <= ended; });
    if (FSilentUntil.size() >= kMaxSilent) {
      FSilentUntil.erase(
          std::min_element(FSilentUntil.begin(), FSilentUntil.end(),
                           [](const auto& a, const auto& b) { return a.second < b.second; }));
    }
  }
  FSilentUntil[address] = ended + kSilentPathLifetime;
}

}  // namespace pling::net
