// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The port holder's hand-over to this machine's mailslots, whichever process
// holds them, that never waits. Each mailslot gets a datagram socket connected to
// it, kept for the next message. A message goes at once when the mailslot's
// socket has room; else it waits in a short queue of its own (the kernel holds
// only a few datagrams for a socket, and its reader takes them in batches) and
// goes on as soon as there is room, in order. A mailslot whose queue is full as
// well, because its reader takes no more, loses the message at once.
//
// Not thread-safe: the holder's thread alone uses it.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <string>
#include <string_view>

#include "net/socket.h"

namespace pling::net {

// Messages kept for one mailslot while its socket has no room.
inline constexpr std::size_t kOutboxMessages = 1024;
// Mailslots a connection is kept to.
inline constexpr std::size_t kOutboxMailslots = 64;

// What became of a message handed to the outbox.
enum class TOutboxResult { Sent, Queued, NoMailslot, Full };

class TMailslotOutbox {
 public:
  // Connects to this machine's mailslot `slotName` (as it came over the wire): a
  // non-blocking datagram socket connected to it, or an invalid one when no
  // mailslot of that name is open.
  using TConnect = std::function<runtime::TUniqueFd(std::string_view slotName)>;

  explicit TMailslotOutbox(TConnect connect, std::size_t maxQueued = kOutboxMessages);
  TMailslotOutbox(const TMailslotOutbox&) = delete;
  TMailslotOutbox& operator=(const TMailslotOutbox&) = delete;

  // Readable while a queued message may go on: the holder watches it and then
  // calls Flush. Invalid when it could not be made (messages then never queue).
  int WatchFd() const { return FWatch.Get(); }

  TOutboxResult Deliver(std::string_view slotName, std::string_view data);

  // Sends what waits, as far as there is room. `lost` counts the messages whose
  // mailslot has gone meanwhile.
  void Flush(std::uint64_t& lost);

  // Messages waiting, over every mailslot.
  std::size_t Queued() const { return FQueuedTotal; }

 private:
  struct TTarget {
    std::string key;  // the name in ASCII upper case
    runtime::TUniqueFd socket;
    std::deque<std::string> queue;
    bool watched = false;  // its socket is in FWatch
  };
  using TTargets = std::list<TTarget>;

  // The target for `slotName`, connected now if need be; the end when no such
  // mailslot is open, or (`full` set) no more connections can be kept.
  TTargets::iterator Find(std::string_view slotName, bool& full);
  // Sends `data` on `target`'s socket: 1 sent, 0 no room, -1 the mailslot is gone
  // (after one attempt to connect again, for a mailslot opened anew).
  int SendOne(TTarget& target, std::string_view data);
  void Watch(TTarget& target, bool on);

  TConnect FConnect;
  const std::size_t FMaxQueued;
  runtime::TUniqueFd FWatch;
  TTargets FTargets;  // most recently used first
  std::size_t FQueuedTotal = 0;
};

}  // namespace pling::net
