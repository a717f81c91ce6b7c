// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// This machine's IPv4 interfaces, as the transport needs them: where a
// workgroup datagram or a name query goes (each interface's broadcast address),
// which source address a datagram names, and whether a packet came from here.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace pling::net {

struct TInterface {
  std::string name;
  std::uint32_t address = 0;    // host byte order
  std::uint32_t netmask = 0;    // host byte order
  std::uint32_t broadcast = 0;  // host byte order; 0 when the interface has none
  bool loopback = false;
};

// The broadcast address of the subnet `address`/`netmask` (host byte order); 0
// for a subnet of one or two addresses, which has none.
std::uint32_t SubnetBroadcast(std::uint32_t address, std::uint32_t netmask);

// Every IPv4 address of an interface that is up (the loopback ones too). An
// address set without a broadcast address gets its subnet's; a point-to-point
// link has none.
std::vector<TInterface> Ipv4Interfaces();

// This machine's interfaces as last read, read again when they are older than
// two seconds (and only when asked: nothing wakes up for it). One owner a cache:
// a thread of its own, or whoever holds the lock that guards it.
class TInterfaceCache {
 public:
  using TClock = std::chrono::steady_clock;
  const std::vector<TInterface>& Get(TClock::time_point now = TClock::now());

 private:
  std::vector<TInterface> FInterfaces;
  TClock::time_point FRead{};
};

// The interfaces that can broadcast: up, not loopback, with a broadcast address;
// one per broadcast address (the first of the addresses that share it).
std::vector<TInterface> BroadcastInterfaces(const std::vector<TInterface>& all);

// The address this machine uses towards `destination`: that of the interface on
// its subnet, else the first that is not a loopback one, else 0.
std::uint32_t SourceAddressFor(const std::vector<TInterface>& all, std::uint32_t destination);

// Whether `address` is one of this machine's own.
bool IsOwnAddress(const std::vector<TInterface>& all, std::uint32_t address);

// Whether a packet from `address` was sent on this machine: from one of its
// addresses or from the loopback network (127/8).
bool IsLocalSender(const std::vector<TInterface>& all, std::uint32_t address);

// Whether an answer may go to `address`: a single host elsewhere. Never to
// 0.0.0.0/8, the loopback network 127/8, multicast and the reserved range above
// it (224.0.0.0 and up, 255.255.255.255 included), nor to the network or
// broadcast address of a subnet of this machine: a packet that claims to come
// from one of those would otherwise make this machine answer a whole subnet.
bool MayAnswer(const std::vector<TInterface>& all, std::uint32_t address);

}  // namespace pling::net
