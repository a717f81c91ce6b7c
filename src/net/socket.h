// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small helpers around the UDP and Unix sockets the transport uses.
#include <cstdint>
#include <string_view>

#include "runtime/unique_fd.h"

namespace pling::net {

// A non-blocking UDP socket bound to `port` (0: any free one) on every IPv4
// address, allowed to broadcast. Invalid on failure, with errno set. A socket
// the service manager handed over for that port is taken instead of binding it
// (inherited_sockets.h).
runtime::TUniqueFd OpenUdpSocket(std::uint16_t port, bool broadcast);

// Sends one datagram to `address`:`port` (host byte order). False when the kernel
// did not take it whole. A full send buffer is waited for a little, unless
// `waitForRoom` is false.
bool SendTo(int fd, std::string_view payload, std::uint32_t address, std::uint16_t port,
            bool waitForRoom = true);

}  // namespace pling::net
