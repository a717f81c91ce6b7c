// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/name_packets.h"

#include <stdexcept>

#include "net/byte_order.h"

namespace pling::net {

using namespace bytes;

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kEncodedNameSize = 34;
constexpr std::uint16_t kClassIn = 0x0001;
constexpr std::size_t kNbEntrySize = 6;
// A compressed name: a pointer (the top two bits set) to the question's name,
// which always starts right after the header.
constexpr std::uint16_t kPointerToQuestion = 0xC000 | kHeaderSize;

void PutHeader(std::string& out, std::uint16_t id, std::uint16_t flags, std::uint16_t questions,
               std::uint16_t answers, std::uint16_t additional) {
  PutBe16(out, id);
  PutBe16(out, flags);
  PutBe16(out, questions);
  PutBe16(out, answers);
  PutBe16(out, 0);  // authority records
  PutBe16(out, additional);
}

bool IsClaimOpcode(TNameOpcode opcode) {
  switch (opcode) {
    case TNameOpcode::Registration:
    case TNameOpcode::Release:
    case TNameOpcode::Refresh:
    case TNameOpcode::RefreshAlt:
    case TNameOpcode::MultiHomedRegistration:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string NbEntryData(std::uint16_t nbFlags, std::uint32_t address) {
  std::string data;
  PutBe16(data, nbFlags);
  PutBe32(data, address);
  return data;
}

std::string BuildNameRequest(const TNameRequest& r) {
  std::string out;
  out.reserve(kHeaderSize + kEncodedNameSize + 4 + 2 + 4 + 4 + 2 + kNbEntrySize);
  PutHeader(out, r.id, static_cast<std::uint16_t>(r.flags & ~kNameResponse), 1, 0, 1);
  AppendEncodedName(r.name, out);
  PutBe16(out, kRecordNb);
  PutBe16(out, kClassIn);
  PutBe16(out, kPointerToQuestion);
  PutBe16(out, kRecordNb);
  PutBe16(out, kClassIn);
  PutBe32(out, r.ttl);
  PutBe16(out, kNbEntrySize);
  out += NbEntryData(r.nbFlags, r.address);
  return out;
}

std::optional<TNameRequest> ParseNameRequest(std::string_view packet) {
  if (packet.size() < kHeaderSize) return std::nullopt;
  const std::uint16_t flags = GetBe16(packet, 2);
  if ((flags & kNameResponse) != 0 || !IsClaimOpcode(OpcodeOf(flags))) return std::nullopt;
  if (GetBe16(packet, 4) != 1 || GetBe16(packet, 6) != 0 || GetBe16(packet, 8) != 0 ||
      GetBe16(packet, 10) != 1) {
    return std::nullopt;
  }
  std::size_t pos = kHeaderSize;
  const std::optional<TNetBiosName> name = DecodeName(packet, pos);
  if (!name || packet.size() - pos < 4) return std::nullopt;
  if (GetBe16(packet, pos) != kRecordNb || GetBe16(packet, pos + 2) != kClassIn) {
    return std::nullopt;
  }
  pos += 4;
  // The additional record's name: a pointer to the question's, or the same name
  // written out.
  if (packet.size() - pos < 2) return std::nullopt;
  if (GetBe16(packet, pos) == kPointerToQuestion) {
    pos += 2;
  } else {
    const std::optional<TNetBiosName> again = DecodeName(packet, pos);
    if (!again || *again != *name) return std::nullopt;
  }
  if (packet.size() - pos < 10) return std::nullopt;
  if (GetBe16(packet, pos) != kRecordNb || GetBe16(packet, pos + 2) != kClassIn) {
    return std::nullopt;
  }
  const std::uint32_t ttl = GetBe32(packet, pos + 4);
  const std::size_t length = GetBe16(packet, pos + 8);
  pos += 10;
  if (length < kNbEntrySize || packet.size() - pos < length) return std::nullopt;
  return TNameRequest{GetBe16(packet, 0),      flags, *name, ttl, GetBe16(packet, pos),
                      GetBe32(packet, pos + 2)};
}

std::optional<std::pair<std::uint16_t, std::uint32_t>> TNameResponse::Entry() const {
  if (type != kRecordNb || data.size() < kNbEntrySize) return std::nullopt;
  return std::make_pair(GetBe16(data, 0), GetBe32(data, 2));
}

std::string BuildNameResponse(const TNameResponse& r) {
  if (r.data.size() > 0xFFFF) throw std::invalid_argument("record data longer than 65535 bytes");
  std::string out;
  out.reserve(kHeaderSize + kEncodedNameSize + 10 + r.data.size());
  PutHeader(out, r.id, static_cast<std::uint16_t>(r.flags | kNameResponse), 0, 1, 0);
  AppendEncodedName(r.name, out);
  PutBe16(out, r.type);
  PutBe16(out, kClassIn);
  PutBe32(out, r.ttl);
  PutBe16(out, static_cast<std::uint16_t>(r.data.size()));
  out += r.data;
  return out;
}

std::optional<TNameResponse> ParseNameResponse(std::string_view packet) {
  if (packet.size() < kHeaderSize) return std::nullopt;
  const std::uint16_t flags = GetBe16(packet, 2);
  if ((flags & kNameResponse) == 0) return std::nullopt;
  if (GetBe16(packet, 4) != 0 || GetBe16(packet, 6) != 1 || GetBe16(packet, 8) != 0 ||
      GetBe16(packet, 10) != 0) {
    return std::nullopt;
  }
  std::size_t pos = kHeaderSize;
  const std::optional<TNetBiosName> name = DecodeName(packet, pos);
  if (!name || packet.size() - pos < 10) return std::nullopt;
  const std::uint16_t type = GetBe16(packet, pos);
  if ((type != kRecordNb && type != kRecordNull) || GetBe16(packet, pos + 2) != kClassIn) {
    return std::nullopt;
  }
  const std::uint32_t ttl = GetBe32(packet, pos + 4);
  const std::size_t length = GetBe16(packet, pos + 8);
  pos += 10;
  if (packet.size() - pos < length) return std::nullopt;
  return TNameResponse{
      GetBe16(packet, 0), flags, *name, type, ttl, std::string(packet.substr(pos, length))};
}

std::string BuildRegistrationRefusal(const TNameRequest& request, std::uint8_t rcode) {
  TNameResponse response;
  response.id = request.id;
  response.flags = NameFlags(
      TNameOpcode::Registration,
      kNameResponse | kNameAuthoritative | kNameRecursionDesired | kNameRecursionAvailable, rcode);
  response.name = request.name;
  response.ttl = 0;
  response.data = NbEntryData(request.nbFlags, request.address);
  return BuildNameResponse(response);
}

}  // namespace pling::net
