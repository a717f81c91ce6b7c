// SPDX-License-Identifier: GPL-3.0-or-later
// The browse protocol's workstation side: its frames on the wire, the
// neighbourhood's bounds against a flood, and the service's announcements,
// answers and status queries, through a stand-in for the holder's ports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include <mutex>
#include <string>
#include <vector>

#include "net/browse_frames.h"
#include "net/browse_service.h"
#include "net/comment_change.h"
#include "net/neighbourhood.h"
#include "wait_until.h"

namespace pling::net {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

TAnnouncement Host(const std::string& name, std::uint32_t type = kServerWorkstation,
                   std::uint32_t periodMs = 60000) {
  TAnnouncement a;
  a.name = name;
  a.serverType = type;
  a.periodicityMs = periodMs;
  a.comment = name + " comment";
  return a;
}

TEST(BrowseFramesTest, AnnouncementHasTheWireLayoutAndRoundTrips) {
  TAnnouncement a = Host("ALICEPC", kServerWorkstation | kServerNt, 720000);
  a.updateCount = 7;
  a.osMajor = 6;
  a.osMinor = 1;
  a.comment = "Pling \x96 alice";
  const std::string frame = BuildAnnouncement(a);
  ASSERT_EQ(frame.size(), kAnnouncementFixedSize + a.comment.size() + 1);
  EXPECT_EQ(frame[0], '\x01');
  EXPECT_EQ(frame[1], '\x07');
  EXPECT_EQ(frame.substr(2, 4), std::string("\x80\xfc\x0a\x00", 4));  // 720000, little-endian
  EXPECT_EQ(frame.substr(6, 16), std::string("ALICEPC\0\0\0\0\0\0\0\0\0", 16));
  EXPECT_EQ(frame.substr(24, 4), std::string("\x01\x10\x00\x00", 4));
  EXPECT_EQ(frame.substr(28, 4), std::string("\x0f\x01\x55\xaa", 4));
  EXPECT_EQ(frame.back(), '\0');
  EXPECT_EQ(ParseAnnouncement(frame), a);

  // A long comment is cut to 43 bytes; one without its NUL is read to the end.
  a.comment = std::string(60, 'c');
  const auto cut = ParseAnnouncement(BuildAnnouncement(a));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->comment, std::string(kMaxBrowseComment, 'c'));
  std::string noNul = BuildAnnouncement(Host("BOB"));
  noNul.pop_back();
  ASSERT_TRUE(ParseAnnouncement(noNul));
  EXPECT_EQ(ParseAnnouncement(noNul)->comment, "BOB comment");

  const std::string request = BuildAnnouncementRequest({"ALICEPC"});
  EXPECT_EQ(request, std::string("\x02\x00"
                                 "ALICEPC\x00",
                                 10));
  EXPECT_EQ(ParseAnnouncementRequest(request)->responseName, "ALICEPC");
}

TEST(BrowseFramesTest, MalformedFramesAreRefused) {
  const std::string good = BuildAnnouncement(Host("HOST"));
  for (std::size_t size = 0; size < kAnnouncementFixedSize; ++size) {
    EXPECT_FALSE(ParseAnnouncement(good.substr(0, size))) << size;
  }
  std::string noName = good;
  noName[6] = '\0';
  EXPECT_FALSE(ParseAnnouncement(noName));
  std::string election = good;
  election[0] = '\x08';
  EXPECT_FALSE(ParseAnnouncement(election));
  EXPECT_FALSE(ParseAnnouncementRequest(std::string("\x02", 1)));
  EXPECT_FALSE(ParseAnnouncementRequest(good));
  EXPECT_THROW(BuildAnnouncement(Host("")), std::invalid_argument);
  EXPECT_THROW(BuildAnnouncement(Host("SIXTEEN-LETTERS!")), std::invalid_argument);
  EXPECT_THROW(BuildAnnouncementRequest({std::string("A\0B", 3)}), std::invalid_argument);
}

TEST(NeighbourhoodTest, AFloodFromOneAddressStaysBoundedAndOthersAreStillHeard) {
  TNeighbourhoodLimits limits;
  limits.machines = 50;
  limits.perSource = 4;
  limits.rate = {1000000, 1000000, 64};  // the rate is tried below
  TNeighbourhood hood(limits);
  std::vector<std::string> said;
  hood.SetFull([&](const std::string& line) { said.push_back(line); });
  const auto now = TClock::now();
  for (int i = 0; i < 1000; ++i) hood.Hear(Host("FAKE" + std::to_string(i)), "WG", 666, now);
  EXPECT_EQ(hood.Size(), 4u);
  // The flood keeps the last names it sent; a host elsewhere is heard as before.
  EXPECT_TRUE(hood.Hear(Host("REAL"), "WG", 10, now).taken);
  const std::vector<TMachine> machines = hood.Machines(now);
  ASSERT_EQ(machines.size(), 5u);
  EXPECT_EQ(machines[0].name, "FAKE996");
  EXPECT_EQ(machines[4].name, "REAL");
  EXPECT_EQ(machines[4].comment, "REAL comment");
  EXPECT_EQ(machines[4].workgroup, "WG");

  // Many addresses: never more than the limit, the one due to leave first goes,
  // and that is said once.
  for (std::uint32_t a = 100; a < 300; ++a) {
    hood.Hear(Host("H" + std::to_string(a), kServerWorkstation, 60000 + a), "WG", a, now);
  }
  EXPECT_EQ(hood.Size(), 50u);
  EXPECT_EQ(said.size(), 1u);
  EXPECT_EQ(hood.Machines(now).back().name, "H299");
}

TEST(NeighbourhoodTest, RateStopClearedTypePeopleAskedAgainAndExpiry) {
  TNeighbourhoodLimits limits;
  limits.rate = {1, 3, 64};  // three at once, then one a second
  TNeighbourhood hood(limits);
  const auto now = TClock::now();
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(hood.Hear(Host("A" + std::to_string(i)), "WG", 1, now).taken);
  EXPECT_FALSE(hood.Hear(Host("A3"), "WG", 1, now).taken);
  EXPECT_TRUE(hood.Hear(Host("A3"), "WG", 1, now + 1s).taken);

  // Its names are asked for when first heard; when none came (or no messenger
  // name), again after kPeopleRetry; once known, only after kPeopleRefresh.
  TNeighbourhood asked(limits);
  const auto retry = TNeighbourhood::kPeopleRetry;
  EXPECT_TRUE(asked.Hear(Host("B"), "WG", 1, now).askPeople);
  EXPECT_FALSE(asked.Hear(Host("B"), "WG", 1, now + 2s).askPeople);
  EXPECT_TRUE(asked.Hear(Host("B"), "WG", 1, now + retry).askPeople);
  asked.SetPeople("B", 1, {});  // none yet
  EXPECT_TRUE(asked.Hear(Host("B"), "WG", 1, now + retry * 2).askPeople);
  asked.SetPeople("B", 1, {"CAROL"});
  EXPECT_FALSE(asked.Hear(Host("B"), "WG", 1, now + retry * 3).askPeople);

  // Type cleared: gone, but only when it comes from the machine's own address.
  EXPECT_TRUE(hood.Hear(Host("A0", 0), "WG", 2, now + 1s).taken);
  EXPECT_EQ(hood.Size(), 4u);
  EXPECT_TRUE(hood.Hear(Host("A0", 0), "WG", 1, now + 2s).taken);
  EXPECT_EQ(hood.Size(), 3u);

  // Kept three periods (60 s announced), then gone; a new announcement keeps it.
  EXPECT_EQ(hood.Machines(now + 179s).size(), 3u);
  hood.Hear(Host("A1"), "WG", 1, now + 179s);
  const auto later = hood.Machines(now + 181s + 1s);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].name, "A1");
  EXPECT_EQ(later[0].ageSeconds, 3u);
  // A period claimed as zero still keeps a machine a minute.
  EXPECT_EQ(TNeighbourhood::Lifetime(0), std::chrono::minutes(1));
}

TEST(NeighbourhoodTest, TheListCrossesToAnotherProcessWhole) {
  TMachine m;
  m.name = "HOST";
  m.comment = std::string("tab\there \x01\xff", 12);
  m.workgroup = "WG";
  m.type = 0x80001003;
  m.address = 0x0a000001;
  m.kind = TBrowseOpcode::LocalMasterAnnouncement;
  m.periodMs = 720000;
  m.ageSeconds = 5;
  m.people = {"HOST", "ALICE"};
  m.peopleKnown = true;
  const std::vector<TMachine> machines{m, TMachine{}};
  std::vector<TMachine> expected = machines;
  const std::string bytes = EncodeMachines(machines);
  EXPECT_EQ(DecodeMachines(bytes), expected);
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(DecodeMachines(std::string_view(bytes).substr(0, size))) << size;
  }
  EXPECT_FALSE(DecodeMachines(bytes + "x"));
}

// The holder's ports, as the service sees them: what it sends is kept.
class TFakePorts final : public THolderPorts {
 public:
  bool SendNamePacket(std::string_view packet, std::uint32_t address, std::uint16_t) override {
    std::lock_guard<std::mutex> guard(lock);
    names.push_back({std::string(packet), address});
    return true;
  }
  bool SendDatagram(std::string_view packet, std::uint32_t, std::uint16_t) override {
    std::lock_guard<std::mutex> guard(lock);
    if (auto d = ParseMailslotDatagram(packet)) datagrams.push_back(*d);
    return true;
  }
  bool AdmitMessageFrom(std::uint32_t) override { return true; }
  std::vector<TAnnouncement> Announcements() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<TAnnouncement> found;
    for (const auto& d : datagrams) {
      if (auto a = ParseAnnouncement(d.data)) found.push_back(*a);
    }
    return found;
  }
  std::size_t Names() {
    std::lock_guard<std::mutex> guard(lock);
    return names.size();
  }
  std::mutex lock;
  std::vector<TMailslotDatagram> datagrams;
  std::vector<std::pair<std::string, std::uint32_t>> names;
};

TMailslotDatagram BrowseDatagram(const std::string& data, const std::string& workgroup,
                                 std::uint8_t suffix) {
  TMailslotDatagram d;
  d.type = TDatagramType::DirectGroup;
  d.source = TNetBiosName::Make("OTHER", 0);
  d.destination = TNetBiosName::Make(workgroup, suffix);
  d.mailslot = "\\MAILSLOT\\BROWSE";
  d.data = data;
  return d;
}

// Needs a broadcast interface to send on; the test's namespace has only
// loopback, so the service's sends are checked where it has one.
bool HasBroadcastInterface() {
  return !BroadcastInterfaces(Ipv4Interfaces()).empty();
}

TEST(BrowseServiceTest, HearsAsksAnswersAndSaysItStops) {
  TBrowseConfig config;
  config.computerName = "PLINGPC";
  config.workgroup = "WG";
  config.comment = "Pling \x96 alice";
  config.answerDelay = 0ms;
  config.claimWait = std::chrono::hours(1);
  config.shareName.clear();
  config.commentChangeName = "pling-test\\comment-" + std::to_string(getpid());
  std::atomic<int> reread{0};
  config.commentChanged = [&] { ++reread; };
  bool held = false;
  std::mutex heldLock;
  config.namesHeld = [&] {
    std::lock_guard<std::mutex> guard(heldLock);
    return held;
  };
  TBrowseService service(config);
  TFakePorts ports;
  EXPECT_FALSE(TellCommentChanged(config.commentChangeName));  // nobody listens yet
  ASSERT_EQ(service.Started(ports), "");
  // Another process of this user says the stored comment changed: it is read again.
  EXPECT_TRUE(TellCommentChanged(config.commentChangeName));
  EXPECT_TRUE(testing::WaitUntil([&] { return reread == 1; }));

  // A machine heard is listed and asked for its names; the answer gives its people.
  // One claiming to come from a broadcast address is listed, never asked.
  EXPECT_TRUE(service.TakeDatagram(BrowseDatagram(BuildAnnouncement(Host("SPOOF")), "WG", 0x1D),
                                   {0xFFFFFFFF, 138}, false));
  EXPECT_TRUE(service.TakeDatagram(BrowseDatagram(BuildAnnouncement(Host("NMBD")), "WG", 0x1D),
                                   {0x0a000002, 138}, false));
  ASSERT_TRUE(testing::WaitUntil([&] { return ports.Names() == 1; }));
  const auto query = ParseStatusQuery(ports.names[0].first);
  ASSERT_TRUE(query);
  EXPECT_EQ(ports.names[0].second, 0x0a000002u);
  TStatusAnswer answer{query->id,
                       TNetBiosName::Broadcast(),
                       {{TNetBiosName::Make("NMBD", 0x00), false},
                        {TNetBiosName::Make("NMBD", 0x03), false},
                        {TNetBiosName::Make("BOB", 0x03), false},
                        {TNetBiosName::Make("WG", 0x03), true}}};
  // From another address it is not taken; from the machine it is.
  EXPECT_FALSE(service.TakeNamePacket(BuildStatusAnswer(answer), {0x0a000009, 137}));
  EXPECT_TRUE(service.TakeNamePacket(BuildStatusAnswer(answer), {0x0a000002, 137}));
  const auto machines = service.Neighbourhood()->Machines(TClock::now());
  ASSERT_EQ(machines.size(), 2u);
  EXPECT_EQ(machines[0].name, "NMBD");
  EXPECT_EQ(machines[0].workgroup, "WG");
  EXPECT_EQ(machines[0].people, (std::vector<std::string>{"NMBD", "BOB"}));
  EXPECT_FALSE(machines[1].peopleKnown);
  // Its own frames, and other mailslots, are not heard.
  EXPECT_TRUE(service.TakeDatagram(BrowseDatagram(BuildAnnouncement(Host("SELF")), "WG", 0x1D),
                                   {0x0a000001, 138}, true));
  auto messenger = BrowseDatagram("x", "WG", 0);
  messenger.mailslot = "\\MAILSLOT\\MESSNGR";
  EXPECT_FALSE(service.TakeDatagram(messenger, {0x0a000002, 138}, false));
  EXPECT_EQ(service.Neighbourhood()->Size(), 2u);

  if (!HasBroadcastInterface()) {
    service.Stopped();
    GTEST_SKIP() << "no broadcast interface here: announcements not checked";
  }
  // No announcement while the name is being claimed; one once it is held.
  EXPECT_TRUE(ports.Announcements().empty());
  {
    std::lock_guard<std::mutex> guard(heldLock);
    held = true;
  }
  ASSERT_TRUE(testing::WaitUntil([&] { return !ports.Announcements().empty(); }));
  TAnnouncement first = ports.Announcements()[0];
  EXPECT_EQ(first.name, "PLINGPC");
  EXPECT_EQ(first.serverType, kServerWorkstation);
  EXPECT_EQ(first.periodicityMs, 60000u);
  EXPECT_EQ(first.comment, "Pling \x96 alice");
  {
    std::lock_guard<std::mutex> guard(ports.lock);
    EXPECT_EQ(ports.datagrams[0].data, BuildAnnouncementRequest({"PLINGPC"}));
    EXPECT_EQ(ports.datagrams.back().destination, TNetBiosName::Make("WG", 0x1D));
  }
  // A request for this workgroup is answered; one for another is not.
  const std::size_t before = ports.Announcements().size();
  service.TakeDatagram(BrowseDatagram(BuildAnnouncementRequest({}), "OTHERWG", 0x1E),
                       {0x0a000002, 138}, false);
  service.TakeDatagram(BrowseDatagram(BuildAnnouncementRequest({}), "WG", 0x1E), {0x0a000002, 138},
                       false);
  ASSERT_TRUE(testing::WaitUntil([&] { return ports.Announcements().size() == before + 1; }));
  // A new comment goes out at once, with the interval as it was; the same one
  // again sends nothing.
  service.SetComment("Back at four");
  ASSERT_TRUE(testing::WaitUntil([&] { return ports.Announcements().size() == before + 2; }));
  service.SetComment("Back at four");
  service.Stopping();
  service.Stopped();
  const auto all = ports.Announcements();
  ASSERT_EQ(all.size(), before + 3);
  EXPECT_EQ(all[before + 1].comment, "Back at four");
  EXPECT_EQ(all[before + 1].periodicityMs, 60000u);
  EXPECT_EQ(all.back().serverType, 0u);
  EXPECT_EQ(all.back().comment, "Back at four");
  EXPECT_EQ(all.back().name, "PLINGPC");
}

}  // namespace
}  // namespace pling::net
