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
// firewalled machine that never answers delays a send by no more), and the rest
// of the exchange must be over within kSessionExchangeTime.
#include <chrono>
#include <cstdint>
#include <string>

#include "net/session_codec.h"

namespace pling::net {

inline constexpr std::chrono::milliseconds kSessionConnectTime{1000};
inline constexpr std::chrono::milliseconds kSessionExchangeTime{2000};
// The text goes in blocks of this many bytes.
inline constexpr std::size_t kSessionTextBlock = 128;

struct TSessionMessage {
  std::string sender, receiver, text;  // OEM code page
};

struct TSessionTimes {
  std::chrono::milliseconds connect = kSessionConnectTime;
  std::chrono::milliseconds exchange = kSessionExchangeTime;
};

// Sends `message` to the machine at `address` (host byte order), port `port`,
// with the session request `names`. True when the machine answered every step
// with success; false when the connection was refused or not made in time, the
// session was refused, a command was answered with an error, or an answer did
// not come in time (the caller then sends the message another way).
bool SendSessionMessage(std::uint32_t address, std::uint16_t port, const TSessionRequest& names,
                        const TSessionMessage& message, TSessionTimes times = {});

}  // namespace pling::net
