// SPDX-License-Identifier: GPL-3.0-or-later
// The claim of names on a clock of the test's own: what goes out when, what a
// holder's refusal (and its proof), forged packets, a claim at the same moment or
// a WINS server's answers do to the names held, and what the user is told. (The packets themselves
// are checked against Samba's encoder in wire_peers_test.cpp, and fuzzed.)
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ipv4.h"
#include "net/name_claim.h"
#include "net/name_packets.h"

namespace pling::net {
namespace {

using namespace std::chrono_literals;
using TClock = TNameClaim::TClock;

using pling::testing::Ip;

const TNetBiosName kBob00 = TNetBiosName::Make("BOB", 0x00);
const TNetBiosName kBob03 = TNetBiosName::Make("BOB", 0x03);
const TNetBiosName kRoot03 = TNetBiosName::Make("ROOT", 0x03);
const TNetBiosName kGroup = TNetBiosName::Make("LANTEST", 0x00);
const std::uint32_t kMe = Ip(10, 0, 0, 2);
const std::uint32_t kBroadcast = Ip(10, 0, 0, 255);
const std::uint32_t kOther = Ip(10, 0, 0, 9);
const std::uint32_t kServer = Ip(10, 0, 1, 1);

struct ClaimTest : ::testing::Test {
  TClock::time_point t0 = TClock::now();

  TNameClaim Make(std::uint32_t server = 0, bool subnet = true) {
    TNameClaimConfig config;
    config.names = {{kBob00, false}, {kBob03, false}, {kRoot03, false}, {kGroup, true}};
    config.server = server;
    TNameClaim claim(config);
    std::vector<TInterface> interfaces{{"lo", Ip(127, 0, 0, 1), Ip(255, 0, 0, 0), 0, true}};
    if (subnet) interfaces.push_back({"eth0", kMe, Ip(255, 255, 255, 0), kBroadcast, false});
    claim.Start(interfaces, t0);
    return claim;
  }

  // The requests sent, parsed, with where they went.
  static std::vector<std::pair<TNameRequest, std::uint32_t>> Requests(TNameClaim& claim) {
    std::vector<std::pair<TNameRequest, std::uint32_t>> requests;
    for (const TNameClaim::TSend& send : claim.TakeSends()) {
      const auto request = ParseNameRequest(send.packet);
      EXPECT_TRUE(request) << "not a request";
      EXPECT_EQ(send.port, kNameServicePort);
      if (request) requests.emplace_back(*request, send.address);
    }
    return requests;
  }

  static std::string Refusal(const TNameRequest& request, std::uint8_t rcode = kRcodeActive) {
    return BuildRegistrationRefusal(request, rcode);
  }

  // The unicast queries sent to `to`: the challenges of what it said.
  static std::vector<TNameQuery> Challenges(TNameClaim& claim, std::uint32_t to) {
    std::vector<TNameQuery> queries;
    for (const TNameClaim::TSend& send : claim.TakeSends()) {
      const auto query = ParseNameQuery(send.packet);
      if (query && send.address == to && !query->broadcast) queries.push_back(*query);
    }
    return queries;
  }
  static std::string Answer(const TNameQuery& query, std::uint32_t address) {
    return BuildNameAnswer(TNameAnswer{query.id, query.name, false, 300, address});
  }
};

TEST_F(ClaimTest, BroadcastsThreeTimesThenTakesTheNamesAndReleasesThemAtExit) {
  TNameClaim claim = Make();
  auto sent = Requests(claim);
  ASSERT_EQ(sent.size(), 4u);
  for (const auto& [request, to] : sent) {
    EXPECT_EQ(to, kBroadcast);
    EXPECT_EQ(request.flags, 0x2910);  // registration, recursion desired, broadcast
    EXPECT_EQ(request.address, kMe);
    EXPECT_EQ(request.ttl, 0u);
    EXPECT_EQ(request.Group(), request.name == kGroup);
  }
  // Not answered for while it is being claimed.
  EXPECT_FALSE(claim.Holds(kBob03));
  EXPECT_FALSE(claim.Yields(kBob03)) << "nor given up";
  for (int repeat = 1; repeat < 3; ++repeat) {
    claim.Tick(t0 + repeat * 250ms - 1ms);
    EXPECT_TRUE(claim.TakeSends().empty());
    EXPECT_EQ(claim.NextDeadline(), t0 + repeat * 250ms);
    claim.Tick(t0 + repeat * 250ms);
    const auto again = Requests(claim);
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[1].first.id, sent[1].first.id) << "a repeat keeps its transaction id";
  }
  EXPECT_FALSE(claim.Holds(kBob03));
  claim.Tick(t0 + 750ms);
  const auto overwrite = Requests(claim);
  ASSERT_EQ(overwrite.size(), 4u);
  EXPECT_EQ(overwrite[0].first.flags, 0x2810);  // the overwrite demand: no recursion desired
  for (const TNetBiosName& name : {kBob00, kBob03, kRoot03, kGroup}) EXPECT_TRUE(claim.Holds(name));
  EXPECT_FALSE(claim.NextDeadline());
  EXPECT_TRUE(claim.TakeNotices().empty());

  claim.Release(t0 + 10s);
  const auto released = Requests(claim);
  ASSERT_EQ(released.size(), 4u);
  EXPECT_EQ(released[2].first.flags, 0x3010);
  EXPECT_EQ(released[2].first.name, kRoot03);
  EXPECT_FALSE(claim.Releasing());
  EXPECT_FALSE(claim.Holds(kBob03));
}

TEST_F(ClaimTest, AHoldersRefusalLeavesTheNameToItAndTheUserIsToldOnceWhenAllIsSettled) {
  TNameClaim claim = Make();
  const auto sent = Requests(claim);
  // The machine that holds BOB<00> and BOB<03> answers their claims, and proves
  // it: asked for each name by a unicast query, it answers for it.
  EXPECT_TRUE(claim.Take(Refusal(sent[1].first), kOther, 137, false, t0 + 5ms));
  EXPECT_TRUE(claim.Take(Refusal(sent[0].first), kOther, 137, false, t0 + 6ms));
  // Another machine's refusal to a claim we did not make changes nothing.
  TNameRequest stranger = sent[2].first;
  stranger.id = static_cast<std::uint16_t>(stranger.id + 100);
  EXPECT_TRUE(claim.Take(Refusal(stranger), kOther, 137, false, t0 + 7ms));
  const std::vector<TNameQuery> challenges = Challenges(claim, kOther);
  ASSERT_EQ(challenges.size(), 2u);
  EXPECT_FALSE(claim.Yields(kBob03)) << "not before it answers";
  // An answer from elsewhere proves nothing (and is not the claim's).
  EXPECT_FALSE(claim.Take(Answer(challenges[0], kServer), kServer, 137, false, t0 + 8ms));
  EXPECT_FALSE(claim.Yields(kBob03));
  for (const TNameQuery& query : challenges) {
    EXPECT_TRUE(claim.Take(Answer(query, kOther), kOther, 137, false, t0 + 9ms));
  }
  EXPECT_TRUE(claim.TakeNotices().empty()) << "told once every name is settled";
  claim.Tick(t0 + 250ms);
  claim.Tick(t0 + 500ms);
  claim.Tick(t0 + 750ms);
  EXPECT_FALSE(claim.Holds(kBob03));
  EXPECT_FALSE(claim.Holds(kBob00));
  EXPECT_TRUE(claim.Holds(kRoot03));
  EXPECT_TRUE(claim.Yields(kBob03));
  EXPECT_FALSE(claim.Yields(kRoot03));
  const std::vector<TNameNotice> notices = claim.TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, TNameNotice::TKind::Taken);
  EXPECT_EQ(notices[0].name, kBob03);
  EXPECT_EQ(notices[0].holder, kOther);
  EXPECT_EQ(notices[0].Text(),
            "Another computer (10.0.0.9) already holds the name BOB on the network; messages to "
            "BOB reach that computer, not this one.");
  EXPECT_EQ(notices[0].Brief(), "Name BOB is in use");
  // Nor is the lost name released at exit: it was never ours.
  claim.TakeSends();
  claim.Release(t0 + 1s);
  for (const auto& [request, to] : Requests(claim)) EXPECT_NE(request.name, kBob03);
}

TEST_F(ClaimTest, HeldNamesAreDefendedAgainstOthersClaims) {
  TNameClaim claim = Make();
  auto sent = Requests(claim);
  // While we claim them ourselves, a claim by another is not answered.
  TNameRequest theirs = sent[1].first;  // BOB<03>, unique
  theirs.id = 0x4321;
  theirs.address = kOther;
  EXPECT_TRUE(claim.Take(BuildNameRequest(theirs), kOther, 137, false, t0 + 1ms));
  EXPECT_TRUE(claim.TakeSends().empty());
  for (int i = 1; i <= 3; ++i) claim.Tick(t0 + i * 250ms);
  claim.TakeSends();

  EXPECT_TRUE(claim.Take(BuildNameRequest(theirs), kOther, 40000, false, t0 + 1s));
  std::vector<TNameClaim::TSend> refusals = claim.TakeSends();
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(refusals[0].address, kOther);
  EXPECT_EQ(refusals[0].port, 40000);
  const auto refusal = ParseNameResponse(refusals[0].packet);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->id, 0x4321);
  EXPECT_EQ(refusal->Opcode(), TNameOpcode::Registration);
  EXPECT_EQ(refusal->Rcode(), kRcodeActive);
  EXPECT_EQ(refusal->name, kBob03);
  EXPECT_EQ(refusal->Entry(), std::make_pair(std::uint16_t{0}, kOther));
  EXPECT_TRUE(claim.Holds(kBob03));

  // The workgroup is a group name: others may join it, not take it for one.
  TNameRequest join = sent[3].first;
  join.address = kOther;
  EXPECT_TRUE(claim.Take(BuildNameRequest(join), kOther, 137, false, t0 + 1s));
  EXPECT_TRUE(claim.TakeSends().empty());
  join.nbFlags = 0;
  EXPECT_TRUE(claim.Take(BuildNameRequest(join), kOther, 137, false, t0 + 1s));
  EXPECT_EQ(claim.TakeSends().size(), 1u);
  // Our own broadcasts, coming back, are no claim; a lower-case name is the same name.
  EXPECT_TRUE(claim.Take(BuildNameRequest(sent[1].first), kMe, 137, true, t0 + 1s));
  theirs.name.bytes[0] = 'b';
  EXPECT_TRUE(claim.Take(BuildNameRequest(theirs), kOther, 137, false, t0 + 1s));
  EXPECT_EQ(claim.TakeSends().size(), 1u);
}

TEST_F(ClaimTest, ForgedDemandsReleasesLateRefusalsAndUnprovedRefusalsTakeNothing) {
  TNameClaim claim = Make();
  const auto sent = Requests(claim);
  // A refusal of BOB<03>'s claim whose sender does not answer for the name: the
  // claim waits for its proof, then goes on and takes the name.
  EXPECT_TRUE(claim.Take(Refusal(sent[1].first), kOther, 137, false, t0 + 5ms));
  for (int i = 1; i <= 3; ++i) claim.Tick(t0 + i * 250ms);
  EXPECT_EQ(Challenges(claim, kOther).size(), 3u) << "asked three times";
  EXPECT_FALSE(claim.Holds(kBob03)) << "not before its sender had its chance";
  EXPECT_TRUE(claim.Holds(kRoot03));
  claim.Tick(t0 + 1005ms);
  EXPECT_TRUE(claim.Holds(kBob03));
  EXPECT_FALSE(claim.NextDeadline());
  // A late answer to the challenge is no proof.
  claim.Take(BuildNameAnswer(TNameAnswer{0, kBob03, false, 300, kOther}), kOther, 137, false,
             t0 + 1100ms);
  EXPECT_TRUE(claim.Holds(kBob03));
  claim.TakeSends();

  // Once held: a conflict demand, a release request and a replay of the refusal
  // with the claim's transaction id, from anyone, change nothing and send nothing.
  TNameResponse demand;
  demand.id = 7;
  demand.flags = 0xAD87;  // negative registration response, CFT_ERR
  demand.name = kBob03;
  demand.data = NbEntryData(0, 0);
  const std::uint32_t forger = Ip(10, 0, 0, 5);
  EXPECT_TRUE(claim.Take(BuildNameResponse(demand), forger, 137, false, t0 + 2s));
  TNameRequest release = sent[1].first;
  release.flags = kReleaseFlags | kNameBroadcast;
  release.address = kMe;
  EXPECT_TRUE(claim.Take(BuildNameRequest(release), forger, 137, false, t0 + 3s));
  EXPECT_TRUE(claim.Take(Refusal(sent[1].first), Ip(10, 0, 0, 77), 137, false, t0 + 6s));
  EXPECT_TRUE(claim.Take(Refusal(sent[0].first, kRcodeConflict), forger, 137, false, t0 + 6s));
  EXPECT_TRUE(claim.TakeSends().empty());
  for (const TNetBiosName& name : {kBob00, kBob03, kRoot03, kGroup}) EXPECT_TRUE(claim.Holds(name));
  EXPECT_TRUE(claim.TakeNotices().empty());
}

// Two machines that claim BOB at the same moment, each hearing everything the
// other sends: whichever order the packets take, exactly one keeps the name and
// the other is told who holds it.
TEST_F(ClaimTest, TwoClaimsAtTheSameMomentLeaveTheNameToExactlyOne) {
  const std::uint32_t low = Ip(10, 0, 0, 3), high = Ip(10, 0, 0, 4);
  const auto make = [](std::uint32_t address, TClock::time_point start) {
    TNameClaimConfig config;
    config.names = {{kBob03, false}};
    auto claim = std::make_unique<TNameClaim>(config);
    claim->Start({{"eth0", address, Ip(255, 255, 255, 0), kBroadcast, false}}, start);
    return claim;
  };
  // `lag`: how much later the second machine starts its claim than the first.
  for (const bool lowFirst : {true, false})
    for (const auto lag : {0ms, 1ms, 100ms, 249ms, 300ms, 500ms, 900ms}) {
      SCOPED_TRACE(::testing::Message() << lag.count() << " ms, low first: " << lowFirst);
      const std::uint32_t first = lowFirst ? low : high, second = lowFirst ? high : low;
      std::unique_ptr<TNameClaim> a = make(first, t0), b;
      struct TSide {
        TNameClaim* claim;
        std::uint32_t address;
      };
      TSide sides[2] = {{a.get(), first}, {nullptr, second}};
      // Hands what each sent to the other (a broadcast or a packet to it), and has
      // the holder of the name answer a query for it, as its name service does.
      const auto exchange = [&](TClock::time_point now) {
        for (bool more = true; more;) {
          more = false;
          for (int i = 0; i < 2; ++i) {
            const TSide& from = sides[i];
            const TSide& to = sides[1 - i];
            if (from.claim == nullptr) continue;
            for (const TNameClaim::TSend& send : from.claim->TakeSends()) {
              if (to.claim == nullptr ||
                  (send.address != kBroadcast && send.address != to.address)) {
                continue;
              }
              const auto query = ParseNameQuery(send.packet);
              if (query && to.claim->Holds(query->name)) {
                from.claim->Take(Answer(*query, to.address), to.address, 137, false, now);
              } else {
                to.claim->Take(send.packet, from.address, 137, false, now);
              }
              more = true;
            }
          }
        }
      };
      for (auto now = t0; now < t0 + 5s; now += 1ms) {
        if (!b && now >= t0 + lag) {
          b = make(second, now);
          sides[1].claim = b.get();
        }
        for (const TSide& side : sides) {
          if (side.claim != nullptr) side.claim->Tick(now);
        }
        exchange(now);
      }
      EXPECT_NE(a->Holds(kBob03), b->Holds(kBob03)) << "exactly one holds it";
      const std::vector<TNameNotice> toldA = a->TakeNotices(), toldB = b->TakeNotices();
      TNameClaim& loser = a->Holds(kBob03) ? *b : *a;
      const std::vector<TNameNotice>& told = a->Holds(kBob03) ? toldB : toldA;
      EXPECT_TRUE(loser.Yields(kBob03));
      ASSERT_EQ(told.size(), 1u);
      EXPECT_EQ(told[0].kind, TNameNotice::TKind::Taken);
      EXPECT_EQ(told[0].holder, a->Holds(kBob03) ? first : second);
      // At the same moment the lower address keeps it; else whoever was first.
      EXPECT_TRUE(lag == 0ms ? (a->Holds(kBob03) == lowFirst) : a->Holds(kBob03));
      EXPECT_TRUE((a->Holds(kBob03) ? toldA : toldB).empty()) << "the keeper is told nothing";
    }
}

// A point-to-point link (a VPN's) takes no broadcasts: without a server the
// user hears so once; with one, or with only the loopback, nothing is said.
TEST_F(ClaimTest, LinksWithoutBroadcastsAreToldOnceWithoutAServer) {
  const std::vector<TInterface> tunnel{{"lo", Ip(127, 0, 0, 1), Ip(255, 0, 0, 0), 0, true},
                                       {"tun0", Ip(10, 8, 0, 2), Ip(255, 255, 255, 255), 0, false}};
  for (const std::uint32_t server : {0u, kServer}) {
    TNameClaimConfig config;
    config.names = {{kBob03, false}};
    config.server = server;
    TNameClaim claim(config);
    claim.Start(tunnel, t0);
    const std::vector<TNameNotice> notices = claim.TakeNotices();
    if (server != 0) {
      EXPECT_TRUE(notices.empty());
      continue;
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, TNameNotice::TKind::NoBroadcast);
    EXPECT_NE(notices[0].Text().find("WINS server"), std::string::npos);
    EXPECT_TRUE(claim.Holds(kBob03));
  }
  TNameClaim alone(TNameClaimConfig{{{kBob03, false}}, 0, kNameServicePort, {}, 1, {}});
  alone.Start({tunnel[0]}, t0);
  EXPECT_TRUE(alone.TakeNotices().empty());
}

TEST_F(ClaimTest, WinsServerRegistersRefreshesAtHalfTheTtlAndReleases) {
  TNameClaim claim = Make(kServer);
  std::vector<TNameRequest> toServer;
  for (const auto& [request, to] : Requests(claim)) {
    if (to == kServer) toServer.push_back(request);
  }
  ASSERT_EQ(toServer.size(), 4u);
  EXPECT_EQ(toServer[0].flags, 0x2900);  // registration, recursion desired, unicast
  EXPECT_EQ(toServer[0].ttl, kRequestedTtl);
  EXPECT_EQ(toServer[0].nbFlags, 0x6000);  // H node
  EXPECT_EQ(toServer[3].nbFlags, 0xE000);  // group, H node
  TNameResponse granted;
  granted.flags = 0xAD80;
  granted.ttl = 600;
  for (const TNameRequest& request : toServer) {
    granted.id = request.id;
    granted.name = request.name;
    granted.data = NbEntryData(request.nbFlags, request.address);
    EXPECT_TRUE(claim.Take(BuildNameResponse(granted), kServer, 137, false, t0 + 10ms));
  }
  // The server's grant makes the names ours before the broadcasts are done.
  EXPECT_TRUE(claim.Holds(kBob03));
  for (int i = 1; i <= 3; ++i) claim.Tick(t0 + i * 250ms);
  claim.TakeSends();
  EXPECT_EQ(claim.NextDeadline(), t0 + 10ms + 300s);
  claim.Tick(t0 + 10ms + 300s);
  const auto refreshes = Requests(claim);
  ASSERT_EQ(refreshes.size(), 4u);
  EXPECT_EQ(refreshes[0].second, kServer);
  EXPECT_EQ(refreshes[0].first.Opcode(), TNameOpcode::Refresh);
  EXPECT_TRUE(claim.TakeNotices().empty());

  claim.Release(t0 + 400s);
  std::vector<TNameRequest> releases;
  for (const auto& [request, to] : Requests(claim)) {
    if (to == kServer) releases.push_back(request);
  }
  ASSERT_EQ(releases.size(), 4u);
  EXPECT_EQ(releases[0].flags, 0x3000);
  EXPECT_TRUE(claim.Releasing());
  TNameResponse released;
  released.flags = 0xB400;
  for (const TNameRequest& request : releases) {
    released.id = request.id;
    released.name = request.name;
    claim.Take(BuildNameResponse(released), kServer, 137, false, t0 + 400s);
  }
  EXPECT_FALSE(claim.Releasing());
}

// A server that does not answer: the next one configured takes over for every
// name at once; when none answers the user hears so once, and they are asked
// again from the first after 15 s, then at a growing interval.
TEST_F(ClaimTest, SilentWinsServersAreAskedInOrderAgainAtAGrowingInterval) {
  const std::uint32_t second = Ip(10, 0, 2, 1);
  TNameClaimConfig config;
  config.names = {{kBob03, false}, {kGroup, true}};
  config.server = kServer;
  config.moreServers = {second};
  TNameClaim claim(config);
  claim.Start({{"eth0", kMe, Ip(255, 255, 0, 0), 0, false}}, t0);
  // Each registration that starts (a new transaction id): when, and to which server.
  std::vector<std::pair<TClock::duration, std::uint32_t>> rounds;
  std::vector<std::uint16_t> ids;
  const auto collect = [&](TClock::time_point at) {
    for (const auto& [request, to] : Requests(claim)) {
      if (std::find(ids.begin(), ids.end(), request.id) != ids.end()) continue;
      ids.push_back(request.id);
      if (rounds.empty() || rounds.back() != std::pair(at - t0, to))
        rounds.emplace_back(at - t0, to);
    }
  };
  collect(t0);
  while (claim.NextDeadline() && *claim.NextDeadline() < t0 + 110s) {
    const TClock::time_point at = *claim.NextDeadline();
    claim.Tick(at);
    collect(at);
  }
  const std::vector<std::pair<TClock::duration, std::uint32_t>> expected{
      {0s, kServer}, {15s, second}, {45s, kServer}, {60s, second}, {105s, kServer}};
  EXPECT_EQ(rounds, expected);
  const std::vector<TNameNotice> notices = claim.TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, TNameNotice::TKind::ServerSilent);
}

TEST_F(ClaimTest, WinsServerRefusalAfterAWaitIsToldWithTheHolderItNames) {
  TNameClaim claim = Make(kServer, false);
  // Without a subnet the names are held at once, until the server speaks.
  EXPECT_TRUE(claim.Holds(kBob03));
  const auto sent = Requests(claim);
  ASSERT_EQ(sent.size(), 4u);
  const TNameRequest bob = sent[1].first;
  TNameResponse wack;
  wack.id = bob.id;
  wack.flags = 0xBC00;
  wack.name = kBob03;
  wack.type = kRecordNull;
  wack.ttl = 60;
  wack.data = std::string("\x29\x00", 2);  // the request's flags
  EXPECT_TRUE(claim.Take(BuildNameResponse(wack), kServer, 137, false, t0 + 1s));
  // Not asked again while the server said to wait; the others are.
  claim.Tick(t0 + 5s);
  for (const auto& [request, to] : Requests(claim)) EXPECT_NE(request.name, kBob03);
  claim.Tick(t0 + 10s);
  claim.TakeSends();
  claim.Take(BuildNameResponse(TNameResponse{bob.id, 0xAD86, kBob03, kRecordNb, 0,
                                             NbEntryData(bob.nbFlags, bob.address)}),
             kServer, 137, false, t0 + 12s);
  EXPECT_FALSE(claim.Holds(kBob03));
  const std::vector<TNameClaim::TSend> lookup = claim.TakeSends();
  ASSERT_EQ(lookup.size(), 1u);
  EXPECT_EQ(lookup[0].address, kServer);
  const auto query = ParseNameQuery(lookup[0].packet);
  ASSERT_TRUE(query);
  EXPECT_FALSE(query->broadcast);
  // The other names still wait for the server, so nothing is told yet.
  claim.Take(BuildNameAnswer(TNameAnswer{query->id, kBob03, false, 600, kOther}), kServer, 137,
             false, t0 + 12s);
  EXPECT_TRUE(claim.TakeNotices().empty());
  // The server falls silent for the rest: once their three tries are out, the
  // user hears of the refusal and of the silence, once.
  claim.Tick(t0 + 15s);
  const std::vector<TNameNotice> notices = claim.TakeNotices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].kind, TNameNotice::TKind::Refused);
  EXPECT_EQ(notices[0].holder, kOther);
  EXPECT_EQ(notices[0].Text(),
            "The WINS server 10.0.1.1 refused the name BOB, which another computer (10.0.0.9) "
            "holds; messages to BOB reach that computer, not this one.");
  EXPECT_EQ(notices[1].kind, TNameNotice::TKind::ServerSilent);
  EXPECT_TRUE(claim.Holds(kRoot03)) << "a silent server takes no name away";
  // Asked again after a while, and not told again.
  claim.TakeSends();
  claim.Tick(t0 + 615s);
  EXPECT_EQ(Requests(claim).size(), 3u);
  for (int i = 1; i <= 3; ++i) claim.Tick(t0 + 615s + i * 5s);
  EXPECT_TRUE(claim.TakeNotices().empty());
}

}  // namespace
}  // namespace pling::net
