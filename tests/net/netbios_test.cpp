// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/netbios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include "hex.h"

namespace pling::net {
namespace {

using pling::testing::FromHex;

// A direct datagram from ALICEPC<00> at 192.0.2.10 to BOB<03>, as Windows and
// other stacks decode it (offset column dropped).
const std::string kAliceToBob = FromHex(
    "10 02 12 34 c0 00 02 0a 00 8a 00 ab 00 00 20 45"
    "42 45 4d 45 4a 45 44 45 46 46 41 45 44 43 41 43"
    "41 43 41 43 41 43 41 43 41 43 41 43 41 41 41 00"
    "20 45 43 45 50 45 43 43 41 43 41 43 41 43 41 43"
    "41 43 41 43 41 43 41 43 41 43 41 43 41 43 41 41"
    "44 00 ff 53 4d 42 25 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 11 00 00 10 00 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 00 00 00 10 00 57 00 03 00 01"
    "00 00 00 02 00 22 00 5c 4d 41 49 4c 53 4c 4f 54"
    "5c 4d 45 53 53 4e 47 52 00 41 4c 49 43 45 00 42"
    "4f 42 00 48 65 6c 6c 6f 00");

const std::string kMessage{"ALICE\0BOB\0Hello\0", 16};

TMailslotDatagram AliceToBob() {
  TMailslotDatagram d;
  d.type = TDatagramType::DirectUnique;
  d.id = 0x1234;
  d.sourceIp = 0xC000020A;
  d.source = TNetBiosName::Make("alicepc", 0x00);
  d.destination = TNetBiosName::Make("BOB", 0x03);
  d.mailslot = "\\MAILSLOT\\MESSNGR";
  d.data = kMessage;
  return d;
}

void PutLe16(std::string& packet, std::size_t at, std::uint16_t v) {
  packet[at] = static_cast<char>(v & 0xFF);
  packet[at + 1] = static_cast<char>(v >> 8);
}

constexpr std::size_t kSmb = 82;

TEST(NetBiosTest, MakeUpperCasesPadsAndTruncatesAndNameStripsThePadding) {
  const TNetBiosName bob = TNetBiosName::Make("bob", 0x03);
  EXPECT_EQ(std::string(bob.bytes.begin(), bob.bytes.end()), std::string("BOB            \x03"));
  EXPECT_EQ(bob.Name(), "BOB");
  EXPECT_EQ(bob.Suffix(), 0x03);
  EXPECT_EQ(bob.ToString(), "BOB<03>");

  // Only ASCII letters are folded; OEM bytes stay as the caller gave them.
  const TNetBiosName oem = TNetBiosName::Make("a\x81z-longer-than-fifteen", 0x20);
  EXPECT_EQ(oem.Name(), "A\x81Z-LONGER-THAN");
  EXPECT_EQ(oem.Suffix(), 0x20);
  // A name off the wire is folded by the same rule; its suffix is no letter.
  TNetBiosName wire = TNetBiosName::Make("", 'a');
  const std::string raw = "`az{@\x81\xE4 bob";
  std::copy(raw.begin(), raw.end(), wire.bytes.begin());
  EXPECT_EQ(wire.Upper(), TNetBiosName::Make("`AZ{@\x81\xE4 BOB", 'a'));
  EXPECT_EQ(NetBiosUpper(raw + "xyz"), "`AZ{@\x81\xE4 BOBXYZ");

  const TNetBiosName all = TNetBiosName::Broadcast();
  EXPECT_EQ(all.bytes[0], '*');
  for (std::size_t i = 1; i < 16; ++i) EXPECT_EQ(all.bytes[i], 0) << i;
  EXPECT_EQ(all.Name(), "*");
  EXPECT_NE(all, TNetBiosName::Make("*", 0x00)) << "the broadcast name is zero padded";
}

TEST(NetBiosTest, DecodeTakesOnlyTheUncompressedFormAndLeavesPosOnFailure) {
  std::string packet = "xy";
  AppendEncodedName(TNetBiosName::Make("ALICEPC", 0x00), packet);
  ASSERT_EQ(packet.size(), 36u);
  EXPECT_EQ(packet.substr(2), kAliceToBob.substr(14, 34));
  std::size_t pos = 2;
  const auto name = DecodeName(packet, pos);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->Name(), "ALICEPC");
  EXPECT_EQ(pos, 36u);

  auto rejects = [](std::string bad, std::size_t start) {
    std::size_t at = start;
    EXPECT_FALSE(DecodeName(bad, at));
    EXPECT_EQ(at, start);
  };
  rejects(packet, 3);                // misaligned: starts inside the name
  rejects(packet, 37);               // past the end
  rejects(packet.substr(0, 35), 2);  // one byte short
  std::string pointer = packet;
  pointer[2] = '\xC0';  // a compression pointer
  rejects(pointer, 2);
  std::string scope = packet;
  scope[35] = 3;  // a scope label follows
  rejects(scope, 2);
  for (const char letter : {'@', 'Q', 'a'}) {
    std::string bad = packet;
    bad[20] = letter;  // not a half-byte letter
    rejects(bad, 2);
  }
}

TEST(NetBiosTest, BuildsAndParsesTheReferenceDatagramByteForByte) {
  EXPECT_EQ(BuildMailslotDatagram(AliceToBob()), kAliceToBob);

  const auto parsed = ParseMailslotDatagram(kAliceToBob);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, AliceToBob());
  EXPECT_EQ(parsed->source.ToString(), "ALICEPC<00>");

  // Group and broadcast datagrams, every data size up to the limit, a priority.
  TMailslotDatagram group = AliceToBob();
  group.destination = TNetBiosName::Make("WORKGROUP", 0x00);
  for (const auto type : {TDatagramType::DirectGroup, TDatagramType::Broadcast}) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kMaxMailslotData}) {
      group.type = type;
      group.data = std::string(size, '\xE9');
      group.priority = 7;
      const std::string bytes = BuildMailslotDatagram(group);
      EXPECT_EQ(bytes.size(), 82 + 70 + group.mailslot.size() + size);  // DataOffset + data
      EXPECT_EQ(ParseMailslotDatagram(bytes), group);
    }
  }
}

TEST(NetBiosTest, HonoursDataOffsetAndDataCountAcrossPaddingAndTrailingBytes) {
  // Data aligned to 4 bytes: one pad byte after the name, DataOffset 88.
  std::string padded = kAliceToBob;
  padded.insert(kSmb + 87, "\x5A", 1);
  PutLe16(padded, kSmb + 57, 88);
  PutLe16(padded, kSmb + 67, 35);
  padded[11] = static_cast<char>(padded[11] + 1);
  auto parsed = ParseMailslotDatagram(padded);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->data, kMessage);
  EXPECT_EQ(parsed->mailslot, "\\MAILSLOT\\MESSNGR");

  // Bytes after DataCount, or after DGM_LENGTH, are not part of the message.
  std::string trailing = kAliceToBob + std::string("junk");
  parsed = ParseMailslotDatagram(trailing);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->data, kMessage);

  // The name keeps its case as it came; the receiver compares without case.
  std::string lower = kAliceToBob;
  lower.replace(kSmb + 70, 8, "mailslot");
  parsed = ParseMailslotDatagram(lower);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->mailslot, "\\mailslot\\MESSNGR");

  // Node type bits in FLAGS are ignored.
  std::string hNode = kAliceToBob;
  hNode[1] = 0x0E;
  EXPECT_TRUE(ParseMailslotDatagram(hNode));
}

TEST(NetBiosTest, RejectsFragmentsOtherTypesAndEveryTruncation) {
  for (std::size_t size = 0; size < kAliceToBob.size(); ++size) {
    EXPECT_FALSE(ParseMailslotDatagram(kAliceToBob.substr(0, size))) << size;
  }
  auto withByte = [](std::size_t at, char value) {
    std::string packet = kAliceToBob;
    packet[at] = value;
    return packet;
  };
  EXPECT_FALSE(ParseMailslotDatagram(withByte(0, 0x13))) << "error datagram";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(0, 0x14))) << "query request";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(1, 0x03))) << "first of several fragments";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(1, 0x00))) << "a later fragment";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(13, 0x40))) << "a fragment's offset";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(11, '\xaa'))) << "DGM_LENGTH cuts the data";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb, 0x00))) << "not an SMB";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 4, 0x32))) << "another SMB command";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 32, 16))) << "word count";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 59, 2))) << "setup count";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 61, 2))) << "not a mailslot write";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 35, 0x20))) << "data in several parts";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 67, 17))) << "name's NUL not counted";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 57, 86))) << "data overlaps the name";
  EXPECT_FALSE(ParseMailslotDatagram(withByte(kSmb + 58, 0x01))) << "data offset too far";

  std::string count = kAliceToBob;
  PutLe16(count, kSmb + 35, 17);
  PutLe16(count, kSmb + 55, 17);
  EXPECT_FALSE(ParseMailslotDatagram(count)) << "data count one byte too far";
  PutLe16(count, kSmb + 35, 0xFFFF);
  PutLe16(count, kSmb + 55, 0xFFFF);
  EXPECT_FALSE(ParseMailslotDatagram(count)) << "data count far beyond the packet";
}

TEST(NetBiosTest, BuildRefusesWhatTheWireCannotCarry) {
  TMailslotDatagram d = AliceToBob();
  d.mailslot = std::string("\\MAILSLOT\\A\0B", 13);
  EXPECT_THROW(BuildMailslotDatagram(d), std::invalid_argument);

  d = AliceToBob();
  d.data = std::string(65507 - 82 - 70 - d.mailslot.size(), 'x');
  const std::string largest = BuildMailslotDatagram(d);
  EXPECT_EQ(largest.size(), 65507u);
  EXPECT_EQ(ParseMailslotDatagram(largest), d);
  d.data += 'x';
  EXPECT_THROW(BuildMailslotDatagram(d), std::invalid_argument);
}

TEST(NetBiosTest, QueryBytesAndParsing) {
  TNameQuery q{0xBEEF, true, TNetBiosName::Make("bob", 0x03)};
  const std::string bytes = BuildNameQuery(q);
  std::string expected = FromHex("be ef 01 10 00 01 00 00 00 00 00 00");
  AppendEncodedName(TNetBiosName::Make("BOB", 0x03), expected);
  expected += FromHex("00 20 00 01");
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(ParseNameQuery(bytes), q);

  q.broadcast = false;
  EXPECT_EQ(BuildNameQuery(q).substr(2, 2), FromHex("01 00"));
  EXPECT_EQ(ParseNameQuery(BuildNameQuery(q)), q);

  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(ParseNameQuery(bytes.substr(0, size))) << size;
  }
  auto withByte = [&](std::size_t at, char value) {
    std::string packet = bytes;
    packet[at] = value;
    return packet;
  };
  EXPECT_FALSE(ParseNameQuery(withByte(2, '\x81'))) << "a response";
  EXPECT_FALSE(ParseNameQuery(withByte(2, 0x29))) << "a registration";
  EXPECT_FALSE(ParseNameQuery(withByte(5, 2))) << "two questions";
  EXPECT_FALSE(ParseNameQuery(withByte(47, 0x21))) << "a node status request";
  EXPECT_FALSE(ParseNameQuery(withByte(49, 0x02))) << "another class";
}

TEST(NetBiosTest, AnswerBytesAndParsing) {
  const TNameAnswer a{0xBEEF, TNetBiosName::Make("WORKGROUP", 0x00), true, 259200, 0x0A630105};
  const std::string bytes = BuildNameAnswer(a);
  std::string expected = FromHex("be ef 85 80 00 00 00 01 00 00 00 00");
  AppendEncodedName(a.name, expected);
  expected += FromHex("00 20 00 01 00 03 f4 80 00 06 80 00 0a 63 01 05");
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(ParseNameAnswer(bytes), a);
  TNameAnswer unique = a;
  unique.group = false;
  EXPECT_EQ(ParseNameAnswer(BuildNameAnswer(unique)), unique);

  // The first of several addresses; flags other servers send (no RA, not AA).
  std::string several = bytes;
  several[55] = 12;
  several += FromHex("00 00 0a 63 01 06");
  several[3] = 0x00;
  several[2] = static_cast<char>(0x84);
  EXPECT_EQ(ParseNameAnswer(several), a);

  // An answer that repeats the question.
  std::string withQuestion = bytes.substr(0, 12);
  withQuestion[5] = 1;
  AppendEncodedName(a.name, withQuestion);
  withQuestion += FromHex("00 20 00 01") + bytes.substr(12);
  EXPECT_EQ(ParseNameAnswer(withQuestion), a);

  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(ParseNameAnswer(bytes.substr(0, size))) << size;
  }
  auto withByte = [&](std::size_t at, char value) {
    std::string packet = bytes;
    packet[at] = value;
    return packet;
  };
  EXPECT_FALSE(ParseNameAnswer(BuildNameQuery({1, true, a.name}))) << "a query";
  EXPECT_FALSE(ParseNameAnswer(withByte(3, '\x83'))) << "negative: no such name";
  EXPECT_FALSE(ParseNameAnswer(withByte(7, 0))) << "no answer record";
  EXPECT_FALSE(ParseNameAnswer(withByte(47, 0x21))) << "a node status answer";
  EXPECT_FALSE(ParseNameAnswer(withByte(47, 0x0A))) << "a wait-for-acknowledgement";
  EXPECT_FALSE(ParseNameAnswer(withByte(55, 4))) << "address field too short";
  EXPECT_FALSE(ParseNameAnswer(withByte(55, 12))) << "addresses beyond the packet";
}

TEST(NetBiosTest, QueryAndAnswerBytesRoundTripAndTheWriteName) {
  const TStatusQuery q{0x1234, TNetBiosName::Broadcast()};
  std::string expected = FromHex("12 34 00 00 00 01 00 00 00 00 00 00 20 43 4b") +
                         std::string(30, 'A') + FromHex("00 00 21 00 01");
  EXPECT_EQ(BuildStatusQuery(q), expected);
  EXPECT_EQ(ParseStatusQuery(expected), q);
  EXPECT_FALSE(ParseNameQuery(expected)) << "not a name query";
  EXPECT_FALSE(ParseStatusQuery(BuildNameQuery({1, false, q.name}))) << "a name query";

  const TStatusAnswer a{0x1234,
                        TNetBiosName::Broadcast(),
                        {{TNetBiosName::Make("OFFICE", 0x00), true},
                         {TNetBiosName::Make("BOB", 0x00), false},
                         {TNetBiosName::Make("ALICE", 0x03), false},
                         {TNetBiosName::Make("BOB", 0x03), false}}};
  const std::string bytes = BuildStatusAnswer(a);
  ASSERT_EQ(bytes.size(), 12u + 34 + 10 + 1 + 4 * 18 + 46);
  EXPECT_EQ(bytes.substr(2, 2), FromHex("84 00"));
  EXPECT_EQ(bytes.substr(46, 10), FromHex("00 21 00 01 00 00 00 00 00 77"));
  EXPECT_EQ(bytes.substr(56, 19), FromHex("04") + "OFFICE         " + FromHex("00 84 00"));
  EXPECT_EQ(ParseStatusAnswer(bytes), a);
  EXPECT_FALSE(ParseNameAnswer(bytes)) << "not a name answer";
  EXPECT_FALSE(ParseStatusAnswer(BuildNameAnswer({1, q.name, false, 1, 1}))) << "a name answer";

  // The messenger name first listed, not the workgroup nor the workstation name.
  EXPECT_EQ(MessengerName(a), TNetBiosName::Make("ALICE", 0x03));
  // Without one, the first unique workstation name; a group name never.
  TStatusAnswer noMessenger = a;
  noMessenger.names.erase(noMessenger.names.begin() + 2, noMessenger.names.end());
  EXPECT_EQ(MessengerName(noMessenger), TNetBiosName::Make("BOB", 0x00));
  TStatusAnswer groupsOnly = a;
  groupsOnly.names = {{TNetBiosName::Make("OFFICE", 0x00), true},
                      {TNetBiosName::Make("OFFICE", 0x03), true},
                      {TNetBiosName::Make("BOB", 0x20), false}};
  EXPECT_FALSE(MessengerName(groupsOnly));

  // Statistics cut short or missing do not matter; no names is an answer too.
  const std::size_t namesEnd = bytes.size() - 46;
  std::string noStatistics = bytes.substr(0, namesEnd);
  noStatistics[55] = static_cast<char>(1 + 4 * 18);
  EXPECT_EQ(ParseStatusAnswer(noStatistics), a);
  const TStatusAnswer empty{7, TNetBiosName::Broadcast(), {}};
  EXPECT_EQ(ParseStatusAnswer(BuildStatusAnswer(empty)), empty);
}

TEST(NetBiosTest, MalformedAnswersAreRefused) {
  const TStatusAnswer a{
      0x0102,
      TNetBiosName::Broadcast(),
      {{TNetBiosName::Make("BOB", 0x03), false}, {TNetBiosName::Make("BOB", 0x00), false}}};
  const std::string bytes = BuildStatusAnswer(a);
  // Cut anywhere before the last name ends.
  for (std::size_t size = 0; size < bytes.size() - 46; ++size) {
    EXPECT_FALSE(ParseStatusAnswer(bytes.substr(0, size))) << size;
  }
  auto withByte = [&](std::size_t at, char value) {
    std::string packet = bytes;
    packet[at] = value;
    return packet;
  };
  EXPECT_FALSE(ParseStatusAnswer(withByte(56, 6))) << "more names than the record holds";
  EXPECT_FALSE(ParseStatusAnswer(withByte(56, '\xFF'))) << "more names than the packet holds";
  EXPECT_FALSE(ParseStatusAnswer(withByte(55, 36))) << "record too short for its names";
  EXPECT_FALSE(ParseStatusAnswer(withByte(55, 0))) << "empty record";
  EXPECT_FALSE(ParseStatusAnswer(withByte(54, 1))) << "record beyond the packet";
  EXPECT_FALSE(ParseStatusAnswer(withByte(3, 3))) << "negative answer";
  EXPECT_FALSE(ParseStatusAnswer(withByte(2, 0x04))) << "a query";
  EXPECT_FALSE(ParseStatusAnswer(withByte(7, 0))) << "no answer record";
  EXPECT_FALSE(ParseStatusAnswer(withByte(49, 0x02))) << "another class";
  EXPECT_FALSE(ParseStatusAnswer(withByte(5, 1))) << "a question the packet does not hold";

  std::vector<TStatusEntry> tooMany(kMaxStatusNames + 1, a.names[0]);
  EXPECT_THROW(BuildStatusAnswer({1, a.name, tooMany}), std::invalid_argument);
}

}  // namespace
}  // namespace pling::net
