// SPDX-License-Identifier: GPL-3.0-or-later
// What a peer sends on a session connection (TCP 139): any bytes, as one stream,
// go through one connection's exchange (whole and cut in two) without reading
// outside them, with replies and messages inside their bounds; every session
// packet in the stream goes through the codec's parsers, and what parses builds
// again into bytes that parse to the same thing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/session_codec.h"
#include "net/session_server.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckPayload(std::string_view payload) {
  using namespace pling::net;
  if (const auto request = ParseSessionRequest(payload)) {
    const std::string rebuilt = BuildSessionRequest(*request);
    Check(rebuilt.substr(kSessionHeaderSize) == payload);
  }
  TSmbMessageRequest request;
  if (ParseSmbMessageRequest(payload, request) == TSmbRequestVerdict::Ok) {
    const std::string rebuilt = BuildSmbMessageRequest(request);
    Check(rebuilt.size() <= payload.size());
    TSmbMessageRequest again;
    Check(ParseSmbMessageRequest(rebuilt, again) == TSmbRequestVerdict::Ok && again == request);
    for (const TSmbStatus status : {kSmbSuccess, kSmbNoRoom}) {
      const auto reply = ParseSmbMessageReply(BuildSmbMessageReply(request, status, 9));
      Check(reply && reply->command == request.command);
      Check(reply->group.has_value() == (status == kSmbSuccess && request.command == 0xD5));
    }
  }
  if (const auto reply = ParseSmbMessageReply(payload)) {
    Check(!reply->group || reply->status == 0);
  }
}

// One conversation over `stream`, cut at `cut`.
void Converse(std::string_view stream, std::size_t cut) {
  using namespace pling::net;
  TSessionLimits limits;
  limits.maxText = 300;
  limits.maxPacket = 1024;
  std::size_t delivered = 0;
  TSessionConversation conversation(
      limits, 5, [](const TNetBiosName& called) { return called.Suffix() == 0x03; },
      [&](std::string_view datagram) {
        // Both names and the text, each within its bound (a line break may double).
        Check(datagram.size() <= 2 * limits.maxName + 2 + 2 * limits.maxText);
        ++delivered;
        return datagram.size() % 2 == 0;
      },
      [](std::string_view utf8) {
        // Only whole UTF-8 sequences are handed over for conversion.
        bool multiByte = false;
        Check(Utf8Prefix(utf8, multiByte) == utf8.size());
        return std::string(utf8);
      });
  std::size_t replies = 0;
  for (const std::string_view part : {stream.substr(0, cut), stream.substr(cut)}) {
    const bool open = conversation.Take(part);
    replies += conversation.Output().size();
    conversation.Output().clear();
    if (!open) break;
  }
  // At most one reply per packet taken, none longer than a start's reply.
  Check(replies <= (stream.size() / kSessionHeaderSize + 1) * (kSessionHeaderSize + 37));
  Check(delivered <= stream.size() / kSessionHeaderSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pling::net;
  // An exact-size copy, so that any read past the end is caught.
  const std::vector<char> bytes(data, data + size);
  const std::string_view stream(bytes.data(), bytes.size());

  for (std::string_view rest = stream; const auto header = ParseSessionHeader(rest);) {
    const std::size_t length = std::min(header->length, rest.size() - kSessionHeaderSize);
    CheckPayload(rest.substr(kSessionHeaderSize, length));
    rest.remove_prefix(kSessionHeaderSize + length);
  }
  CheckPayload(stream);
  Converse(stream, size == 0 ? 0 : data[0] % (size + 1));
  return 0;
}
