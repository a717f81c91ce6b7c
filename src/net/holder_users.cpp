// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/holder_users.h"

#include <algorithm>

namespace pling::net {

namespace {

constexpr std::uint8_t kMessengerSuffix = 0x03;

// The key a user goes by: the name as its messenger name carries it.
std::string Key(std::string_view user) {
  return TNetBiosName::Make(user, kMessengerSuffix).Name();
}

}  // namespace

THolderUsers::THolderUsers(TNameServiceConfig base, std::vector<TNetBiosName> own)
    : FBase(std::move(base)), FOwn(std::move(own)) {}

THolderUsers::~THolderUsers() {
  Stopped();
}

std::string THolderUsers::Started(THolderPorts& ports) {
  std::lock_guard<std::mutex> guard(FLock);
  FPorts = &ports;
  return {};
}

std::vector<std::shared_ptr<TNameService>> THolderUsers::Services() const {
  std::vector<std::pair<std::size_t, std::shared_ptr<TNameService>>> ordered;
  for (const auto& [name, user] : FUsers) {
    if (user.service) ordered.emplace_back(user.order, user.service);
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::shared_ptr<TNameService>> services;
  for (auto& entry : ordered) services.push_back(std::move(entry.second));
  return services;
}

bool THolderUsers::TakeNamePacket(std::string_view packet, const TPacketSource& from) {
  std::vector<std::shared_ptr<TNameService>> services;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FPorts == nullptr || FUsers.empty()) return false;
    services = Services();
  }
  for (const auto& service : services) service->TakeNamePacket(packet, from);
  return false;
}

void THolderUsers::Stopping() {
  std::vector<std::shared_ptr<TNameService>> services;
  {
    std::lock_guard<std::mutex> guard(FLock);
    services = Services();
  }
  for (const auto& service : services) service->Stopping();
}

void THolderUsers::Stopped() {
  std::vector<std::shared_ptr<TNameService>> services;
  {
    std::lock_guard<std::mutex> guard(FLock);
    services = Services();
    FUsers.clear();
    FClaims = 0;
    FPorts = nullptr;
  }
  for (const auto& service : services) service->Stopped();
}

void THolderUsers::Watch(std::function<void()> settled) {
  std::lock_guard<std::mutex> guard(FLock);
  FSettled = std::move(settled);
}

void THolderUsers::Join(std::string_view user) {
  std::shared_ptr<TNameService> started;
  THolderPorts* ports = nullptr;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FPorts == nullptr) return;
    const std::string key = Key(user);
    auto found = FUsers.find(key);
    if (found != FUsers.end()) {
      ++found->second.programs;
      return;
    }
    TUser entry;
    entry.programs = 1;
    entry.order = FNextOrder++;
    const TNetBiosName name = TNetBiosName::Make(user, kMessengerSuffix);
    const bool own = std::find(FOwn.begin(), FOwn.end(), name) != FOwn.end();
    if (!own && FClaims < kMaxUsers) {
      TNameServiceConfig config;
      config.names = {{name, false}};
      config.server = FBase.server;
      config.port = FBase.port;
      config.timers = FBase.timers;
      config.notice = FBase.notice;
      // Whoever waits for the name hears of it once it is settled.
      config.claimed = [this] {
        std::function<void()> settled;
        {
          std::lock_guard<std::mutex> inner(FLock);
          settled = FSettled;
        }
        if (settled) settled();
      };
      entry.service = std::make_shared<TNameService>(std::move(config));
      started = entry.service;
      ++FClaims;
    }
    ports = FPorts;
    FUsers.emplace(key, std::move(entry));
  }
  // Claimed from now on; its packets come to TakeNamePacket.
  if (started) started->Started(*ports);
}

void THolderUsers::Leave(std::string_view user) {
  std::shared_ptr<TNameService> released;
  {
    std::lock_guard<std::mutex> guard(FLock);
    auto found = FUsers.find(Key(user));
    if (found == FUsers.end() || --found->second.programs > 0) return;
    released = std::move(found->second.service);
    if (released) --FClaims;
    FUsers.erase(found);
  }
  // The name is released by broadcast (and with the server) as the claim ends.
  if (released) released->Stopped();
}

bool THolderUsers::Settled(std::string_view user) const {
  std::shared_ptr<TNameService> service;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FUsers.find(Key(user));
    if (found == FUsers.end()) return false;
    service = found->second.service;
  }
  return !service || service->Claimed();
}

bool THolderUsers::Takes(const TNetBiosName& name) const {
  if (name.Suffix() != kMessengerSuffix) return false;
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FUsers.find(name.Name());
  return found != FUsers.end() && found->second.service && !found->second.service->Yields(name);
}

bool THolderUsers::Holds(const TNetBiosName& name) const {
  if (name.Suffix() != kMessengerSuffix) return false;
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FUsers.find(name.Name());
  return found != FUsers.end() && found->second.service && found->second.service->Holds(name);
}

std::vector<TNetBiosName> THolderUsers::Held() const {
  std::vector<TNetBiosName> held;
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<std::pair<std::size_t, TNetBiosName>> ordered;
  for (const auto& [user, entry] : FUsers) {
    const TNetBiosName name = TNetBiosName::Make(user, kMessengerSuffix);
    if (entry.service && entry.service->Holds(name)) ordered.emplace_back(entry.order, name);
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& entry : ordered) held.push_back(entry.second);
  return held;
}

}  // namespace pling::net
