#pragma once
// Mailslots across the network: whether writes and receipts reach other
// machines, and why messages from other machines may not arrive.
//
// The transport is on unless the program's setting turned it off
// (SetNetworkEnabled) or the environment says PLING_NETWORK=off (also "0", "no",
// "false"), which wins over the setting, for scripts and tests. Off, mailslots
// are this machine's only, as local sockets are. The workgroup is read from the
// Samba configuration (PLING_SMB_CONF names another file than
// /etc/samba/smb.conf).
#include <string>

namespace pling::platform {

// The program's setting. Takes effect for the mailslots and network writes
// opened afterwards: call it before the first one.
void SetNetworkEnabled(bool enabled);
// Whether the transport is on: the setting, unless the environment turns it off.
bool NetworkEnabled();
// Empty while messages written on other machines reach this machine's mailslots
// (or the transport is off, or no mailslot was opened yet); otherwise one sentence
// for the user that says why they cannot be received.
std::string NetworkReceiveProblem();

}  // namespace pling::platform
