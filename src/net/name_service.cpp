// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/name_service.h"

#include <algorithm>
#include <random>
#include <system_error>

#include "net/resolver.h"
#include "net/wins.h"
#include "runtime/thread_name.h"

namespace pling::net {

TNameService::TNameService(TNameServiceConfig config) : FConfig(std::move(config)) {}

TNameService::~TNameService() {
  Stopped();
}

const std::vector<TInterface>& TNameService::Interfaces() {
  return FInterfaces.Get();
}

std::string TNameService::Started(THolderPorts& ports) {
  std::unique_lock<std::mutex> guard(FLock);
  if (FPorts != nullptr || FStop) return {};
  FPorts = &ports;
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // Claimed all the same, without the server's host name or a timer of its own.
    FTicksOnPackets = true;
    std::vector<TNameNotice> unknown;
    const std::vector<std::uint32_t> servers =
        ServerAddresses(std::chrono::milliseconds(0), unknown);
    const std::vector<TNameNotice> notices = StartClaim(servers, {});
    const bool claimed = NewlyClaimed();
    guard.unlock();
    Tell(notices, claimed);
  }
  return {};
}

std::vector<std::uint32_t> TNameService::ServerAddresses(std::chrono::milliseconds timeout,
                                                         std::vector<TNameNotice>& notices) const {
  std::vector<std::uint32_t> addresses;
  for (const std::string& server : WinsServerList(FConfig.server)) {
    if (const auto address = WinsServerAddress(server, timeout)) {
      addresses.push_back(*address);
    } else {
      TNameNotice notice;
      notice.kind = TNameNotice::TKind::ServerUnknown;
      notice.server = server;
      notices.push_back(notice);
    }
  }
  return addresses;
}

std::vector<TNameNotice> TNameService::StartClaim(const std::vector<std::uint32_t>& servers,
                                                  std::vector<TNameNotice> notices) {
  TNameClaimConfig config;
  config.names = FConfig.names;
  if (!servers.empty()) {
    config.server = servers.front();
    config.moreServers.assign(servers.begin() + 1, servers.end());
  }
  config.port = FConfig.port;
  config.timers = FConfig.timers;
  config.firstId = static_cast<std::uint16_t>(std::random_device{}());
  FClaim.emplace(std::move(config));
  FClaim->Start(Interfaces(), TClock::now());
  for (TNameNotice& notice : Flush()) notices.push_back(std::move(notice));
  return notices;
}

void TNameService::Run() {
  runtime::SetThreadName("netbios claims");
  // The server's address first: a host name may take the host resolver a while.
  std::vector<TNameNotice> notices;
  const std::vector<std::uint32_t> servers = ServerAddresses(kHostResolveTime, notices);
  std::unique_lock<std::mutex> guard(FLock);
  if (FStop) return;
  notices = StartClaim(servers, std::move(notices));
  for (;;) {
    const bool claimed = NewlyClaimed();
    guard.unlock();
    Tell(notices, claimed);
    guard.lock();
    if (FStop) return;
    // Asleep until the next deadline, or until a packet moves it; with none,
    // until the end.
    if (const auto next = FClaim->NextDeadline()) {
      FChanged.wait_until(guard, *next);
    } else {
      FChanged.wait(guard);
    }
    if (FStop) return;
    FClaim->Tick(TClock::now());
    notices = Flush();
  }
}

bool TNameService::TakeNamePacket(std::string_view packet, const TPacketSource& from) {
  std::vector<TNameNotice> notices;
  bool taken = false;
  bool claimed = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FClaim || FPorts == nullptr) return false;
    const TClock::time_point now = TClock::now();
    if (FTicksOnPackets) FClaim->Tick(now);
    taken = FClaim->Take(packet, from.address, from.port, IsOwnAddress(Interfaces(), from.address),
                         now);
    notices = Flush();
    claimed = NewlyClaimed();
  }
  FChanged.notify_all();
  Tell(notices, claimed);
  return taken;
}

bool TNameService::Holds(const TNetBiosName& name) const {
  std::lock_guard<std::mutex> guard(FLock);
  return FClaim && FClaim->Holds(name);
}

bool TNameService::Claimed() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FClaim && !FReleased && FClaim->Claimed();
}

bool TNameService::NewlyClaimed() {
  if (FClaimedTold || FReleased || !FClaim || !FClaim->Claimed()) return false;
  FClaimedTold = true;
  return true;
}

bool TNameService::Yields(const TNetBiosName& name) const {
  std::lock_guard<std::mutex> guard(FLock);
  return FClaim && FClaim->Yields(name);
}

std::vector<TNameNotice> TNameService::Flush() {
  for (const TNameClaim::TSend& send : FClaim->TakeSends()) {
    if (FPorts != nullptr) FPorts->SendNamePacket(send.packet, send.address, send.port);
  }
  return FClaim->TakeNotices();
}

void TNameService::Tell(const std::vector<TNameNotice>& notices, bool claimed) const {
  if (FConfig.notice) {
    for (const TNameNotice& notice : notices) FConfig.notice(notice);
  }
  if (claimed && FConfig.claimed) FConfig.claimed();
}

void TNameService::Stopping() {
  std::unique_lock<std::mutex> guard(FLock);
  if (!FClaim || FReleased || FPorts == nullptr) return;
  FReleased = true;
  FClaim->Release(TClock::now());
  Flush();
  // The server answers each release (TakeNamePacket sees it); nothing else is
  // waited for at the end.
  const TClock::time_point end = TClock::now() + FConfig.timers.releaseWait;
  while (FClaim->Releasing()) {
    const TClock::time_point next = std::min(FClaim->NextDeadline().value_or(end), end);
    FChanged.wait_until(guard, next);
    const TClock::time_point now = TClock::now();
    if (now >= end) break;
    FClaim->Tick(now);
    Flush();
  }
}

void TNameService::Stopped() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(FLock);
    // Released without waiting when the holder gave no last word.
    if (FClaim && !FReleased && FPorts != nullptr) {
      FReleased = true;
      FClaim->Release(TClock::now());
      Flush();
    }
    FPorts = nullptr;
    FStop = true;
    thread = std::move(FThread);
  }
  FChanged.notify_all();
  if (thread.joinable()) thread.join();
}

}  // namespace pling::net
