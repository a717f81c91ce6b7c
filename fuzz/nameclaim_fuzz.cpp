// SPDX-License-Identifier: GPL-3.0-or-later
// The claiming of names fed whatever the network sends: a run of packets from
// chosen addresses at chosen times, between the ticks of its clock. Nothing
// reads outside a packet, nothing loops, and the claim stays sane: it holds only
// names it was given, everything it sends is a name service packet of its own
// kinds to a port of the name service, and after the release it holds nothing.
//
// Input: records of [1 byte sender][1 byte flags][2 bytes milliseconds to
// advance][2 bytes length][packet]. Sender 0 is this machine, 1 the server,
// others a host on the subnet; flag bit 0 advances the clock with a tick first.
// The first byte's bit 0 gives the claim a WINS server. Transaction ids count up
// from 1 in the order of the names, the server's after each broadcast one.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/name_claim.h"
#include "net/name_packets.h"

namespace {

using namespace pling::net;

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::uint32_t kMe = 0x0A000002;
constexpr std::uint32_t kServer = 0x0A000101;

void CheckSends(TNameClaim& claim) {
  for (const TNameClaim::TSend& send : claim.TakeSends()) {
    Check(send.port == kNameServicePort);
    Check(send.address != 0);
    Check(ParseNameRequest(send.packet) || ParseNameResponse(send.packet) ||
          ParseNameQuery(send.packet));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<TClaimedName> names = {{TNetBiosName::Make("BOB", 0x00), false},
                                           {TNetBiosName::Make("BOB", 0x03), false},
                                           {TNetBiosName::Make("ROOT", 0x03), false},
                                           {TNetBiosName::Make("LANTEST", 0x00), true}};
  TNameClaimConfig config;
  config.names = names;
  config.server = size > 0 && (data[0] & 1) != 0 ? kServer : 0;
  TNameClaim claim(config);
  auto now = TNameClaim::TClock::time_point{} + std::chrono::hours(1);
  claim.Start({{"eth0", kMe, 0xFFFFFF00, 0x0A0000FF, false}}, now);
  CheckSends(claim);

  std::size_t at = size > 0 ? 1 : 0;
  while (size - at >= 6) {
    const std::uint8_t sender = data[at];
    const std::uint8_t flags = data[at + 1];
    const auto advance = std::chrono::milliseconds(data[at + 2] << 8 | data[at + 3]);
    const std::size_t length = static_cast<std::size_t>(data[at + 4] << 8 | data[at + 5]);
    at += 6;
    // An exact-size copy, so that any read past the end is caught.
    const std::vector<char> packet(data + at, data + at + std::min(length, size - at));
    at += packet.size();
    if ((flags & 1) != 0) {
      now += advance;
      claim.Tick(now);
      // Nothing due is left undone: the timer never fires again at once.
      const auto next = claim.NextDeadline();
      Check(!next || *next > now);
    }
    const std::uint32_t from = sender == 0 ? kMe : sender == 1 ? kServer : 0x0A000000u | sender;
    claim.Take(std::string_view(packet.data(), packet.size()), from, 137, sender == 0, now);
    CheckSends(claim);
    for (const TClaimedName& held : claim.Held()) {
      bool known = false;
      for (const TClaimedName& name : names) known = known || name == held;
      Check(known && claim.Holds(held.name));
    }
    for (const TNameNotice& notice : claim.TakeNotices()) {
      Check(!notice.Text().empty() && !notice.Brief().empty());
    }
  }
  claim.Release(now);
  CheckSends(claim);
  Check(claim.Held().empty());
  for (int i = 0; i < 4 && claim.Releasing(); ++i) {
    now += std::chrono::seconds(1);
    claim.Tick(now);
  }
  Check(!claim.Releasing());
  return 0;
}
