// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sockets a service manager bound for this process and handed to it when it
// started (socket activation: the LISTEN_PID and LISTEN_FDS protocol), so that
// a process with no right to ports below 1024 still serves them. Where one was
// handed over for a port, the holder of the ports takes a copy of it instead of
// binding that port itself (OpenUdpSocket, the session server's listener).
#include <cstdint>

#include "runtime/unique_fd.h"

namespace pling::net {

// Takes the sockets the environment says this process was handed (LISTEN_FDS
// descriptors from 3 on, when LISTEN_PID is this process), and removes those
// variables so that no child takes them too. The number of sockets taken.
int AdoptInheritedSockets();
// Takes `count` sockets from descriptor `first` on (for tests: no environment).
int AdoptSockets(int first, int count);

// A copy of the handed-over socket of `type` (SOCK_DGRAM or SOCK_STREAM) bound
// to IPv4 `port`, non-blocking and closed on exec; invalid when there is none.
// The original stays with this process, so a later holder can take it again.
runtime::TUniqueFd InheritedSocket(int type, std::uint16_t port);

}  // namespace pling::net
