// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sending one message as a session message on TCP 139, the way that gets an
// answer: connect, a session request to the receiver's messenger name NAME<03>
// (calling name this computer's NAME<00>), then the multi-block message
// commands: start with the sender and receiver names, the text in blocks of 128
// bytes, end. Every step must be answered with success; then the receiving
// machine has taken the message. The multi-block form is used for short texts
// too: every receiver takes it, while Samba's file server takes no other before a
// protocol negotiation. Line breaks go as they are (CR LF), as Samba's client
// sends them.
//
// Bounded in time: the connection must be made within kSessionConnectTime (a
// firewalled machine that never answers delays a send by no more), and the
// exchange up to the text within kSessionExchangeTime. Once the text has gone
// out the message may be on the screen already; the replies to the text and to
// the end (which a receiver may send only after it has handed the message on,
// as Samba does after its message command) get kSessionConfirmTime, and the
// message is never sent a second time: a receiver that stays silent left it
// unconfirmed.
#include <chrono>
#include <cstdint>
#include <string>

#include "net/messenger_message.h"
#include "net/session_codec.h"

namespace pling::net {

inline constexpr std::chrono::milliseconds kSessionConnectTime{1000};
inline constexpr std::chrono::milliseconds kSessionExchangeTime{2000};
inline constexpr std::chrono::milliseconds kSessionConfirmTime{10000};
// The text goes in blocks of this many bytes.
inline constexpr std::size_t kSessionTextBlock = 128;

struct TSessionTimes {
  std::chrono::milliseconds connect = kSessionConnectTime;
  std::chrono::milliseconds exchange = kSessionExchangeTime;
  std::chrono::milliseconds confirm = kSessionConfirmTime;
};

// The status of an explicit refusal: NT_STATUS_REQUEST_NOT_ACCEPTED (Samba's file
// server with no message command), and ERRSRV/ERRmsgoff as an error class and
// code (nobody there takes messages).
inline constexpr std::uint32_t kStatusRequestNotAccepted = 0xC00000D0;
inline constexpr std::uint32_t kStatusMessagesOff = 0x00520002;

enum class TSessionOutcome {
  Delivered,    // every step answered with success: the machine took the message
  NotTaken,     // nothing of the text went out: no connection, no session, an error
                // before the text (the caller may send the message another way)
  Unconfirmed,  // the text went out but no answer to the end came in time
  Refused,      // the machine refused the message (an explicit refusal at any step,
                // or an error answer once the text had gone out)
};

// Sends `message` to the machine at `address` (host byte order), port `port`,
// with the session request `names`; the message is in the OEM code page.
TSessionOutcome SendSessionMessage(std::uint32_t address, std::uint16_t port,
                                   const TSessionRequest& names, const TMessengerMessage& message,
                                   TSessionTimes times = {});

}  // namespace pling::net
