// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the transport remembers of paths that did not answer. A machine whose
// session port (TCP 139) lets a connection attempt run into its time-out (a
// firewall that drops rather than refuses, the default on many desktops) would
// cost that time-out again on every message. Once an attempt failed after
// waiting at least kSessionConnectTime, the machine's address is remembered for
// kSilentPathLifetime: messages to it go as datagrams at once (unconfirmed, as
// after a failed attempt). A session attempt that fails quickly (refused, or a
// session the machine declines) costs little and is not remembered; one that
// succeeds clears the memory.
//
// A name that did not resolve is remembered by the resolver's cache (TNameCache,
// kNegativeLifetime).
//
// With a board (silence_board.h), the silent machines are shared with this
// user's other programs, so that each `pling-cli send` does not wait again.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "net/silence_board.h"

namespace pling::net {

inline constexpr std::chrono::seconds kSilentPathLifetime{120};
static_assert(kSilentPathLifetime <= kLongestSilence, "the board keeps every silence");

class TPathMemory {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TPathMemory(std::string boardPath = {}) : FBoard(std::move(boardPath)) {}

  // Whether a session message to `address` (host byte order) is worth trying at `now`.
  bool SessionWorthTrying(std::uint32_t address, TClock::time_point now);
  // Records an attempt to `address` that began at `began` and ended at `ended`,
  // taken (`answered`) or not.
  void SessionTried(std::uint32_t address, bool answered, TClock::time_point began,
                    TClock::time_point ended);

 private:
  // Addresses kept at most; when full, the expired ones go, then the oldest.
  static constexpr std::size_t kMaxSilent = 1024;
  const TSilenceBoard FBoard;
  std::mutex FLock;
  std::unordered_map<std::uint32_t, TClock::time_point> FSilentUntil;
};

}  // namespace pling::net
