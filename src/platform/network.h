// SPDX-License-Identifier: GPL-3.0-or-later
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
//
// The WINS server: PLING_WINS_SERVER when it is set (empty: none), else the
// program's setting (SetWinsServerSetting) when not empty, else `wins server`
// in that Samba configuration. PLING_NAME_RETRY_MS (tests only) shortens the
// 250 ms between the broadcasts that claim this machine's names.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/holder_receive.h"
#include "net/neighbourhood.h"
#include "net/port_refusal.h"

namespace pling::platform {

// The program's setting. Takes effect for the mailslots and network writes
// opened afterwards: call it before the first one.
void SetNetworkEnabled(bool enabled);
// Whether the transport is on: the setting, unless the environment turns it off.
bool NetworkEnabled();
// Session messages: a write to the messenger mailslot of one other machine goes
// first as a session message on TCP 139, which that machine confirms, and as the
// datagram where it takes none (the write's TWriteDelivery tells which way it
// went). On unless the program's setting turns it off (and
// only while the transport is on). Receiving session messages is not affected.
void SetSessionMessagesEnabled(bool enabled);
bool SessionMessagesEnabled();

// Empty while messages written on other machines reach this machine's mailslots
// (or the transport is off, or no mailslot was opened yet); otherwise one sentence
// for the user that says why they cannot be received.
std::string NetworkReceiveProblem();
// The ports that sentence is about (every one another program holds, say);
// empty when it is about none.
std::vector<net::TPortRefusal> NetworkRefusedPorts();
// Whether Samba's file server hands the session messages it takes to this program
// (the `message command` of the Samba configuration runs `pling-cli deliver`).
bool SessionMessagesThroughSamba();

// The program's setting for the WINS server (an IPv4 address or a host name;
// empty: none, then the Samba configuration's). Like SetNetworkEnabled, call it
// before the first mailslot or network write.
void SetWinsServerSetting(std::string server);

// What the user should be told about this machine's names on the network:
// another machine holds one of them, the WINS server refused one, does not
// answer or cannot be found. One sentence, and a few words for a status line, in
// the ANSI code page (a net::TNameNotice in words). Only the process that holds
// the network ports learns them.
struct TNameNoticeText {
  std::string text;
  std::string brief;
};
// Calls `handler` once for each notice (each text once per process), on a
// thread of the transport's, and at once for those that came before. An empty
// handler stops the calls: once SetNameNoticeHandler returns, the previous
// handler is not running and is not called again.
void SetNameNoticeHandler(std::function<void(const TNameNoticeText&)> handler);

// Calls `handler` once, on a thread of the transport's, when other machines can
// reach this one: this process holds the network ports and has claimed this
// machine's names (about 0.75 s after the first mailslot opened; the session
// port listens by then where it can). Called at once when that happened before,
// or when another process on this machine holds the ports and receives for this
// one. Never while the transport is off or the ports cannot be had. Called again
// each time they can reach it after they could not (the holder this process
// waited on ended, and another came). An empty handler stops the calls, as for
// SetNameNoticeHandler.
void SetReachableHandler(std::function<void()> handler);
// Calls `handler`, on a thread of the transport's, each time receiving from
// other machines changes after it started: it stops (the holder this process
// waited on ended, and the ports cannot be had), starts (a holder came), or
// another problem keeps it from working (NetworkReceiveProblem). An empty handler
// stops the calls: once it returns, the previous one is not running.
void SetReceiveChangeHandler(std::function<void()> handler);
// Whether this process holds the network ports and is still claiming this
// machine's names: other machines cannot reach it yet (SetReachableHandler tells
// when they can).
bool NetworkClaimingNames();

// Each computer on the network may send this machine a limited number of
// messages a second (net/sender_limits.h); beyond that its messages are dropped.
// `handler` is told the address (IPv4, host byte order) of each such computer,
// once per address for the life of the process, whichever process on this
// machine dropped them. It runs on a thread of the transport's and must not wait.
// None (the default): nobody is told, and a later handler still hears of every
// address.
void SetNetworkNoticeHandler(std::function<void(std::uint32_t address)> handler);
// Tells the handler that messages from `address` were dropped; nothing when it
// was told of that address before. The transport calls it.
void ReportDroppedSender(std::uint32_t address);
// What the user is told: a sentence ("Messages from 10.0.0.5 were dropped: it
// sent more than 200 a second"), and the short form a status line has room for
// ("Dropped: 10.0.0.5"). For net::kAllSenders (0.0.0.0): all of them together
// went over the total budget.
std::string DroppedSenderText(std::uint32_t address);
std::string DroppedSenderStatus(std::uint32_t address);

// What this process took from the network and dropped while it held the ports
// (all zero in a process that does not hold them).
net::THolderCounts NetworkReceiveCounts();

// How a thread that serves a window waits while a mailslot write to another
// machine looks its name up (up to a few seconds the first time; see README):
// the write then runs on a thread of its own, and `wait(done)` keeps the window
// alive until done() is true. Without one, or on other threads, the writing
// thread simply blocks. The window installs one; it is called on that thread only
// when servesThisThread() says so.
struct TNetworkWait {
  std::function<bool()> servesThisThread;
  std::function<void(const std::function<bool()>& done)> wait;
};
void SetNetworkWait(TNetworkWait wait);
// Waits until done() is true through the installed wait when it serves the
// calling thread, and says so; false at once when none does.
bool ServeNetworkWait(const std::function<bool()>& done);

// [browse] The comment this machine's announcements carry (ANSI code page; empty:
// the default, see platform/neighbourhood.h). Call it before the first mailslot
// or network write; a later call changes the comment, and while this process
// holds the ports the new one is announced at once. PLING_BROWSE_ANSWER_MS
// (tests only) shortens the longest wait before an AnnouncementRequest is
// answered.
void SetBrowseCommentSetting(std::string comment);
// [browse] Called, on a thread of the transport's, when this process holds the
// ports and another process of this user says that the stored comment changed
// (TellCommentChanged): it reads the setting again and hands it to
// SetBrowseCommentSetting. It may read a file; it must not wait for anything
// else. Empty: such news is ignored.
void SetCommentChangeHandler(std::function<void()> handler);
// [browse] Tells the process that holds the ports (this one or another) that
// this user's stored comment changed; false when none listens.
bool TellCommentChanged();
// The neighbourhood this process hears, while it holds the network ports; else none.
std::shared_ptr<net::TNeighbourhood> HeldNeighbourhood();
// Called after each change of this process's neighbourhood, and when this
// process starts or stops hearing it (on a thread of the transport's; it must not
// wait). Empty: nobody.
void SetNeighbourhoodWatcher(std::function<void()> watcher);

}  // namespace pling::platform
