// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Mailslot writes between machines over NetBIOS datagrams (UDP 138), with names
// found by NetBIOS name queries (UDP 137).
//
// Receiving: one process per machine holds the ports and hands what arrives to
// the local mailslots (see port_holder.h). When the ports cannot be had (no
// privilege for ports below 1024, or another program such as a NetBIOS name
// server holds them) the transport still sends, and ReceiveProblem() says why
// messages from other machines are not received.
//
// Names. The holder claims this machine's unique names (the user's messenger
// name too, unless userName is empty) and the workgroup's group name on every
// subnet, and the messenger names of the users whose processes wait on it
// (holder_users.h), and with the WINS server when one is configured,
// defends them, and releases them when it ends (name_service.h, name_claim.h); it
// answers for a name, and takes datagrams for it, only while it holds it. What
// the user should know about them (another machine holds one, the server refused
// one or does not answer) goes to TTransportConfig::nameNotice.
//
// The holder also takes session messages on TCP 139 (session_server.h); when
// another program holds that port, ReceiveProblem() says so while datagrams are
// still received.
//
// Sending. A write to NAME goes as a direct unique datagram to NAME's address
// (see resolver.h); a write to "*" or "DOMAIN*" as a direct group datagram to
// WORKGROUP<00> (DOMAIN<00>) at every interface's broadcast address, and also to
// this machine's own mailslot, once: the holder ignores group datagrams that
// come from this machine's own addresses. Datagrams go from a port of the
// writer's own; the header names port 138, as receivers expect. Name queries go
// from port 137 when this process holds it (some old peers answer only there),
// else from a port of their own. Asked to, a message to one machine goes first
// as a session message, which the machine confirms (session_client.h).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/holder_receive.h"
#include "net/mailslot_outbox.h"
#include "net/name_claim.h"
#include "net/neighbourhood.h"
#include "net/port_refusal.h"
#include "runtime/unique_fd.h"

namespace pling::net {

struct TTransportConfig {
  std::string computerName;  // OEM code page, upper case
  std::string userName;      // OEM code page, upper case
  std::string workgroup;     // OEM code page, upper case
  // Hands `data` to this machine's own mailslot `slotName`, waiting only a moment
  // for room: the copy of a workgroup write (from Send's caller) and each session
  // message (from the session server's thread). False when none is open or it
  // takes nothing now.
  std::function<bool(std::string_view slotName, std::string_view data)> deliverLocal;
  // Converts session message text sent in UTF-8 to the OEM page (session_text.h).
  std::function<std::string(std::string_view utf8)> fromUtf8;
  // The WINS server: an IPv4 address or a host name; empty: none.
  std::string winsServer;
  // Where this user's programs share which name servers and machines did not
  // answer (silence_board.h); empty: this transport alone remembers.
  std::string silenceBoard;
  // The timers of claiming names (tests may shorten the broadcast interval).
  TNameTimers nameTimers;
  // Told, on the transport's thread, what the user should know about this
  // machine's names; only in the process that holds the ports.
  std::function<void(const TNameNotice&)> nameNotice;
  // Told, on the transport's thread, when this process holds the ports and has
  // claimed this machine's names (the session port listens by then, where it
  // can), and each time it meets a holder of the ports (maybe one that started
  // after it) that has settled this user's name: from then on other machines
  // find this one. It must not wait.
  std::function<void()> reachable;
  // Told, on the transport's thread, each time ReceiveProblem(), HoldsPorts() or
  // whether it waits on a holder changed (see THolderConfig::changed).
  std::function<void()> receiveChanged;
  // Starts the helper that holds the ports where this process may not (see
  // THolderConfig::startHelper); none: nothing is started.
  std::function<runtime::TUniqueFd()> startHelper;
  // For the port holder: connects to this machine's mailslot `slotName` (as it
  // came over the wire; see TMailslotOutbox).
  TMailslotOutbox::TConnect connectLocal;
  // For the port holder: told of a sender on the network whose datagrams this
  // machine drops because it sends too many (see THolderConfig::senderLimited).
  std::function<void(std::uint32_t address)> senderLimited;
  // [browse] This machine's comment in its announcements (OEM code page), and the
  // longest wait before an AnnouncementRequest is answered (browse_service.h).
  std::string comment;
  std::chrono::milliseconds browseAnswerDelay = std::chrono::seconds(30);
  // The abstract socket other processes read the neighbourhood from; empty: none.
  std::string neighbourhoodSocket = "pling\\neighbourhood";
  // Where other processes of this user say that the stored comment changed
  // (comment_change.h; empty: nowhere), and who reads it again then, on a thread
  // of the transport's (it may read a file, and call SetComment).
  std::string commentChangeSocket = "pling\\browse-comment";
  std::function<void()> commentChanged;
  // The ports; other values only for tests and benchmarks.
  std::uint16_t datagramPort = 138;
  std::uint16_t namePort = 137;
  std::uint16_t sessionPort = 139;  // 0: the holder takes no session messages
};

// Sent: a datagram went out. Delivered: the machine confirmed the message.
// Unconfirmed: the message went as a session message, and the machine did not say
// whether it took it (no datagram follows it: that would be a second copy).
// Refused: the machine refused the message (nothing else was sent).
enum class TSendResult {
  Sent,
  Delivered,
  Unconfirmed,
  Refused,
  TooLong,
  BadName,
  NotFound,
  Failed
};

// How a write to one machine goes: as a datagram, or first as a session message
// (only to the messenger mailslot; a workgroup write is always a datagram).
enum class TSendWay { Datagram, SessionFirst };

class TTransport {
 public:
  explicit TTransport(TTransportConfig config);
  // Stops receiving (see StopReceiving).
  ~TTransport();
  TTransport(const TTransport&) = delete;
  TTransport& operator=(const TTransport&) = delete;

  // Starts receiving for this machine (once; later calls do nothing, unless its
  // thread could not be started, when they try again): holds the ports or waits
  // to take them over. Returns when the first attempt is settled, so that
  // ReceiveProblem() tells its outcome; it never waits on another process.
  void StartReceiving();

  // Stops receiving for good: the holder releases this machine's names and then
  // the ports, to the next process; waits for the transport's thread. Sending
  // goes on working.
  void StopReceiving();

  // Empty while messages from other machines reach this machine's mailslots
  // (through this process or another one); else a sentence saying why they do not.
  std::string ReceiveProblem() const;
  // The ports that could not be taken, while ReceiveProblem() is about them.
  std::vector<TPortRefusal> RefusedPorts() const;
  // Whether this process holds the ports.
  bool HoldsPorts() const;
  // Whether this process holds the ports and has claimed this machine's names,
  // or waits on a holder that has settled this user's name (see
  // TTransportConfig::reachable).
  bool Reachable() const;
  // What this process took and dropped while it held the ports.
  THolderCounts HolderCounts() const;

  // Writes `data` to the mailslot `slotName` (OEM upper case, without
  // "\MAILSLOT\") on `machine` (OEM code page): a name, "*" or "DOMAIN*". More
  // than kMaxMailslotData bytes are refused (TooLong) and nothing is sent. With
  // SessionFirst a messenger datagram (sender, 0x00, receiver, 0x00, text) to one
  // machine tries a session message first, and goes as the datagram when the
  // machine does not take it before any text went out (see session_client.h).
  TSendResult Send(std::string_view machine, std::string_view slotName, std::string_view data,
                   TSendWay way = TSendWay::Datagram);

  // Whether a write to `machine` would go out at once: a workgroup write, or a
  // name whose answer is cached (and no session message to try). Otherwise Send
  // first waits for the network.
  bool SendsAtOnce(std::string_view machine, TSendWay way = TSendWay::Datagram);

  // [browse] The machines this process hears while it holds the ports.
  std::shared_ptr<TNeighbourhood> Neighbourhood() const;
  // [browse] This machine's comment from now on (OEM code page); while this
  // process holds the ports, a change is announced at once (see
  // TBrowseService::SetComment).
  void SetComment(std::string_view comment);

  // The names lookups go through (cache included), for tests and benchmarks.
  class TResolver& Resolver();

 private:
  struct TState;
  std::shared_ptr<TState> FState;
};

}  // namespace pling::net
