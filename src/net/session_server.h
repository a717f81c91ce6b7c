// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Receiving session messages on TCP 139, as Windows `net send` and Samba's
// `smbclient -M` send them: a NetBIOS session request to NAME<03>, then the SMB
// message commands (session_codec.h), each answered; no negotiation, no login.
// The process that holds the datagram ports (transport.h) runs the server; each
// complete message goes to this machine's mailslot "messngr" as a messenger
// datagram (sender, 0x00, receiver, 0x00, text, in the OEM code page), so it
// shows like any other.
//
// What a session accepts:
// - a session request whose called name is COMPUTER<03> or USER<03>; any other
//   gets a negative session response "called name not present" (0x82), an
//   unreadable one "unspecified error" (0x8F), and the connection closes;
// - then the message commands 0xD0 (a whole message), 0xD5/0xD7/0xD6 (a message
//   in blocks under a group id), and keep-alives. The receiver field is taken as
//   the sender gave it, as with datagrams. In the text, 0x14 (what Windows
//   senders put for a line break) becomes CR LF; a block sent in UTF-8 (as
//   Samba's client sends what the OEM page cannot hold) is converted to OEM.
// Replies: success; ERRSRV/ERRerror for a malformed command or a group id that is
// not under way on the session; ERRSRV/ERRnoroom once the text passes
// TSessionLimits::maxText (what came of that message is dropped), and for a message
// from a peer over its sender limit (see TSessionServerConfig); ERRSRV/ERRsmbcmd
// for any other command; ERRSRV/ERRmsgoff when nobody on this machine holds the
// messenger mailslot. Anything else (no session request first, a packet of
// unknown type or longer than maxPacket, something not SMB in a session message)
// closes the connection.
//
// Bounds (TSessionLimits, defaults below): text per message, packet size,
// sessions at once (a new connection then closes one of the address that holds
// the most, the least recently active, first among those without a session; one
// peer address holds at most maxSessionsPerPeer, so a peer that floods closes
// only its own, and many that churn close only each other's), idle time,
// errors per session, unsent replies. Nothing is kept from a message that did
// not end: its text goes with the group, the session, or the connection. The
// server has a thread of its own; sockets are non-blocking, so one slow or
// hostile peer holds up nobody. Idle, the thread sleeps without a timer.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/netbios.h"
#include "net/port_refusal.h"
#include "net/sender_limits.h"
#include "net/session_codec.h"
#include "net/session_text.h"

namespace pling::net {

struct TSessionLimits {
  // Bytes of text per message: more than any Windows sender puts in one (at most
  // 652) and than Samba's client sends (at most 1600).
  std::size_t maxText = 1600;
  // Bytes per sender or receiver name (Windows sends at most 15).
  std::size_t maxName = 255;
  // The longest session packet payload taken: room for a whole message in one
  // 0xD0 with both names; a longer announced length closes the connection.
  std::size_t maxPacket = 4096;
  std::size_t maxSessions = 64;
  std::size_t maxSessionsPerPeer = 8;
  // A connection that sends nothing for this long is closed. Long enough for a
  // person typing a message into `smbclient -M`, which connects first.
  std::chrono::milliseconds idleTimeout{std::chrono::minutes(2)};
  // Error replies after which a session is closed.
  std::size_t maxErrors = 8;
  // Reply bytes a peer that does not read may leave unsent before it is closed.
  std::size_t maxUnsent = 4096;
};

// One connection's side of the exchange, without the socket: bytes in, replies
// and messages out.
class TSessionConversation {
 public:
  // Whether this machine answers to `called` (its session request's called name).
  using TAnswersTo = std::function<bool(const TNetBiosName& called)>;
  // Hands a complete messenger datagram on; false when nobody takes it.
  using TDeliver = std::function<bool(std::string_view datagram)>;

  // `fromUtf8`: for text blocks sent in UTF-8 (session_text.h); empty: every
  // block is taken as OEM.
  // Whether one more message is taken from the peer (its sender limit); empty: all.
  using TAdmit = std::function<bool()>;

  TSessionConversation(const TSessionLimits& limits, std::uint16_t group, TAnswersTo answersTo,
                       TDeliver deliver, TFromUtf8 fromUtf8 = {}, TAdmit admit = {});

  // Takes bytes that came in; the replies are appended to Output(). False once
  // the connection is to be closed (after Output() is sent); it then takes no more.
  bool Take(std::string_view bytes);
  std::string& Output() { return FOutput; }
  // Whether a session request was accepted.
  bool Established() const { return FEstablished; }

 private:
  bool TakePacket(std::uint8_t type, std::string_view payload);
  bool TakeSmb(std::string_view payload);
  void Reply(const TSmbMessageRequest& request, TSmbStatus status, std::uint16_t group = 0);
  TSmbStatus Deliver(const std::string& sender, const std::string& receiver, std::string text);

  const TSessionLimits& FLimits;
  const std::uint16_t FGroup;
  TAnswersTo FAnswersTo;
  TDeliver FDeliver;
  TFromUtf8 FFromUtf8;
  TAdmit FAdmit;
  std::string FInput;
  std::string FOutput;
  bool FEstablished = false;
  bool FClosed = false;
  std::size_t FErrors = 0;
  // The multi-block message under way.
  struct TPending {
    std::string sender, receiver;
    TSessionText text;
  };
  std::optional<TPending> FPending;
};

struct TSessionServerConfig {
  std::string computerName;  // OEM code page, upper case
  std::string userName;      // OEM code page, upper case
  // Hands a complete messenger datagram to this machine's mailslot "messngr";
  // false when none is open. Called from the server's thread.
  std::function<bool(std::string_view datagram)> deliver;
  // Converts a text block sent in UTF-8 to the OEM page (session_text.h);
  // empty: every block is taken as OEM.
  TFromUtf8 fromUtf8;
  // Each peer address's messages are limited as its datagrams are
  // (sender_limits.h; loopback and this machine's own addresses are not
  // limited); a message over the limit is refused with ERRSRV/ERRnoroom.
  // `admitSender`, when set, keeps that limit: whether one more message from the
  // address is within it (in the port holder, the count its datagrams go to as
  // well, so that a sender cannot spend its limit twice, once on each path; the
  // holder also reports a sender over it). Empty: the server keeps a table of
  // its own by `senderLimit` and tells `senderLimited` of the peer (kAllSenders
  // for the total budget) once per kLimitReportInterval. Called from the
  // server's thread; they must not wait.
  std::function<bool(std::uint32_t address)> admitSender;
  TSenderLimit senderLimit;
  std::function<void(std::uint32_t address)> senderLimited;
  // [names] Whether this machine holds a name now (see name_service.h): a
  // called name it does not hold is not present. Empty: both are held always.
  std::function<bool(const TNetBiosName& name)> holds;
  // [users] Whether this machine holds a messenger name for a user whose
  // programs receive through it (holder_users.h): such a called name is present
  // too. Empty: none.
  std::function<bool(const TNetBiosName& name)> holdsForUser;
  std::uint16_t port = kSessionPort;  // 0: any free port (tests)
  std::uint32_t address = 0;          // host byte order; 0: every address (tests: loopback)
  TSessionLimits limits;
};

class TSessionServer {
 public:
  explicit TSessionServer(TSessionServerConfig config);
  // Stops serving, closes every connection and the port, and waits for the thread.
  ~TSessionServer();
  TSessionServer(const TSessionServer&) = delete;
  TSessionServer& operator=(const TSessionServer&) = delete;

  // Binds the port and starts serving (once). Empty when it serves; otherwise a
  // sentence for the user saying why session messages cannot be received.
  std::string Start();
  // The port the last Start could not take, with why; none when it was not the port.
  std::optional<TPortRefusal> Refused() const;
  // The port it listens on (the one chosen for port 0); 0 before Start.
  std::uint16_t Port() const;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace pling::net
