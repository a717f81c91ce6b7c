// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/path_memory.h"

#include <algorithm>

#include "net/session_client.h"

namespace pling::net {
namespace {
std::string BoardKey(std::uint32_t address) {
  return "path:" + std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 255) + '.' +
         std::to_string(address >> 8 & 255) + '.' + std::to_string(address & 255);
}
}  // namespace

bool TPathMemory::SessionWorthTrying(std::uint32_t address, TClock::time_point now) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FSilentUntil.find(address);
    if (found != FSilentUntil.end()) {
      if (now < found->second) return false;
      FSilentUntil.erase(found);
    }
  }
  const std::optional<TSilence> shared = FBoard.Find(BoardKey(address), now);
  return !shared || now >= shared->until;
}

void TPathMemory::SessionTried(std::uint32_t address, bool answered, TClock::time_point began,
                               TClock::time_point ended) {
  if (answered) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FSilentUntil.erase(address);
    }
    FBoard.Remove(BoardKey(address), ended);
    return;
  }
  if (ended - began < kSessionConnectTime) return;
  FBoard.Put(BoardKey(address), TSilence{ended + kSilentPathLifetime, kSilentPathLifetime}, ended);
  std::lock_guard<std::mutex> guard(FLock);
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
