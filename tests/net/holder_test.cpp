// SPDX-License-Identifier: GPL-3.0-or-later
// The port holder's pieces that need no network: the limit per sender, where an
// answer may go, what the receive path takes and drops, and the hand-over to a
// local mailslot that never waits. (Answers and their sizes: fuzz/holder_fuzz.cpp
// and the LAN tests.)
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ipv4.h"
#include "net/holder_receive.h"
#include "net/interfaces.h"
#include "net/mailslot_outbox.h"
#include "net/netbios.h"
#include "net/sender_limits.h"
#include "net/socket.h"

namespace pling::net {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

TEST(HolderTest, BurstThenRateReportedOnceAnIntervalTableBounded) {
  TSenderLimits limits(TSenderLimit{100, 10, 2});
  const TClock::time_point start{};
  for (int i = 0; i < 10; ++i) ASSERT_EQ(limits.Take(1, start), TSenderVerdict::Take) << i;
  EXPECT_EQ(limits.Take(1, start), TSenderVerdict::DropAndReport);
  EXPECT_EQ(limits.Take(1, start), TSenderVerdict::Drop);
  // Another sender has a bucket of its own.
  EXPECT_EQ(limits.Take(2, start), TSenderVerdict::Take);
  // 100 a second: 50 ms later five more.
  int taken = 0;
  for (int i = 0; i < 20; ++i) taken += limits.Take(1, start + 50ms) == TSenderVerdict::Take;
  EXPECT_EQ(taken, 5);
  // Still over after the report interval: reported again, once.
  int reports = 0;
  const auto later = start + kLimitReportInterval;
  for (int i = 0; i < 2000; ++i) reports += limits.Take(1, later) == TSenderVerdict::DropAndReport;
  EXPECT_EQ(reports, 1);
  // Two addresses kept: a third forgets the one heard from least recently (2),
  // which starts again with a full bucket; 1 keeps its empty one.
  EXPECT_EQ(limits.Take(3, later), TSenderVerdict::Take);
  EXPECT_EQ(limits.Size(), 2u);
  EXPECT_EQ(limits.Take(1, later), TSenderVerdict::Drop);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(limits.Take(2, later), TSenderVerdict::Take);
}

// Many addresses that each stay within their own limit (forged ones, say) still
// meet the total budget: what goes over it is dropped, and reported once, for
// all senders together rather than for any one of them.
TEST(HolderTest, AllSendersTogetherStayWithinTheTotalBudget) {
  TSenderLimits limits(TSenderLimit{100, 10, 1000, 100, 50});
  const TClock::time_point start{};
  int taken = 0, reports = 0;
  for (std::uint32_t sender = 1; sender <= 100; ++sender) {
    const TSenderVerdict verdict = limits.Take(sender, start);
    taken += Taken(verdict);
    reports += ToReport(verdict);
    if (verdict != TSenderVerdict::Take) {
      EXPECT_EQ(verdict, reports == 1 && taken == 50 && sender == 51
                             ? TSenderVerdict::DropAllAndReport
                             : TSenderVerdict::DropAll);
    }
  }
  EXPECT_EQ(taken, 50);
  EXPECT_EQ(reports, 1);
  // 100 a second for all: 100 ms later ten more, whoever sends them.
  taken = 0;
  for (std::uint32_t sender = 101; sender <= 200; ++sender) {
    taken += Taken(limits.Take(sender, start + 100ms));
  }
  EXPECT_EQ(taken, 10);
  // Forged datagrams used up their budget; session messages, which come over
  // connections, have a budget of their own and are still taken.
  EXPECT_EQ(limits.Take(201, start + 100ms), TSenderVerdict::DropAll);
  EXPECT_EQ(limits.Take(202, start + 100ms, TSenderWay::Session), TSenderVerdict::Take);
}

using pling::testing::Ip;

const std::vector<TInterface> kInterfaces{
    {"lo", Ip(127, 0, 0, 1), Ip(255, 0, 0, 0), 0, true},
    {"eth0", Ip(10, 1, 2, 3), Ip(255, 255, 255, 0), Ip(10, 1, 2, 255), false},
    {"eth1", Ip(172, 16, 5, 1), Ip(255, 255, 0, 0), Ip(172, 16, 255, 255), false},
    {"p2p", Ip(192, 168, 9, 0), Ip(255, 255, 255, 254), 0, false},  // a /31 link
};

TEST(HolderTest, GoOnlyToSingleHostsElsewhere) {
  for (const std::uint32_t host : {Ip(10, 1, 2, 4), Ip(172, 16, 0, 255), Ip(192, 168, 9, 1),
                                   Ip(8, 8, 8, 8), Ip(10, 1, 3, 0), Ip(223, 255, 255, 254)}) {
    EXPECT_TRUE(MayAnswer(kInterfaces, host)) << std::hex << host;
  }
  for (const std::uint32_t refused :
       {Ip(10, 1, 2, 255), Ip(10, 1, 2, 0), Ip(172, 16, 255, 255), Ip(172, 16, 0, 0),
        Ip(0, 0, 0, 0), Ip(0, 1, 2, 3), Ip(127, 0, 0, 1), Ip(127, 9, 9, 9), Ip(224, 0, 0, 1),
        Ip(239, 255, 255, 250), Ip(240, 0, 0, 1), Ip(255, 255, 255, 255)}) {
    EXPECT_FALSE(MayAnswer(kInterfaces, refused)) << std::hex << refused;
  }
}

std::string Datagram(std::size_t dataSize, TDatagramType type = TDatagramType::DirectUnique,
                     std::string slot = "\\MAILSLOT\\MESSNGR") {
  TMailslotDatagram d;
  d.type = type;
  d.source = TNetBiosName::Make("EVE", 0x00);
  d.destination = TNetBiosName::Make("BOB", 0x03);
  d.mailslot = std::move(slot);
  d.data = std::string(dataSize, 'd');
  return BuildMailslotDatagram(d);
}

TEST(HolderTest, TakesWhatFitsLimitsRemoteSendersAndSkipsItsOwnGroupWrites) {
  THolderReceiver receiver(THolderNames("BOB", "ROOT", "OFFICE"), TSenderLimit{1, 3, 16});
  const TPacketSource remote{Ip(10, 1, 2, 50), 138};
  const TPacketSource own{Ip(10, 1, 2, 3), 138};
  const TClock::time_point now{};
  std::optional<std::uint32_t> report;
  const auto message =
      receiver.TakeDatagram(Datagram(kMaxMailslotData), remote, kInterfaces, now, report);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(message->slot, "MESSNGR");
  EXPECT_EQ(message->data, std::string(kMaxMailslotData, 'd'));
  EXPECT_FALSE(
      receiver.TakeDatagram(Datagram(kMaxMailslotData + 1), remote, kInterfaces, now, report));
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report, true));
  // The burst of three is spent: the next is dropped and reported, the one after
  // only dropped; this machine's own sender is never limited.
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  EXPECT_TRUE(report);
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  EXPECT_FALSE(report);
  // Its session messages spend the same limit: refused too, where another
  // sender's are taken.
  EXPECT_FALSE(receiver.AdmitMessage(remote.address, now, report));
  EXPECT_FALSE(report);
  EXPECT_TRUE(receiver.AdmitMessage(Ip(10, 1, 2, 51), now, report));
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(receiver.TakeDatagram(Datagram(10), own, kInterfaces, now, report));
  }
  // A group write from here was handed over by its writer already.
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10, TDatagramType::DirectGroup), own, kInterfaces,
                                     now, report));
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10, TDatagramType::DirectUnique, "\\PIPE\\X"), own,
                                     kInterfaces, now, report));
  const THolderCounts counts = receiver.Counters().Read();
  EXPECT_EQ(counts.datagrams, 17u);
  EXPECT_EQ(counts.oversized, 2u);
  EXPECT_EQ(counts.limited, 3u);
  EXPECT_EQ(counts.ignored, 2u);
}

// A name still being claimed is not answered for, but what is sent to it
// arrives (a sender may know this machine from before a restart or a hand-over
// of the ports); a name given up to another machine takes nothing.
TEST(HolderTest, ANameBeingClaimedTakesDatagramsAndIsAnsweredOnlyOnceHeld) {
  bool held = false;
  bool yielded = false;
  THolderReceiver receiver(
      THolderNames(
          "BOB", "ROOT", "OFFICE", [&held](const TNetBiosName&) { return held; },
          [&yielded](const TNetBiosName&) { return yielded; }),
      TSenderLimit{100, 100, 16});
  const TPacketSource remote{Ip(10, 1, 2, 50), 137};
  const TClock::time_point now{};
  std::optional<std::uint32_t> report;
  const std::string query = BuildNameQuery(TNameQuery{7, false, TNetBiosName::Make("BOB", 0x03)});
  EXPECT_TRUE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  EXPECT_FALSE(receiver.AnswerNamePacket(query, remote, kInterfaces));
  held = true;
  EXPECT_TRUE(receiver.AnswerNamePacket(query, remote, kInterfaces));
  EXPECT_TRUE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  held = false;
  yielded = true;
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  EXPECT_FALSE(receiver.AnswerNamePacket(query, remote, kInterfaces));
}

// [users] The messenger name of a user whose programs wait on the holder, as its
// claim allows: datagrams while it is claimed, answers while it is held, listed
// in the status answer with the machine's own names. A holder without a user
// name of its own (the service's account) answers for no USER<03>.
class TWaitingBob final : public IHolderUserNames {
 public:
  bool Takes(const TNetBiosName& name) const override { return joined && !yielded && name == bob; }
  bool Holds(const TNetBiosName& name) const override { return held && name == bob; }
  std::vector<TNetBiosName> Held() const override {
    return held ? std::vector<TNetBiosName>{bob} : std::vector<TNetBiosName>{};
  }
  const TNetBiosName bob = TNetBiosName::Make("BOB", 0x03);
  bool joined = false, held = false, yielded = false;
};

TEST(HolderTest, AWaitingUsersNameIsServedAsItsClaimAllowsAndTheServiceHasNoneOfItsOwn) {
  auto users = std::make_shared<TWaitingBob>();
  THolderNames names("HOST", "", "OFFICE");
  names.users = users;
  THolderReceiver receiver(std::move(names), TSenderLimit{100, 100, 16});
  const TPacketSource remote{Ip(10, 1, 2, 50), 137};
  const TClock::time_point now{};
  std::optional<std::uint32_t> report;
  const std::string query = BuildNameQuery(TNameQuery{7, false, users->bob});
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  EXPECT_FALSE(receiver.AnswerNamePacket(query, remote, kInterfaces));
  EXPECT_FALSE(receiver.AnswerNamePacket(
      BuildNameQuery(TNameQuery{8, false, TNetBiosName::Make("", 0x03)}), remote, kInterfaces));

  users->joined = true;  // being claimed
  EXPECT_TRUE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  EXPECT_FALSE(receiver.AnswerNamePacket(query, remote, kInterfaces));
  users->held = true;
  EXPECT_TRUE(receiver.AnswerNamePacket(query, remote, kInterfaces));
  const auto status = receiver.AnswerNamePacket(
      BuildStatusQuery(TStatusQuery{9, TNetBiosName::Broadcast()}), remote, kInterfaces);
  ASSERT_TRUE(status);
  const auto listed = ParseStatusAnswer(status->packet);
  ASSERT_TRUE(listed);
  const std::vector<TStatusEntry> expected{{TNetBiosName::Make("HOST", 0x00), false},
                                           {TNetBiosName::Make("HOST", 0x03), false},
                                           {users->bob, false},
                                           {TNetBiosName::Make("OFFICE", 0x00), true}};
  EXPECT_EQ(listed->names, expected);

  users->held = false;  // given up to another machine
  users->yielded = true;
  EXPECT_FALSE(receiver.TakeDatagram(Datagram(10), remote, kInterfaces, now, report));
  EXPECT_FALSE(receiver.AnswerNamePacket(query, remote, kInterfaces));
}

// A mailslot stand-in: an abstract datagram socket that the test reads when it
// chooses.
class TSlot {
 public:
  explicit TSlot(const std::string& name)
      : FName(std::string(1, '\0') + "holder-test-" + std::to_string(getpid()) + name) {
    Open();
  }
  void Open() {
    FSocket = runtime::TUniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const auto [address, length] = Address();
    ASSERT_EQ(::bind(FSocket.Get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
  }
  void Close() { FSocket.Reset(); }
  runtime::TUniqueFd Connect() const {
    runtime::TUniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const auto [address, length] = Address();
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
      return runtime::TUniqueFd();
    }
    return socket;
  }
  std::vector<std::string> ReadAll() {
    std::vector<std::string> messages;
    char buffer[600];
    for (ssize_t n; (n = ::recv(FSocket.Get(), buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;) {
      messages.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    return messages;
  }

 private:
  std::pair<sockaddr_un, socklen_t> Address() const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    FName.copy(address.sun_path, FName.size());
    return {address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + FName.size())};
  }
  std::string FName;
  runtime::TUniqueFd FSocket;
};

TEST(HolderTest, NeverWaitsKeepsOrderDropsWhatDoesNotFitAndFollowsAReopenedMailslot) {
  TSlot slot("a");
  int connects = 0;
  TMailslotOutbox outbox(
      [&](std::string_view name) {
        ++connects;
        return name == "A" ? slot.Connect() : runtime::TUniqueFd();
      },
      5);
  ASSERT_GE(outbox.WatchFd(), 0);
  // Nobody reads: the kernel takes a few, five wait here, the rest is dropped.
  std::vector<TOutboxResult> results;
  for (int i = 0; i < 40; ++i) results.push_back(outbox.Deliver("a", "m" + std::to_string(i)));
  const auto count = [&](TOutboxResult result) {
    return std::count(results.begin(), results.end(), result);
  };
  EXPECT_GT(count(TOutboxResult::Sent), 0);
  EXPECT_EQ(count(TOutboxResult::Queued), 5);
  EXPECT_EQ(count(TOutboxResult::Full), 40 - 5 - count(TOutboxResult::Sent));
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(outbox.Deliver("nobody", "x"), TOutboxResult::NoMailslot);

  // Read: what waited goes on at the next flush, in order, after what went first.
  std::vector<std::string> got = slot.ReadAll();
  std::uint64_t lost = 0;
  outbox.Flush(lost);
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(outbox.Queued(), 0u);
  for (const std::string& message : slot.ReadAll()) got.push_back(message);
  const auto sent = static_cast<std::size_t>(count(TOutboxResult::Sent));
  ASSERT_EQ(got.size(), sent + 5);
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], "m" + std::to_string(i));

  // Closed and opened again: the next message reaches the new one.
  slot.Close();
  slot.Open();
  EXPECT_EQ(outbox.Deliver("A", "again"), TOutboxResult::Sent);
  EXPECT_EQ(slot.ReadAll(), std::vector<std::string>{"again"});
  // Closed for good: its messages are lost, and said to be.
  slot.Close();
  EXPECT_EQ(outbox.Deliver("a", "gone"), TOutboxResult::NoMailslot);
}

}  // namespace
}  // namespace pling::net
