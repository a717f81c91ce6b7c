// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether Samba on this machine is set to use the NetBIOS ports: its name
// server (nmbd, or the domain controller samba-ad-dc) takes UDP 137 and 138,
// its file server (smbd, or samba-ad-dc) TCP 139. A Samba that is installed and
// enabled (started at boot by systemd, or by a System V init script) keeps its
// ports: the port holder service does not take them, and the programs say what
// that means for receiving.
#include <string>

namespace pling::net {

struct TSambaServices {
  std::string datagram;  // the enabled service that takes UDP 137 and 138 ("nmbd"); empty: none
  std::string session;   // the enabled service that takes TCP 139 ("smbd"); empty: none
};

// What is enabled under `root` (the file system's root; another folder for tests).
TSambaServices EnabledSambaServices(const std::string& root = "/");

// The sentence for the user when an enabled Samba keeps the datagram ports (a
// sentence for CannotReceive), or the session port (for the session server's).
std::string SambaKeepsDatagramPorts(const std::string& service);
std::string SambaKeepsSessionPort(const std::string& service);

}  // namespace pling::net
