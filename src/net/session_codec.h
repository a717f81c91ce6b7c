// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Session messages as Windows networking carries them over TCP 139: the NetBIOS
// session service's packets (RFC 1002 4.3: session request, positive and
// negative response, keep-alive, session message) and the SMB message commands
// a session message carries ([MS-MSRP] 2.2.3): send message (0xD0), and the
// multi-block form, start (0xD5), text (0xD7) and end (0xD6), with their replies.
// Plain byte codecs: no sockets, no state. Every parser takes arbitrary bytes and
// answers nullopt (or a verdict) for anything it does not accept; it never reads
// outside the bytes it is given.
//
// Names and text travel in the OEM code page, as the messenger datagram's fields
// do. No protocol negotiation and no login come before the message commands.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/netbios.h"

namespace pling::net {

inline constexpr std::uint16_t kSessionPort = 139;

// The session service's packet types.
enum class TSessionPacketType : std::uint8_t {
  Message = 0x00,
  Request = 0x81,
  PositiveResponse = 0x82,
  NegativeResponse = 0x83,
  RetargetResponse = 0x84,
  KeepAlive = 0x85,
};

// The error codes of a negative session response (RFC 1002 4.3.4).
inline constexpr std::uint8_t kNotListeningOnCalledName = 0x80;
inline constexpr std::uint8_t kNotListeningForCallingName = 0x81;
inline constexpr std::uint8_t kCalledNameNotPresent = 0x82;
inline constexpr std::uint8_t kInsufficientResources = 0x83;
inline constexpr std::uint8_t kUnspecifiedError = 0x8F;

inline constexpr std::size_t kSessionHeaderSize = 4;
// The longest payload a session packet can announce (17 bits of length).
inline constexpr std::size_t kMaxSessionPayload = 0x1FFFF;

struct TSessionHeader {
  std::uint8_t type = 0;
  std::size_t length = 0;  // of the payload that follows the 4 header bytes
};

// The 4-byte header at the start of `bytes`; nullopt while fewer than 4 bytes are
// there, or when a reserved flag bit is set (a protocol error).
std::optional<TSessionHeader> ParseSessionHeader(std::string_view bytes);
// A whole packet: the header and `payload`. Throws std::invalid_argument for a
// payload longer than kMaxSessionPayload.
std::string BuildSessionPacket(TSessionPacketType type, std::string_view payload);

struct TSessionRequest {
  TNetBiosName called, calling;
  friend bool operator==(const TSessionRequest&, const TSessionRequest&) = default;
};

// The whole session request packet.
std::string BuildSessionRequest(const TSessionRequest& request);
// The request's payload (after the header): two 34-byte encoded names with empty
// scopes and nothing after them; nullopt otherwise.
std::optional<TSessionRequest> ParseSessionRequest(std::string_view payload);
std::string BuildPositiveSessionResponse();
std::string BuildNegativeSessionResponse(std::uint8_t error);

// The SMB message commands.
enum class TSmbMessageCommand : std::uint8_t {
  Send = 0xD0,
  SendStart = 0xD5,
  SendEnd = 0xD6,
  SendText = 0xD7,
};

// A status as SMB's error classes give it: class 0 is success.
struct TSmbStatus {
  std::uint8_t errorClass = 0;
  std::uint16_t code = 0;
  friend bool operator==(const TSmbStatus&, const TSmbStatus&) = default;
};
inline constexpr TSmbStatus kSmbSuccess{0x00, 0x0000};
// ERRSRV/ERRerror: a request that is not well formed, or names a message group
// that is not under way on the session.
inline constexpr TSmbStatus kSmbBadRequest{0x02, 0x0001};
// ERRSRV/ERRsmbcmd: a command the receiver does not know.
inline constexpr TSmbStatus kSmbUnknownCommand{0x02, 0x0040};
// ERRSRV/ERRmsgoff: nobody on the receiving machine takes messages now.
inline constexpr TSmbStatus kSmbNotReceiving{0x02, 0x0052};
// ERRSRV/ERRnoroom: the message is longer than the receiver keeps.
inline constexpr TSmbStatus kSmbNoRoom{0x02, 0x0053};

inline constexpr std::size_t kSmbHeaderSize = 32;

// One message command as a session message carries it. Which fields mean
// something depends on the command: the names for 0xD0 and 0xD5, the group for
// 0xD7 and 0xD6, the text for 0xD0 and 0xD7.
struct TSmbMessageRequest {
  std::uint8_t command = 0;
  // The request's header as it came: its reply echoes the ids in it.
  std::array<std::uint8_t, kSmbHeaderSize> header{};
  std::string originator, destination;
  std::uint16_t group = 0;
  std::string text;
  friend bool operator==(const TSmbMessageRequest&, const TSmbMessageRequest&) = default;
};

enum class TSmbRequestVerdict {
  Ok,
  NotSmb,          // shorter than an SMB header, or not 0xFF 'S' 'M' 'B': no reply is possible
  UnknownCommand,  // a well-formed header with another command (header filled in)
  Malformed,       // a message command whose words or bytes do not hold up (header filled in)
};

// Reads the SMB in a session message's payload. Strings are 0x04 and a
// zero-terminated string; text is 0x01, a 16-bit length and that many bytes.
// Bytes past what the counts cover are ignored.
TSmbRequestVerdict ParseSmbMessageRequest(std::string_view payload, TSmbMessageRequest& request);
// The SMB request (the session message's payload) for `request`'s command and
// fields; the header's ids are taken from `request.header` (all zero by default).
std::string BuildSmbMessageRequest(const TSmbMessageRequest& request);

// The reply (a session message's payload) to `request`: its command and ids, the
// reply flag, `status`, and for a successful 0xD5 the group `group`.
std::string BuildSmbMessageReply(const TSmbMessageRequest& request, TSmbStatus status,
                                 std::uint16_t group = 0);

struct TSmbMessageReply {
  std::uint8_t command = 0;
  // The status field as 32 bits (an NT status or an error class and code); 0 is
  // success either way.
  std::uint32_t status = 0;
  std::optional<std::uint16_t> group;  // from a successful 0xD5 reply
  friend bool operator==(const TSmbMessageReply&, const TSmbMessageReply&) = default;
};

// nullopt for anything but an SMB reply (the reply flag set) with its word and
// byte counts inside the payload.
std::optional<TSmbMessageReply> ParseSmbMessageReply(std::string_view payload);

}  // namespace pling::net
