// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The name service packets (UDP 137) with which a machine claims, defends and
// gives up its names, beside the queries and node status packets of netbios.h:
// the registration, overwrite demand, refresh and release requests, the
// responses to them (positive, negative, and the name conflict demand, which is
// a negative registration response with RCODE CFT_ERR), the name server's "wait
// for acknowledgement" (WACK) response and its negative query response.
//
// Plain byte codecs, like netbios.h: no sockets, no state. A parser takes
// arbitrary bytes and answers nullopt for anything it does not accept; it never
// reads outside the packet it is given. Each packet keeps its whole header flags
// word and record data, so that a parsed packet built again gives the same bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/netbios.h"

namespace pling::net {

enum class TNameOpcode : std::uint8_t {
  Query = 0x0,
  Registration = 0x5,
  Release = 0x6,
  WaitAck = 0x7,
  Refresh = 0x8,
  RefreshAlt = 0x9,  // the refresh opcode some systems send instead
  MultiHomedRegistration = 0xF,
};

// Bits of the header's flags word (the 16 bits after the transaction id), around
// its opcode (bits 11-14) and RCODE (bits 0-3).
inline constexpr std::uint16_t kNameResponse = 0x8000;
inline constexpr std::uint16_t kNameAuthoritative = 0x0400;
inline constexpr std::uint16_t kNameTruncated = 0x0200;
inline constexpr std::uint16_t kNameRecursionDesired = 0x0100;
inline constexpr std::uint16_t kNameRecursionAvailable = 0x0080;
inline constexpr std::uint16_t kNameBroadcast = 0x0010;

constexpr std::uint16_t NameFlags(TNameOpcode opcode, std::uint16_t bits, std::uint8_t rcode = 0) {
  return static_cast<std::uint16_t>(bits | static_cast<std::uint16_t>(opcode) << 11 |
                                    (rcode & 0x0F));
}
constexpr TNameOpcode OpcodeOf(std::uint16_t flags) {
  return static_cast<TNameOpcode>(flags >> 11 & 0x0F);
}
constexpr std::uint8_t RcodeOf(std::uint16_t flags) {
  return static_cast<std::uint8_t>(flags & 0x0F);
}

// RCODE values of negative responses.
inline constexpr std::uint8_t kRcodeFormat = 0x1;
inline constexpr std::uint8_t kRcodeServer = 0x2;
inline constexpr std::uint8_t kRcodeName = 0x3;  // a query: no such name
inline constexpr std::uint8_t kRcodeUnsupported = 0x4;
inline constexpr std::uint8_t kRcodeRefused = 0x5;
inline constexpr std::uint8_t kRcodeActive = 0x6;    // the name is held by another node
inline constexpr std::uint8_t kRcodeConflict = 0x7;  // the name is held by several nodes

// NB_FLAGS of a name's entry: the group bit and the owner's node type.
enum class TNodeType : std::uint8_t { B = 0, P = 1, M = 2, H = 3 };
inline constexpr std::uint16_t kNbFlagGroup = 0x8000;
constexpr std::uint16_t NbFlags(bool group, TNodeType type) {
  return static_cast<std::uint16_t>((group ? kNbFlagGroup : 0) | static_cast<std::uint16_t>(type)
                                                                     << 13);
}

// Resource record types these packets carry.
inline constexpr std::uint16_t kRecordNb = 0x0020;
inline constexpr std::uint16_t kRecordNull = 0x000A;

// A request that carries the claimant's entry: one question (the name, NB/IN)
// and, as its one additional record, the same name (written as a pointer to the
// question's) with a TTL, the NB_FLAGS and the claimant's address.
struct TNameRequest {
  std::uint16_t id = 0;
  std::uint16_t flags = 0;  // the opcode, RD and B bits; no response bit, RCODE 0
  TNetBiosName name;
  std::uint32_t ttl = 0;
  std::uint16_t nbFlags = 0;
  std::uint32_t address = 0;  // host byte order

  TNameOpcode Opcode() const { return OpcodeOf(flags); }
  bool Group() const { return (nbFlags & kNbFlagGroup) != 0; }
  friend bool operator==(const TNameRequest&, const TNameRequest&) = default;
};

// The standard flags of the requests this machine sends.
inline constexpr std::uint16_t kRegistrationFlags =
    NameFlags(TNameOpcode::Registration, kNameRecursionDesired);
inline constexpr std::uint16_t kOverwriteFlags = NameFlags(TNameOpcode::Registration, 0);
inline constexpr std::uint16_t kRefreshFlags = NameFlags(TNameOpcode::Refresh, 0);
inline constexpr std::uint16_t kReleaseFlags = NameFlags(TNameOpcode::Release, 0);

// 68 bytes. Throws nothing.
std::string BuildNameRequest(const TNameRequest& r);
// A registration (or overwrite demand), multi-homed registration, refresh or
// release request whose additional record names the question's name, by pointer
// or written out. Of several addresses the first is taken (the built request
// then holds only that one).
std::optional<TNameRequest> ParseNameRequest(std::string_view packet);

// A response with no question and one answer record: the positive and negative
// registration, refresh, release and query responses, the name conflict demand,
// and the WACK. `data` is the record's RDATA as carried: NB entries (2 bytes of
// NB_FLAGS and an address each) for an NB record, the request's flags word for a
// WACK, nothing for a negative query response.
struct TNameResponse {
  std::uint16_t id = 0;
  std::uint16_t flags = kNameResponse;
  TNetBiosName name;
  std::uint16_t type = kRecordNb;
  std::uint32_t ttl = 0;
  std::string data;

  TNameOpcode Opcode() const { return OpcodeOf(flags); }
  std::uint8_t Rcode() const { return RcodeOf(flags); }
  // The first NB entry's flags and address (host byte order), when it has one.
  std::optional<std::pair<std::uint16_t, std::uint32_t>> Entry() const;
  friend bool operator==(const TNameResponse&, const TNameResponse&) = default;
};

// 50 bytes and the data. Throws std::invalid_argument for data that one record
// cannot carry (more than 65535 bytes).
std::string BuildNameResponse(const TNameResponse& r);
// nullopt for anything but a response with no question, one answer record of
// type NB or NULL, class IN, whose data lies wholly inside the packet, and no
// other records.
std::optional<TNameResponse> ParseNameResponse(std::string_view packet);

// The response of an end node that holds `request`'s name: a negative
// registration response (AA, RD, RA) with `rcode` (kRcodeActive: "the name is
// mine"), echoing the claimant's entry, to go back to the claimant alone.
std::string BuildRegistrationRefusal(const TNameRequest& request, std::uint8_t rcode);

// RDATA of one NB entry.
std::string NbEntryData(std::uint16_t nbFlags, std::uint32_t address);

}  // namespace pling::net
