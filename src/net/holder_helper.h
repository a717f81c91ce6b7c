// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The port holder's helper, for machines where no service manager binds the
// NetBIOS ports for the holder service. The helper is the holder program
// started by a user's Pling, as that user, with one privilege: the file
// capability cap_net_bind_service, which the package gives it where no systemd
// runs (and which its file mode keeps to the members of the group "pling",
// unless the administrator let every user run it).
//
// A user's program starts it when nobody holds the ports and it may not bind
// them itself (see THolderConfig::startHelper), and keeps the write end of a
// pipe whose read end is the helper's standard input: the helper ends when that
// closes, that is when the program that started it stops receiving or ends.
// Programs that wait on the helper then take over, each as it would when any
// holder ends.
//
// The helper binds the three ports itself, takes them as a service manager's
// sockets are taken (inherited_sockets.h), and gives up the capability before
// it reads a packet: what parses bytes from the network holds no privilege.
#include <cstdint>
#include <string>

#include "runtime/unique_fd.h"

namespace pling::net {

// The helper program: PLING_HOLDER_HELPER when it is set (empty: none), else the
// installed one (libexec/pling/pling-holder under the install prefix).
std::string HolderHelperPath();

// Whether `path` is a helper: a program file that holds a file capability (the
// package gives it one only where no systemd runs).
bool IsHolderHelper(const std::string& path);
// Whether this process may run the helper `path` (IsHolderHelper, and its mode
// lets this user execute it).
bool HelperRunnable(const std::string& path);

// Starts `path --bind` in a session of its own, its standard input the read end
// of a pipe and its standard output /dev/null (its standard error stays this
// process's, for what went wrong). Returns the pipe's write end: the helper runs
// until it is closed. Invalid when the helper could not be started.
runtime::TUniqueFd StartHolderHelper(const std::string& path);

// Whether the helper whose pipe's write end is `lifeline` still runs (its end of
// the pipe is open).
bool HelperRunning(int lifeline);

// The helper's side. Binds UDP `namePort` and `datagramPort` and TCP
// `sessionPort` on every IPv4 address, and keeps them for the holder to take as
// it takes a service manager's sockets. The session port is optional: a failure
// there leaves it to the session server to say why. Empty when the two UDP
// ports are held; else a sentence saying why not.
std::string BindHolderPorts(std::uint16_t namePort, std::uint16_t datagramPort,
                            std::uint16_t sessionPort);

// Gives up every capability this process holds (permitted, effective,
// inheritable; the ambient ones go with them). Whether it did.
bool DropCapabilities();

}  // namespace pling::net
