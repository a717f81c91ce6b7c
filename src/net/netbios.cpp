// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/netbios.h"

#include <algorithm>
#include <stdexcept>

namespace pling::net {
namespace {

// The largest UDP payload an IPv4 packet carries.
constexpr std::size_t kMaxUdpPayload = 65507;

constexpr std::size_t kEncodedNameSize = 34;
constexpr std::size_t kDatagramHeaderSize = 14;
constexpr std::size_t kSmbOffset = kDatagramHeaderSize + 2 * kEncodedNameSize;  // 82

// The SMB transaction request, offsets from its 0xFF 'SMB' start.
constexpr std::size_t kSmbHeaderSize = 32;
constexpr std::uint8_t kSmbComTransaction = 0x25;
constexpr std::uint8_t kTransactionWordCount = 17;  // 14 words + 3 setup words
constexpr std::size_t kSmbTotalDataCount = 35;
constexpr std::size_t kSmbDataCount = 55;
constexpr std::size_t kSmbDataOffset = 57;
constexpr std::size_t kSmbSetupCount = 59;
constexpr std::size_t kSmbSetup = 61;
constexpr std::size_t kSmbByteCount = 67;
constexpr std::size_t kSmbBytes = 69;  // the mailslot name starts here
constexpr std::uint16_t kMailslotWrite = 1;
constexpr std::uint16_t kSecondClass = 2;

constexpr std::uint8_t kFlagMore = 0x01;
constexpr std::uint8_t kFlagFirst = 0x02;

constexpr std::size_t kNameHeaderSize = 12;
constexpr std::uint16_t kFlagResponse = 0x8000;
constexpr std::uint16_t kOpcodeMask = 0x7800;
constexpr std::uint16_t kRcodeMask = 0x000F;
constexpr std::uint16_t kFlagBroadcast = 0x0010;
constexpr std::uint16_t kQueryFlags = 0x0100;           // recursion desired
constexpr std::uint16_t kPositiveAnswerFlags = 0x8580;  // response, authoritative, RD, RA
constexpr std::uint16_t kTypeNb = 0x0020;
constexpr std::uint16_t kClassIn = 0x0001;
constexpr std::uint16_t kNbGroup = 0x8000;
constexpr std::uint16_t kTypeNbstat = 0x0021;
constexpr std::uint16_t kStatusAnswerFlags = 0x8400;  // response, authoritative
constexpr std::uint16_t kNameActive = 0x0400;
constexpr std::size_t kStatusEntrySize = 18;  // 16 name bytes, 2 flag bytes
constexpr std::size_t kStatisticsSize = 46;

void Put8(std::string& out, std::uint8_t v) {
  out.push_back(static_cast<char>(v));
}

void PutBe16(std::string& out, std::uint16_t v) {
  Put8(out, static_cast<std::uint8_t>(v >> 8));
  Put8(out, static_cast<std::uint8_t>(v));
}

void PutBe32(std::string& out, std::uint32_t v) {
  PutBe16(out, static_cast<std::uint16_t>(v >> 16));
  PutBe16(out, static_cast<std::uint16_t>(v));
}

void PutLe16(std::string& out, std::uint16_t v) {
  Put8(out, static_cast<std::uint8_t>(v));
  Put8(out, static_cast<std::uint8_t>(v >> 8));
}

void PutZeros(std::string& out, std::size_t count) {
  out.append(count, '\0');
}

std::uint8_t Get8(std::string_view p, std::size_t at) {
  return static_cast<std::uint8_t>(p[at]);
}

std::uint16_t GetBe16(std::string_view p, std::size_t at) {
  return static_cast<std::uint16_t>(Get8(p, at) << 8 | Get8(p, at + 1));
}

std::uint32_t GetBe32(std::string_view p, std::size_t at) {
  return static_cast<std::uint32_t>(GetBe16(p, at)) << 16 | GetBe16(p, at + 2);
}

std::uint16_t GetLe16(std::string_view p, std::size_t at) {
  return static_cast<std::uint16_t>(Get8(p, at) | Get8(p, at + 1) << 8);
}

}  // namespace

TNetBiosName TNetBiosName::Make(std::string_view name, std::uint8_t suffix) {
  TNetBiosName result;
  result.bytes.fill(static_cast<std::uint8_t>(' '));
  const std::size_t length = std::min<std::size_t>(name.size(), 15);
  for (std::size_t i = 0; i < length; ++i) {
    result.bytes[i] = static_cast<std::uint8_t>(NetBiosUpper(name[i]));
  }
  result.bytes[15] = suffix;
  return result;
}

TNetBiosName TNetBiosName::Upper() const {
  TNetBiosName result = *this;
  for (std::size_t i = 0; i < 15; ++i) {
    result.bytes[i] = static_cast<std::uint8_t>(NetBiosUpper(static_cast<char>(bytes[i])));
  }
  return result;
}

std::string NetBiosUpper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = NetBiosUpper(c);
  return result;
}

TNetBiosName TNetBiosName::Broadcast() {
  TNetBiosName result;
  result.bytes[0] = static_cast<std::uint8_t>('*');
  return result;
}

std::string TNetBiosName::Name() const {
  std::size_t length = 15;
  while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == 0)) --length;
  return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

std::string TNetBiosName::ToString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = Name();
  text += '<';
  text += kHex[Suffix() >> 4];
  text += kHex[Suffix() & 0x0F];
  text += '>';
  return text;
}

void AppendEncodedName(const TNetBiosName& name, std::string& out) {
  Put8(out, 0x20);
  for (const std::uint8_t byte : name.bytes) {
    out.push_back(static_cast<char>('A' + (byte >> 4)));
    out.push_back(static_cast<char>('A' + (byte & 0x0F)));
  }
  Put8(out, 0x00);
}

std::optional<TNetBiosName> DecodeName(std::string_view packet, std::size_t& pos) {
  if (pos > packet.size() || packet.size() - pos < kEncodedNameSize) return std::nullopt;
  const std::string_view encoded = packet.substr(pos, kEncodedNameSize);
  if (encoded[0] != 0x20 || encoded[33] != 0x00) return std::nullopt;
  TNetBiosName name;
  for (std::size_t i = 0; i < 16; ++i) {
    const char high = encoded[1 + 2 * i];
    const char low = encoded[2 + 2 * i];
    if (high < 'A' || high > 'P' || low < 'A' || low > 'P') return std::nullopt;
    name.bytes[i] = static_cast<std::uint8_t>((high - 'A') << 4 | (low - 'A'));
  }
  pos += kEncodedNameSize;
  return name;
}

std::string BuildMailslotDatagram(const TMailslotDatagram& d) {
  if (d.mailslot.find('\0') != std::string::npos) {
    throw std::invalid_argument("mailslot name holds a NUL byte");
  }
  const std::size_t nameSize = d.mailslot.size() + 1;
  const std::size_t total = kSmbOffset + kSmbBytes + nameSize + d.data.size();
  if (total > kMaxUdpPayload) {
    throw std::invalid_argument("mailslot datagram larger than a UDP packet");
  }
  const auto dataOffset = static_cast<std::uint16_t>(kSmbBytes + nameSize);
  const auto dataCount = static_cast<std::uint16_t>(d.data.size());

  std::string out;
  out.reserve(total);
  Put8(out, static_cast<std::uint8_t>(d.type));
  Put8(out, kFlagFirst);  // first and only fragment, B node
  PutBe16(out, d.id);
  PutBe32(out, d.sourceIp);
  PutBe16(out, d.sourcePort);
  PutBe16(out, static_cast<std::uint16_t>(total - kDatagramHeaderSize));
  PutBe16(out, 0);  // packet offset
  AppendEncodedName(d.source, out);
  AppendEncodedName(d.destination, out);

  out += "\xFFSMB";
  Put8(out, kSmbComTransaction);
  PutZeros(out, kSmbHeaderSize - 5);
  Put8(out, kTransactionWordCount);
  PutLe16(out, 0);                           // total parameter count
  PutLe16(out, dataCount);                   // total data count
  PutZeros(out, 2 + 2 + 1 + 1 + 2 + 4 + 2);  // max counts, reserved, flags, timeout, reserved
  PutLe16(out, 0);                           // parameter count
  PutLe16(out, 0);                           // parameter offset
  PutLe16(out, dataCount);
  PutLe16(out, dataOffset);
  Put8(out, 3);  // setup count
  Put8(out, 0);
  PutLe16(out, kMailslotWrite);
  PutLe16(out, d.priority);
  PutLe16(out, kSecondClass);
  PutLe16(out, static_cast<std::uint16_t>(nameSize + d.data.size()));
  out += d.mailslot;
  Put8(out, 0);
  out += d.data;
  return out;
}

std::optional<TMailslotDatagram> ParseMailslotDatagram(std::string_view packet) {
  if (packet.size() < kDatagramHeaderSize) return std::nullopt;
  const std::uint8_t type = Get8(packet, 0);
  if (type < 0x10 || type > 0x12) return std::nullopt;
  const std::uint8_t flags = Get8(packet, 1);
  if ((flags & kFlagMore) != 0 || (flags & kFlagFirst) == 0) return std::nullopt;
  if (GetBe16(packet, 12) != 0) return std::nullopt;  // a later fragment

  TMailslotDatagram d;
  d.type = static_cast<TDatagramType>(type);
  d.id = GetBe16(packet, 2);
  d.sourceIp = GetBe32(packet, 4);
  d.sourcePort = GetBe16(packet, 8);
  // DGM_LENGTH ends the datagram; a length beyond what arrived is not trusted
  // further than the packet itself, the checks below see only real bytes.
  const std::size_t length = GetBe16(packet, 10);
  packet = packet.substr(0, std::min(packet.size(), kDatagramHeaderSize + length));

  std::size_t pos = kDatagramHeaderSize;
  const auto source = DecodeName(packet, pos);
  if (!source) return std::nullopt;
  const auto destination = DecodeName(packet, pos);
  if (!destination) return std::nullopt;
  d.source = *source;
  d.destination = *destination;

  const std::string_view smb = packet.substr(kSmbOffset);
  if (smb.size() < kSmbBytes) return std::nullopt;
  if (smb.substr(0, 4) != "\xFFSMB" || Get8(smb, 4) != kSmbComTransaction) return std::nullopt;
  if (Get8(smb, kSmbHeaderSize) != kTransactionWordCount || Get8(smb, kSmbSetupCount) != 3) {
    return std::nullopt;
  }
  if (GetLe16(smb, kSmbSetup) != kMailslotWrite) return std::nullopt;
  d.priority = GetLe16(smb, kSmbSetup + 2);

  const std::size_t dataCount = GetLe16(smb, kSmbDataCount);
  const std::size_t dataOffset = GetLe16(smb, kSmbDataOffset);
  // A transaction whose data comes in several parts is never a mailslot write.
  if (GetLe16(smb, kSmbTotalDataCount) != dataCount) return std::nullopt;

  // The name ends at its NUL, within the bytes the ByteCount covers.
  const std::size_t byteCount = GetLe16(smb, kSmbByteCount);
  const std::string_view bytes = smb.substr(kSmbBytes, byteCount);
  const std::size_t nul = bytes.find('\0');
  if (nul == std::string_view::npos) return std::nullopt;
  d.mailslot = std::string(bytes.substr(0, nul));

  // The data lies after the name (padding may come between) and inside the packet.
  if (dataOffset < kSmbBytes + nul + 1 || dataOffset > smb.size() ||
      smb.size() - dataOffset < dataCount) {
    return std::nullopt;
  }
  d.data = std::string(smb.substr(dataOffset, dataCount));
  return d;
}

namespace {

// The header of a name service packet with one question (a query) or one answer
// record, and that entry's name, type and class: the whole of a query, and an
// answer up to its record's TTL.
void AppendHead(std::string& out, std::uint16_t id, std::uint16_t flags, bool answer,
                const TNetBiosName& name, std::uint16_t type) {
  PutBe16(out, id);
  PutBe16(out, flags);
  PutBe16(out, answer ? 0 : 1);  // questions
  PutBe16(out, answer ? 1 : 0);  // answers
  PutBe16(out, 0);               // authority records
  PutBe16(out, 0);               // additional records
  AppendEncodedName(name, out);
  PutBe16(out, type);
  PutBe16(out, kClassIn);
}

}  // namespace

std::string BuildNameQuery(const TNameQuery& q) {
  std::string out;
  out.reserve(kNameHeaderSize + kEncodedNameSize + 4);
  AppendHead(out, q.id,
             static_cast<std::uint16_t>(q.broadcast ? kQueryFlags | kFlagBroadcast : kQueryFlags),
             false, q.name, kTypeNb);
  return out;
}

std::string BuildNameAnswer(const TNameAnswer& a) {
  std::string out;
  out.reserve(kNameHeaderSize + kEncodedNameSize + 16);
  AppendHead(out, a.id, kPositiveAnswerFlags, true, a.name, kTypeNb);
  PutBe32(out, a.ttl);
  PutBe16(out, 6);                       // one address entry
  PutBe16(out, a.group ? kNbGroup : 0);  // B node
  PutBe32(out, a.address);
  return out;
}

namespace {

// A name service query with one question of `type`: its id, flags and name.
struct TQuestion {
  std::uint16_t id;
  std::uint16_t flags;
  TNetBiosName name;
};

std::optional<TQuestion> ParseQuestion(std::string_view packet, std::uint16_t type) {
  if (packet.size() < kNameHeaderSize) return std::nullopt;
  const std::uint16_t flags = GetBe16(packet, 2);
  if ((flags & (kFlagResponse | kOpcodeMask)) != 0) return std::nullopt;
  if (GetBe16(packet, 4) != 1) return std::nullopt;
  std::size_t pos = kNameHeaderSize;
  const auto name = DecodeName(packet, pos);
  if (!name || packet.size() - pos < 4) return std::nullopt;
  if (GetBe16(packet, pos) != type || GetBe16(packet, pos + 2) != kClassIn) return std::nullopt;
  return TQuestion{GetBe16(packet, 0), flags, *name};
}

// The first record of a positive answer, of `type`: the answer's id, the
// record's name and TTL, and where its data lies (wholly inside the packet).
struct TAnswerRecord {
  std::uint16_t id;
  TNetBiosName name;
  std::uint32_t ttl;
  std::size_t data;
  std::size_t length;
};

std::optional<TAnswerRecord> ParseAnswerRecord(std::string_view packet, std::uint16_t type) {
  if (packet.size() < kNameHeaderSize) return std::nullopt;
  const std::uint16_t flags = GetBe16(packet, 2);
  if ((flags & kFlagResponse) == 0 || (flags & (kOpcodeMask | kRcodeMask)) != 0) {
    return std::nullopt;
  }
  const std::uint16_t questions = GetBe16(packet, 4);
  if (GetBe16(packet, 6) == 0) return std::nullopt;

  std::size_t pos = kNameHeaderSize;
  // An answer normally repeats no question; skip any it does repeat.
  for (std::uint16_t i = 0; i < questions; ++i) {
    if (!DecodeName(packet, pos) || packet.size() - pos < 4) return std::nullopt;
    pos += 4;
  }
  const auto name = DecodeName(packet, pos);
  if (!name || packet.size() - pos < 10) return std::nullopt;
  if (GetBe16(packet, pos) != type || GetBe16(packet, pos + 2) != kClassIn) return std::nullopt;
  const std::uint32_t ttl = GetBe32(packet, pos + 4);
  const std::size_t length = GetBe16(packet, pos + 8);
  pos += 10;
  if (packet.size() - pos < length) return std::nullopt;
  return TAnswerRecord{GetBe16(packet, 0), *name, ttl, pos, length};
}

}  // namespace

std::optional<TNameQuery> ParseNameQuery(std::string_view packet) {
  const auto question = ParseQuestion(packet, kTypeNb);
  if (!question) return std::nullopt;
  return TNameQuery{question->id, (question->flags & kFlagBroadcast) != 0, question->name};
}

std::optional<TNameAnswer> ParseNameAnswer(std::string_view packet) {
  const auto record = ParseAnswerRecord(packet, kTypeNb);
  if (!record || record->length < 6) return std::nullopt;
  TNameAnswer a;
  a.id = record->id;
  a.name = record->name;
  a.ttl = record->ttl;
  a.group = (GetBe16(packet, record->data) & kNbGroup) != 0;
  a.address = GetBe32(packet, record->data + 2);
  return a;
}

std::string BuildStatusQuery(const TStatusQuery& q) {
  std::string out;
  out.reserve(kNameHeaderSize + kEncodedNameSize + 4);
  AppendHead(out, q.id, 0, false, q.name, kTypeNbstat);  // a unicast query, no recursion
  return out;
}

std::string BuildStatusAnswer(const TStatusAnswer& a) {
  if (a.names.size() > kMaxStatusNames) {
    throw std::invalid_argument("more names than a status answer lists");
  }
  const std::size_t rdLength = 1 + a.names.size() * kStatusEntrySize + kStatisticsSize;
  std::string out;
  out.reserve(kNameHeaderSize + kEncodedNameSize + 10 + rdLength);
  AppendHead(out, a.id, kStatusAnswerFlags, true, a.name, kTypeNbstat);
  PutBe32(out, 0);  // TTL
  PutBe16(out, static_cast<std::uint16_t>(rdLength));
  Put8(out, static_cast<std::uint8_t>(a.names.size()));
  for (const TStatusEntry& entry : a.names) {
    out.append(entry.name.bytes.begin(), entry.name.bytes.end());
    PutBe16(out, static_cast<std::uint16_t>(kNameActive | (entry.group ? kNbGroup : 0)));
  }
  PutZeros(out, kStatisticsSize);
  return out;
}

std::optional<TStatusQuery> ParseStatusQuery(std::string_view packet) {
  const auto question = ParseQuestion(packet, kTypeNbstat);
  if (!question) return std::nullopt;
  return TStatusQuery{question->id, question->name};
}

std::optional<TStatusAnswer> ParseStatusAnswer(std::string_view packet) {
  const auto record = ParseAnswerRecord(packet, kTypeNbstat);
  if (!record || record->length < 1) return std::nullopt;
  TStatusAnswer a;
  a.id = record->id;
  a.name = record->name;
  std::size_t pos = record->data;
  const std::size_t count = Get8(packet, pos);
  ++pos;
  if ((record->length - 1) / kStatusEntrySize < count) return std::nullopt;
  a.names.reserve(count);
  for (std::size_t i = 0; i < count; ++i, pos += kStatusEntrySize) {
    TStatusEntry entry;
    std::copy_n(packet.begin() + static_cast<std::ptrdiff_t>(pos), entry.name.bytes.size(),
                entry.name.bytes.begin());
    entry.group = (GetBe16(packet, pos + 16) & kNbGroup) != 0;
    a.names.push_back(entry);
  }
  return a;
}

std::optional<TNetBiosName> MessengerName(const TStatusAnswer& a) {
  for (const std::uint8_t suffix : {std::uint8_t{0x03}, std::uint8_t{0x00}}) {
    const auto found = std::find_if(a.names.begin(), a.names.end(), [suffix](const auto& entry) {
      return !entry.group && entry.name.Suffix() == suffix && !entry.name.Name().empty();
    });
    if (found != a.names.end()) return found->name;
  }
  return std::nullopt;
}

}  // namespace pling::net
