// SPDX-License-Identifier: GPL-3.0-or-later
// Mailslot datagrams from the network: any bytes parse without reading outside
// the packet; what parses builds again (without padding) into bytes that parse to
// the same datagram, never longer than what came in. The same bytes, read as the
// fields of a datagram to send, build into a packet that parses back to them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/netbios.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Takes `count` bytes from the front of `rest` (fewer if it is shorter).
std::string_view Take(std::string_view& rest, std::size_t count) {
  const std::string_view part = rest.substr(0, count);
  rest.remove_prefix(part.size());
  return part;
}

pling::net::TNetBiosName NameFrom(std::string_view bytes) {
  pling::net::TNetBiosName name;
  for (std::size_t i = 0; i < bytes.size() && i < name.bytes.size(); ++i) {
    name.bytes[i] = static_cast<std::uint8_t>(bytes[i]);
  }
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pling::net;
  // An exact-size copy, so that any read past the end is caught.
  const std::vector<char> bytes(data, data + size);
  const std::string_view packet(bytes.data(), bytes.size());

  if (const auto parsed = ParseMailslotDatagram(packet)) {
    Check(parsed->mailslot.find('\0') == std::string::npos);
    const std::string rebuilt = BuildMailslotDatagram(*parsed);
    Check(rebuilt.size() <= packet.size());
    const auto again = ParseMailslotDatagram(rebuilt);
    Check(again && *again == *parsed);
    Check(BuildMailslotDatagram(*again) == rebuilt);
  }

  if (size > 60000) return 0;  // would not fit one UDP packet as a datagram to send
  // The input as fields: type, id, address, port, priority, two names, then the
  // slot name up to the first NUL and the rest as data.
  std::string_view rest = packet;
  const std::string_view head = Take(rest, 11);
  auto at = [&](std::size_t i) -> std::uint32_t {
    return i < head.size() ? static_cast<std::uint8_t>(head[i]) : 0u;
  };
  TMailslotDatagram d;
  d.type = static_cast<TDatagramType>(0x10 + at(0) % 3);
  d.id = static_cast<std::uint16_t>(at(1) << 8 | at(2));
  d.sourceIp = at(3) << 24 | at(4) << 16 | at(5) << 8 | at(6);
  d.sourcePort = static_cast<std::uint16_t>(at(7) << 8 | at(8));
  d.priority = static_cast<std::uint16_t>(at(9) << 8 | at(10));
  d.source = NameFrom(Take(rest, 16));
  d.destination = NameFrom(Take(rest, 16));
  const std::size_t nul = rest.find('\0');
  d.mailslot = std::string(Take(rest, nul));
  Take(rest, 1);
  d.data = std::string(rest);
  const std::string built = BuildMailslotDatagram(d);
  const auto parsed = ParseMailslotDatagram(built);
  Check(parsed && *parsed == d);
  return 0;
}
