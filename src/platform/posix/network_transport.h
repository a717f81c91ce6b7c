// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Between the mailslot service and the network transport (posix/ only).
#include <memory>
#include <string_view>

#include "platform/mailslot_service.h"
#include "platform/network.h"

namespace pling::platform {

// The network transport for writes to other machines; null while it is off.
std::shared_ptr<IMailslotTransport> NetworkTransport();
// Starts receiving from other machines (once per process) when the transport is
// on; called when a mailslot is created.
void StartNetworkReceiving();
// Whether this process claims its user's messenger name (USER<03>) while it
// holds the ports (it does unless told otherwise). The holder service runs
// under an account of its own and claims only the names of the users whose
// programs wait on it. Call it before the transport is first used.
void SetOwnUserNameClaimed(bool claimed);
// Hands the copy of a workgroup write to this machine's mailslot `oemSlotName`
// (OEM code page, as the wire carries it), whichever process holds it, waiting
// only a moment for room. False when it is not open or takes nothing now.
// Defined with the mailslot service.
bool DeliverToLocalMailslot(std::string_view oemSlotName, std::string_view data);
// Hands a notice about this machine's names to the handler (see
// SetNameNoticeHandler); a text told before is not told again.
void TellNameNotice(const TNameNoticeText& notice);
// Tells the reachable handler (SetReachableHandler) that this process holds the
// ports and has claimed this machine's names, or waits on a holder that
// settled its user's name; once, until TellReceiveChanged finds it lost.
void TellReachable();
// Tells the change handler (SetReceiveChangeHandler) when receiving from other
// machines changed; the transport calls it on each change of its holder.
void TellReceiveChanged();
// A non-blocking datagram socket connected to this machine's mailslot
// `oemSlotName`, for the port holder's hand-over; -1 when it is not open.
int ConnectLocalMailslot(std::string_view oemSlotName);

}  // namespace pling::platform
