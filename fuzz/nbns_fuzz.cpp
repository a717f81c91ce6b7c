// SPDX-License-Identifier: GPL-3.0-or-later
// Name service packets from the network: any bytes parse without reading outside
// the packet, as a name or node status query and answer, a registration,
// refresh or release request, or a response to one (conflict demand and WACK
// among them); what parses builds again into a packet that parses to the same
// thing. A name decoded anywhere in the
// bytes encodes back to the very bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/name_packets.h"
#include "net/netbios.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pling::net;
  // An exact-size copy, so that any read past the end is caught.
  const std::vector<char> bytes(data, data + size);
  const std::string_view packet(bytes.data(), bytes.size());

  if (const auto query = ParseNameQuery(packet)) {
    const std::string rebuilt = BuildNameQuery(*query);
    Check(rebuilt.size() == 50);
    Check(rebuilt.substr(12, 34) == packet.substr(12, 34));
    const auto again = ParseNameQuery(rebuilt);
    Check(again && *again == *query);
    Check(!ParseNameAnswer(rebuilt));
  }
  if (const auto answer = ParseNameAnswer(packet)) {
    const std::string rebuilt = BuildNameAnswer(*answer);
    Check(rebuilt.size() == 62);
    const auto again = ParseNameAnswer(rebuilt);
    Check(again && *again == *answer);
    Check(!ParseNameQuery(rebuilt));
  }
  if (const auto query = ParseStatusQuery(packet)) {
    const std::string rebuilt = BuildStatusQuery(*query);
    Check(rebuilt.size() == 50);
    const auto again = ParseStatusQuery(rebuilt);
    Check(again && *again == *query);
    Check(!ParseNameQuery(rebuilt) && !ParseStatusAnswer(rebuilt));
  }
  if (const auto answer = ParseStatusAnswer(packet)) {
    Check(answer->names.size() <= kMaxStatusNames);
    const std::string rebuilt = BuildStatusAnswer(*answer);
    Check(rebuilt.size() == 12 + 34 + 10 + 1 + 18 * answer->names.size() + 46);
    const auto again = ParseStatusAnswer(rebuilt);
    Check(again && *again == *answer);
    Check(!ParseNameAnswer(rebuilt) && !ParseStatusQuery(rebuilt));
    if (const auto name = MessengerName(*answer)) {
      Check(name->Suffix() == 0x03 || name->Suffix() == 0x00);
    }
  }

  if (const auto request = ParseNameRequest(packet)) {
    Check((request->flags & kNameResponse) == 0);
    const std::string rebuilt = BuildNameRequest(*request);
    Check(rebuilt.size() == 68);
    const auto again = ParseNameRequest(rebuilt);
    Check(again && *again == *request);
    Check(!ParseNameResponse(rebuilt) && !ParseNameQuery(rebuilt));
    // The additional record written as a pointer: the same bytes come back.
    if (packet.size() == 68 && packet.substr(50, 2) == "\xC0\x0C") Check(rebuilt == packet);
    const auto refusal = ParseNameResponse(BuildRegistrationRefusal(*request, kRcodeActive));
    Check(refusal && refusal->id == request->id && refusal->Rcode() == kRcodeActive &&
          refusal->name == request->name);
  }
  if (const auto response = ParseNameResponse(packet)) {
    Check((response->flags & kNameResponse) != 0);
    const std::string rebuilt = BuildNameResponse(*response);
    Check(rebuilt.size() == 12 + 34 + 10 + response->data.size());
    Check(rebuilt == packet.substr(0, rebuilt.size()));
    const auto again = ParseNameResponse(rebuilt);
    Check(again && *again == *response);
    Check(!ParseNameRequest(rebuilt) && !ParseNameQuery(rebuilt));
  }

  for (std::size_t start = 0; start <= packet.size(); ++start) {
    std::size_t pos = start;
    const auto name = DecodeName(packet, pos);
    if (!name) {
      Check(pos == start);
      continue;
    }
    Check(pos == start + 34);
    std::string encoded;
    AppendEncodedName(*name, encoded);
    Check(encoded == packet.substr(start, 34));
  }
  return 0;
}
