// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/session_codec.h"

#include <algorithm>
#include <stdexcept>

#include "net/byte_order.h"

namespace pling::net {
namespace {

using namespace bytes;

constexpr std::uint8_t kLengthExtension = 0x01;  // the header's only flag bit: length bit 16
constexpr std::size_t kEncodedNameSize = 34;

// Offsets in the SMB header.
constexpr std::size_t kSmbCommand = 4;
constexpr std::size_t kSmbStatus = 5;
constexpr std::size_t kSmbFlags = 9;
constexpr std::size_t kSmbFlags2 = 10;
constexpr std::size_t kSmbSecurity = 14;  // 8 bytes of signature, then 2 reserved
constexpr std::size_t kSmbWordCount = 32;
constexpr std::uint8_t kSmbFlagReply = 0x80;

constexpr std::uint8_t kBufferFormatData = 0x01;
constexpr std::uint8_t kBufferFormatString = 0x04;

constexpr std::string_view kSmbProtocol("\xFFSMB", 4);

// The words and bytes of an SMB whose header has been checked; nullopt when the
// counts reach past the payload.
struct TSmbBody {
  std::uint8_t wordCount = 0;
  std::string_view words, bytes;
};

std::optional<TSmbBody> ReadBody(std::string_view smb) {
  if (smb.size() < kSmbWordCount + 1) return std::nullopt;
  TSmbBody body;
  body.wordCount = Get8(smb, kSmbWordCount);
  const std::size_t wordsAt = kSmbWordCount + 1;
  const std::size_t byteCountAt = wordsAt + 2 * std::size_t{body.wordCount};
  if (smb.size() < byteCountAt + 2) return std::nullopt;
  const std::size_t byteCount = GetLe16(smb, byteCountAt);
  if (smb.size() - (byteCountAt + 2) < byteCount) return std::nullopt;
  body.words = smb.substr(wordsAt, 2 * std::size_t{body.wordCount});
  body.bytes = smb.substr(byteCountAt + 2, byteCount);
  return body;
}

// A 0x04 buffer: the format byte and a zero-terminated string, from `pos`.
std::optional<std::string> ReadString(std::string_view bytes, std::size_t& pos) {
  if (pos >= bytes.size() || Get8(bytes, pos) != kBufferFormatString) return std::nullopt;
  const std::size_t end = bytes.find('\0', pos + 1);
  if (end == std::string_view::npos) return std::nullopt;
  std::string value(bytes.substr(pos + 1, end - pos - 1));
  pos = end + 1;
  return value;
}

// A 0x01 buffer: the format byte, a 16-bit length and that many bytes.
std::optional<std::string> ReadData(std::string_view bytes, std::size_t& pos) {
  if (bytes.size() < 3 || pos > bytes.size() - 3 || Get8(bytes, pos) != kBufferFormatData) {
    return std::nullopt;
  }
  const std::size_t length = GetLe16(bytes, pos + 1);
  if (bytes.size() - (pos + 3) < length) return std::nullopt;
  std::string value(bytes.substr(pos + 3, length));
  pos += 3 + length;
  return value;
}

void PutString(std::string& out, std::string_view value) {
  if (value.find('\0') != std::string_view::npos) {
    throw std::invalid_argument("a message name cannot hold a zero byte");
  }
  Put8(out, kBufferFormatString);
  out.append(value);
  Put8(out, 0);
}

void PutData(std::string& out, std::string_view value) {
  if (value.size() > 0xFFFF) throw std::invalid_argument("a text block holds at most 65535 bytes");
  Put8(out, kBufferFormatData);
  PutLe16(out, static_cast<std::uint16_t>(value.size()));
  out.append(value);
}

}  // namespace

std::optional<TSessionHeader> ParseSessionHeader(std::string_view bytes) {
  if (bytes.size() < kSessionHeaderSize) return std::nullopt;
  const std::uint8_t flags = Get8(bytes, 1);
  if ((flags & ~kLengthExtension) != 0) return std::nullopt;
  TSessionHeader header;
  header.type = Get8(bytes, 0);
  header.length = (std::size_t{flags} & kLengthExtension) << 16 | std::size_t{Get8(bytes, 2)} << 8 |
                  Get8(bytes, 3);
  return header;
}

std::string BuildSessionPacket(TSessionPacketType type, std::string_view payload) {
  if (payload.size() > kMaxSessionPayload) {
    throw std::invalid_argument("a session packet carries at most 131071 bytes");
  }
  std::string packet;
  packet.reserve(kSessionHeaderSize + payload.size());
  Put8(packet, static_cast<std::uint8_t>(type));
  Put8(packet, static_cast<std::uint8_t>(payload.size() >> 16));
  Put8(packet, static_cast<std::uint8_t>(payload.size() >> 8));
  Put8(packet, static_cast<std::uint8_t>(payload.size()));
  packet.append(payload);
  return packet;
}

std::string BuildSessionRequest(const TSessionRequest& request) {
  std::string names;
  AppendEncodedName(request.called, names);
  AppendEncodedName(request.calling, names);
  return BuildSessionPacket(TSessionPacketType::Request, names);
}

std::optional<TSessionRequest> ParseSessionRequest(std::string_view payload) {
  if (payload.size() != 2 * kEncodedNameSize) return std::nullopt;
  std::size_t pos = 0;
  const std::optional<TNetBiosName> called = DecodeName(payload, pos);
  if (!called) return std::nullopt;
  const std::optional<TNetBiosName> calling = DecodeName(payload, pos);
  if (!calling) return std::nullopt;
  return TSessionRequest{*called, *calling};
}

std::string BuildPositiveSessionResponse() {
  return BuildSessionPacket(TSessionPacketType::PositiveResponse, {});
}

std::string BuildNegativeSessionResponse(std::uint8_t error) {
  return BuildSessionPacket(TSessionPacketType::NegativeResponse,
                            std::string(1, static_cast<char>(error)));
}

TSmbRequestVerdict ParseSmbMessageRequest(std::string_view payload, TSmbMessageRequest& request) {
  request = TSmbMessageRequest{};
  if (payload.size() < kSmbHeaderSize || payload.substr(0, 4) != kSmbProtocol) {
    return TSmbRequestVerdict::NotSmb;
  }
  std::copy_n(payload.begin(), kSmbHeaderSize, request.header.begin());
  request.command = Get8(payload, kSmbCommand);
  switch (static_cast<TSmbMessageCommand>(request.command)) {
    case TSmbMessageCommand::Send:
    case TSmbMessageCommand::SendStart:
    case TSmbMessageCommand::SendEnd:
    case TSmbMessageCommand::SendText:
      break;
    default:
      return TSmbRequestVerdict::UnknownCommand;
  }
  const std::optional<TSmbBody> body = ReadBody(payload);
  if (!body) return TSmbRequestVerdict::Malformed;
  std::size_t pos = 0;
  switch (static_cast<TSmbMessageCommand>(request.command)) {
    case TSmbMessageCommand::Send:
    case TSmbMessageCommand::SendStart: {
      if (body->wordCount != 0) return TSmbRequestVerdict::Malformed;
      std::optional<std::string> originator = ReadString(body->bytes, pos);
      if (!originator) return TSmbRequestVerdict::Malformed;
      std::optional<std::string> destination = ReadString(body->bytes, pos);
      if (!destination) return TSmbRequestVerdict::Malformed;
      request.originator = std::move(*originator);
      request.destination = std::move(*destination);
      if (request.command == static_cast<std::uint8_t>(TSmbMessageCommand::Send)) {
        std::optional<std::string> text = ReadData(body->bytes, pos);
        if (!text) return TSmbRequestVerdict::Malformed;
        request.text = std::move(*text);
      }
      break;
    }
    case TSmbMessageCommand::SendText:
    case TSmbMessageCommand::SendEnd: {
      if (body->wordCount != 1) return TSmbRequestVerdict::Malformed;
      request.group = GetLe16(body->words, 0);
      if (request.command == static_cast<std::uint8_t>(TSmbMessageCommand::SendText)) {
        std::optional<std::string> text = ReadData(body->bytes, pos);
        if (!text) return TSmbRequestVerdict::Malformed;
        request.text = std::move(*text);
      }
      break;
    }
  }
  return TSmbRequestVerdict::Ok;
}

std::string BuildSmbMessageRequest(const TSmbMessageRequest& request) {
  std::string words, bytes;
  switch (static_cast<TSmbMessageCommand>(request.command)) {
    case TSmbMessageCommand::Send:
      PutString(bytes, request.originator);
      PutString(bytes, request.destination);
      PutData(bytes, request.text);
      break;
    case TSmbMessageCommand::SendStart:
      PutString(bytes, request.originator);
      PutString(bytes, request.destination);
      break;
    case TSmbMessageCommand::SendText:
      PutLe16(words, request.group);
      PutData(bytes, request.text);
      break;
    case TSmbMessageCommand::SendEnd:
      PutLe16(words, request.group);
      break;
    default:
      throw std::invalid_argument("not a message command");
  }
  if (bytes.size() > 0xFFFF)
    throw std::invalid_argument("a message command holds at most 65535 bytes");
  std::string smb(request.header.begin(), request.header.end());
  smb.replace(0, 4, kSmbProtocol);
  smb[kSmbCommand] = static_cast<char>(request.command);
  Put8(smb, static_cast<std::uint8_t>(words.size() / 2));
  smb += words;
  PutLe16(smb, static_cast<std::uint16_t>(bytes.size()));
  smb += bytes;
  return smb;
}

std::string BuildSmbMessageReply(const TSmbMessageRequest& request, TSmbStatus status,
                                 std::uint16_t group) {
  std::string smb(request.header.begin(), request.header.end());
  smb.replace(0, 4, kSmbProtocol);
  smb[kSmbCommand] = static_cast<char>(request.command);
  // The status as an error class and code (flags2 does not announce NT statuses).
  smb[kSmbStatus] = static_cast<char>(status.errorClass);
  smb[kSmbStatus + 1] = 0;
  smb[kSmbStatus + 2] = static_cast<char>(status.code & 0xFF);
  smb[kSmbStatus + 3] = static_cast<char>(status.code >> 8);
  smb[kSmbFlags] = static_cast<char>(kSmbFlagReply);
  smb[kSmbFlags2] = smb[kSmbFlags2 + 1] = 0;
  std::fill(smb.begin() + kSmbSecurity, smb.begin() + kSmbSecurity + 10, '\0');
  const bool started =
      request.command == static_cast<std::uint8_t>(TSmbMessageCommand::SendStart) &&
      status == kSmbSuccess;
  if (started) {
    Put8(smb, 1);
    PutLe16(smb, group);
  } else {
    Put8(smb, 0);
  }
  PutLe16(smb, 0);
  return smb;
}

std::optional<TSmbMessageReply> ParseSmbMessageReply(std::string_view payload) {
  if (payload.size() < kSmbHeaderSize || payload.substr(0, 4) != kSmbProtocol) return std::nullopt;
  if ((Get8(payload, kSmbFlags) & kSmbFlagReply) == 0) return std::nullopt;
  const std::optional<TSmbBody> body = ReadBody(payload);
  if (!body) return std::nullopt;
  TSmbMessageReply reply;
  reply.command = Get8(payload, kSmbCommand);
  reply.status = GetLe32(payload, kSmbStatus);
  if (reply.command == static_cast<std::uint8_t>(TSmbMessageCommand::SendStart) &&
      reply.status == 0 && body->wordCount >= 1) {
    reply.group = GetLe16(body->words, 0);
  }
  return reply;
}

}  // namespace pling::net
