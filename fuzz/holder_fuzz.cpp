// SPDX-License-Identifier: GPL-3.0-or-later
// The port holder's receive path: a run of datagrams and name service packets,
// each with a source address and port and a step of the clock, through the rules
// that decide what reaches a local mailslot and what is answered. Whatever the
// bytes: nothing over 424 bytes of data is handed on, an answer goes only to a
// single host elsewhere and is never larger than a name or status answer, no
// sender gets more than its share, and every packet is counted once.
//
// Input: records of kind (1 byte: bit 0 name port, bit 1 cut short on receipt),
// source (1 byte: one of 16 addresses, some of them this machine's, a subnet's
// broadcast and network address, loopback, multicast), port (2), clock step in
// milliseconds (2), length (2), then that many packet bytes.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/holder_receive.h"
#include "net/interfaces.h"
#include "net/netbios.h"
#include "net/sender_limits.h"

namespace {

using namespace pling::net;
using TClock = std::chrono::steady_clock;

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

const std::vector<TInterface> kInterfaces{
    {"lo", Ip(127, 0, 0, 1), Ip(255, 0, 0, 0), 0, true},
    {"eth0", Ip(10, 1, 2, 3), Ip(255, 255, 255, 0), Ip(10, 1, 2, 255), false},
};

constexpr std::uint32_t kSources[16] = {
    Ip(10, 1, 2, 50),       Ip(10, 1, 2, 51), Ip(10, 1, 2, 52),  Ip(10, 9, 9, 9),
    Ip(192, 0, 2, 1),       Ip(192, 0, 2, 2), Ip(10, 1, 2, 3),   Ip(127, 0, 0, 1),
    Ip(10, 1, 2, 255),      Ip(10, 1, 2, 0),  Ip(0, 0, 0, 0),    Ip(224, 0, 0, 251),
    Ip(255, 255, 255, 255), Ip(240, 1, 1, 1), Ip(172, 16, 0, 1), Ip(10, 1, 2, 254),
};

constexpr TSenderLimit kLimit{50, 5, 16};

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  THolderReceiver receiver(THolderNames("BOB", "ALICE", "OFFICE"), kLimit);
  TClock::time_point now{};
  // Per remote source: when it was first heard, and how many of its packets
  // each side took.
  std::map<std::uint32_t, TClock::time_point> firstSeen;
  std::map<std::uint32_t, double> datagramsTaken, namesTaken;
  std::uint64_t handedOn = 0, datagramsSeen = 0, namesSeen = 0;

  std::size_t at = 0;
  while (size - at >= 8) {
    const std::uint8_t kind = data[at];
    const std::uint32_t address = kSources[data[at + 1] % 16];
    const std::uint16_t port = Get16(data + at + 2);
    now += std::chrono::milliseconds(Get16(data + at + 4));
    const std::size_t length = std::min<std::size_t>(Get16(data + at + 6), size - at - 8);
    at += 8;
    // An exact-size copy, so that any read past the end is caught.
    const std::vector<char> bytes(data + at, data + at + length);
    at += length;
    const std::string_view packet(bytes.data(), bytes.size());
    const TPacketSource from{address, port};
    const bool local = IsLocalSender(kInterfaces, address);
    if (!local) firstSeen.emplace(address, now);

    if ((kind & 1) == 0) {
      ++datagramsSeen;
      std::optional<std::uint32_t> report;
      const auto before = receiver.Counters().Read();
      const auto message =
          receiver.TakeDatagram(packet, from, kInterfaces, now, report, (kind & 2) != 0);
      const auto after = receiver.Counters().Read();
      if (after.limited == before.limited && !local) datagramsTaken[address] += 1;
      Check(!report || after.limited == before.limited + 1);
      if (message) {
        ++handedOn;
        Check(message->data.size() <= kMaxMailslotData);
        Check(!message->slot.empty());
        Check((kind & 2) == 0);
        const auto parsed = ParseMailslotDatagram(packet);
        Check(parsed && receiver.Names().IsOurs(parsed->destination));
        Check(parsed->data == message->data);
      }
    } else {
      ++namesSeen;
      if (!receiver.AdmitNamePacket(from, kInterfaces, now)) continue;
      if (!local) namesTaken[address] += 1;
      const auto reply = receiver.AnswerNamePacket(packet, from, kInterfaces);
      if (!reply) continue;
      Check(reply->to.address == address && reply->to.port == port && port != 0);
      Check(MayAnswer(kInterfaces, address));
      if (const auto status = ParseStatusQuery(packet)) {
        Check(reply->packet.size() <= 175);
        const auto answer = ParseStatusAnswer(reply->packet);
        Check(answer && answer->id == status->id && answer->names.size() == 4);
      } else {
        const auto query = ParseNameQuery(packet);
        Check(query.has_value() && reply->packet.size() == 62);
        const auto answer = ParseNameAnswer(reply->packet);
        Check(answer && answer->id == query->id && answer->address == Ip(10, 1, 2, 3));
      }
    }
  }

  // Each remote source took at most its burst and its rate since it was first
  // heard (no address is forgotten here: there are fewer than the table holds).
  for (const auto& taken : {datagramsTaken, namesTaken}) {
    for (const auto& [address, count] : taken) {
      const double seconds = std::chrono::duration<double>(now - firstSeen.at(address)).count();
      Check(count <= kLimit.burst + kLimit.rate * seconds + 1e-6);
    }
  }
  const THolderCounts counts = receiver.Counters().Read();
  Check(counts.datagrams == datagramsSeen && counts.namePackets == namesSeen);
  Check(counts.datagrams == handedOn + counts.limited + counts.oversized + counts.ignored);
  return 0;
}
