// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// For tests that switch the network transport on: only in a network namespace of
// their own, where nothing they send can leave the machine.
#include <ifaddrs.h>
#include <net/if.h>

#include <cstdlib>

namespace pling::testing {

// Whether this process sees no network interface but the loopback: a network
// namespace of its own, where the network transport may be on.
inline bool OnlyLoopback() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool only = true;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if ((i->ifa_flags & IFF_LOOPBACK) == 0) only = false;
  }
  freeifaddrs(list);
  return only;
}

// Switches the network transport on for one test (the test programs run with it
// off); only where OnlyLoopback() holds.
struct NetworkOnInThisNamespace {
  NetworkOnInThisNamespace() { setenv("PLING_NETWORK", "on", 1); }
  ~NetworkOnInThisNamespace() { setenv("PLING_NETWORK", "off", 1); }
  NetworkOnInThisNamespace(const NetworkOnInThisNamespace&) = delete;
  NetworkOnInThisNamespace& operator=(const NetworkOnInThisNamespace&) = delete;
};

}  // namespace pling::testing
