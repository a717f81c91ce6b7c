// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/mailslot_outbox.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/netbios.h"

namespace pling::net {

namespace {

std::string Key(std::string_view slotName) {
  return NetBiosUpper(slotName);
}

}  // namespace

TMailslotOutbox::TMailslotOutbox(TConnect connect, std::size_t maxQueued)
    : FConnect(std::move(connect)), FMaxQueued(maxQueued), FWatch(::epoll_create1(EPOLL_CLOEXEC)) {}

TMailslotOutbox::TTargets::iterator TMailslotOutbox::Find(std::string_view slotName, bool& full) {
  full = false;
  const std::string key = Key(slotName);
  const auto found = std::find_if(FTargets.begin(), FTargets.end(),
                                  [&key](const TTarget& target) { return target.key == key; });
  if (found != FTargets.end()) {
    FTargets.splice(FTargets.begin(), FTargets, found);
    return FTargets.begin();
  }
  runtime::TUniqueFd socket = FConnect ? FConnect(key) : runtime::TUniqueFd();
  if (!socket.Valid()) return FTargets.end();
  if (FTargets.size() >= kOutboxMailslots) {
    // The connection used least recently goes, unless messages wait on it.
    const auto idle = std::find_if(FTargets.rbegin(), FTargets.rend(),
                                   [](const TTarget& target) { return target.queue.empty(); });
    if (idle == FTargets.rend()) {
      full = true;
      return FTargets.end();
    }
    FTargets.erase(std::next(idle).base());
  }
  FTargets.push_front(TTarget{key, std::move(socket), {}});
  return FTargets.begin();
}

int TMailslotOutbox::SendOne(TTarget& target, std::string_view data) {
  for (bool reconnected = false;;) {
    const ssize_t sent =
        ::send(target.socket.Get(), data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return 1;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    // The mailslot was closed: it may have been opened again since.
    if (reconnected) return -1;
    reconnected = true;
    const bool watched = target.watched;
    Watch(target, false);
    target.socket = FConnect ? FConnect(target.key) : runtime::TUniqueFd();
    if (!target.socket.Valid()) return -1;
    if (watched) Watch(target, true);
  }
}

void TMailslotOutbox::Watch(TTarget& target, bool on) {
  if (!FWatch.Valid() || on == target.watched) return;
  if (on) {
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.ptr = &target;
    target.watched = ::epoll_ctl(FWatch.Get(), EPOLL_CTL_ADD, target.socket.Get(), &event) == 0;
  } else {
    ::epoll_ctl(FWatch.Get(), EPOLL_CTL_DEL, target.socket.Get(), nullptr);
    target.watched = false;
  }
}

TOutboxResult TMailslotOutbox::Deliver(std::string_view slotName, std::string_view data) {
  bool full = false;
  const auto target = Find(slotName, full);
  if (target == FTargets.end()) return full ? TOutboxResult::Full : TOutboxResult::NoMailslot;
  if (!target->queue.empty()) {
    // Behind the messages already waiting, to keep the order.
    if (target->queue.size() >= FMaxQueued) return TOutboxResult::Full;
    target->queue.emplace_back(data);
    ++FQueuedTotal;
    return TOutboxResult::Queued;
  }
  const int sent = SendOne(*target, data);
  if (sent > 0) return TOutboxResult::Sent;
  if (sent < 0) {
    FTargets.erase(target);
    return TOutboxResult::NoMailslot;
  }
  Watch(*target, true);
  // Unwatched, nothing would send it on.
  if (!target->watched || FMaxQueued == 0) return TOutboxResult::Full;
  target->queue.emplace_back(data);
  ++FQueuedTotal;
  return TOutboxResult::Queued;
}

void TMailslotOutbox::Flush(std::uint64_t& lost) {
  for (auto target = FTargets.begin(); target != FTargets.end();) {
    int sent = 1;
    while (!target->queue.empty() && (sent = SendOne(*target, target->queue.front())) > 0) {
      target->queue.pop_front();
      --FQueuedTotal;
    }
    if (sent < 0) {
      lost += target->queue.size();
      FQueuedTotal -= target->queue.size();
      Watch(*target, false);
      target = FTargets.erase(target);
      continue;
    }
    if (target->queue.empty()) Watch(*target, false);
    ++target;
  }
}

}  // namespace pling::net
