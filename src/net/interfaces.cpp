// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

namespace pling::net {

namespace {

std::uint32_t HostOrder(const sockaddr* address) {
  return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

}  // namespace

std::uint32_t SubnetBroadcast(std::uint32_t address, std::uint32_t netmask) {
  // A /31 or /32 has no broadcast address: its one or two hosts are each other's.
  if ((~netmask) <= 1) return 0;
  return address | ~netmask;
}

std::vector<TInterface> Ipv4Interfaces() {
  std::vector<TInterface> result;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0) continue;
    TInterface found;
    found.name = entry->ifa_name != nullptr ? entry->ifa_name : "";
    found.address = HostOrder(entry->ifa_addr);
    if (entry->ifa_netmask != nullptr) found.netmask = HostOrder(entry->ifa_netmask);
    found.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    // A link that takes broadcasts (a point-to-point one takes none).
    const bool broadcasts = (entry->ifa_flags & IFF_BROADCAST) != 0 &&
                            (entry->ifa_flags & IFF_POINTOPOINT) == 0 && !found.loopback;
    if (broadcasts && entry->ifa_broadaddr != nullptr &&
        entry->ifa_broadaddr->sa_family == AF_INET) {
      found.broadcast = HostOrder(entry->ifa_broadaddr);
    }
    // An address set without a broadcast address (as VPNs and some containers set
    // them) reports none, or itself: its subnet's is the one its neighbours hear.
    if (broadcasts && (found.broadcast == 0 || found.broadcast == found.address)) {
      found.broadcast = SubnetBroadcast(found.address, found.netmask);
    }
    result.push_back(std::move(found));
  }
  ::freeifaddrs(list);
  return result;
}

const std::vector<TInterface>& TInterfaceCache::Get(TClock::time_point now) {
  // How long the interface list is trusted before it is read again.
  constexpr auto kLifetime = std::chrono::seconds(2);
  if (FInterfaces.empty() || now - FRead > kLifetime) {
    FInterfaces = Ipv4Interfaces();
    FRead = now;
  }
  return FInterfaces;
}

std::vector<TInterface> BroadcastInterfaces(const std::vector<TInterface>& all) {
  // Several addresses on one subnet share its broadcast address: one entry for
  // it, else everything sent to all would arrive there once per address.
  std::vector<TInterface> result;
  for (const TInterface& i : all) {
    // An address set without a broadcast address reports itself as one: it has none.
    if (i.loopback || i.broadcast == 0 || i.broadcast == i.address) continue;
    if (std::none_of(result.begin(), result.end(),
                     [&i](const TInterface& kept) { return kept.broadcast == i.broadcast; })) {
      result.push_back(i);
    }
  }
  return result;
}

std::uint32_t SourceAddressFor(const std::vector<TInterface>& all, std::uint32_t destination) {
  for (const TInterface& i : all) {
    if (!i.loopback && i.netmask != 0 && (i.address & i.netmask) == (destination & i.netmask)) {
      return i.address;
    }
  }
  for (const TInterface& i : all) {
    if (!i.loopback) return i.address;
  }
  return 0;
}

bool IsOwnAddress(const std::vector<TInterface>& all, std::uint32_t address) {
  return std::any_of(all.begin(), all.end(),
                     [address](const TInterface& i) { return i.address == address; });
}

bool IsLocalSender(const std::vector<TInterface>& all, std::uint32_t address) {
  return (address >> 24) == 127 || IsOwnAddress(all, address);
}

bool MayAnswer(const std::vector<TInterface>& all, std::uint32_t address) {
  const std::uint32_t first = address >> 24;
  if (first == 0 || first == 127 || first >= 224) return false;
  return std::none_of(all.begin(), all.end(), [address](const TInterface& i) {
    if (i.broadcast != 0 && address == i.broadcast) return true;
    // A subnet of /31 or /32 has no network or broadcast address of its own.
    if (i.netmask == 0 || (~i.netmask) <= 1) return false;
    const std::uint32_t network = i.address & i.netmask;
    return address == network || address == (network | ~i.netmask);
  });
}

}  // namespace pling::net
