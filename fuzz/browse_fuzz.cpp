// SPDX-License-Identifier: GPL-3.0-or-later
// Browse frames from the network and the neighbourhood list from another
// process: any bytes parse without reading outside them; what parses builds
// again into bytes that parse to the same thing; an announcement heard, however
// odd, leaves the neighbourhood within its bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/browse_frames.h"
#include "net/neighbourhood.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pling::net;
  // An exact-size copy, so that any read past the end is caught.
  const std::vector<char> bytes(data, data + size);
  const std::string_view input(bytes.data(), bytes.size());

  if (const auto a = ParseAnnouncement(input)) {
    Check(!a->name.empty() && a->name.size() <= kMaxBrowseName);
    Check(a->comment.size() <= kMaxBrowseComment);
    const std::string rebuilt = BuildAnnouncement(*a);
    Check(ParseAnnouncement(rebuilt) == a);
    TNeighbourhoodLimits limits;
    limits.machines = 2;
    limits.perSource = 1;
    TNeighbourhood hood(limits);
    const auto now = TNeighbourhood::TClock::now();
    hood.Hear(*a, a->name, 1, now);
    hood.Hear(*a, "WG", 2, now);
    hood.Hear(*a, "WG", 2, now);
    Check(hood.Size() <= 2);
    for (const TMachine& m : hood.Machines(now)) Check(m.name == a->name);
  }
  if (const auto r = ParseAnnouncementRequest(input)) {
    Check(r->responseName.size() <= kMaxBrowseName);
    Check(ParseAnnouncementRequest(BuildAnnouncementRequest(*r)) == r);
  }
  if (const auto machines = DecodeMachines(input)) {
    Check(EncodeMachines(*machines) == input);
  }
  return 0;
}
