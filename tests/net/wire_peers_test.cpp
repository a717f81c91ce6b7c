// SPDX-License-Identifier: GPL-3.0-or-later
// Our packets against decoders and encoders written by others: Samba's NDR
// (python3-samba) and tshark's dissectors, driven through wire_peers.py: the
// datagrams, the queries, and the packets that claim, defend and release names
// (ours are those Samba builds: the same bytes). Each
// test skips, saying why, where its tool is missing.
#include "net/name_packets.h"
#include "net/netbios.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>
#include "hex.h"

namespace pling::net {
namespace {

constexpr char kPython[] = "/usr/bin/python3";

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

using pling::testing::FromHex;

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

struct PeerResult {
  int status = -1;
  std::string output;
  std::map<std::string, std::string> values;  // the key=value lines
};

PeerResult RunPeer(const std::vector<std::string>& args) {
  std::string command = std::string(kPython) + " " + Quote(PLING_WIRE_PEERS);
  for (const auto& arg : args) command += " " + Quote(arg);
  PeerResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::size_t start = 0;
  while (start < result.output.size()) {
    std::size_t end = result.output.find('\n', start);
    if (end == std::string::npos) end = result.output.size();
    const std::string line = result.output.substr(start, end - start);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) result.values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return result;
}

// The reason to skip, or empty when the tool is there.
std::string Missing(const std::string& check) {
  if (::access(kPython, X_OK) != 0) return std::string(kPython) + " is not installed";
  const PeerResult result = RunPeer({check});
  if (result.status == 0) return {};
  return result.output.empty() ? check + " failed" : result.output;
}

#define SKIP_WITHOUT(check)                      \
  do {                                           \
    const std::string reason = Missing(check);   \
    if (!reason.empty()) GTEST_SKIP() << reason; \
  } while (false)

std::string AllBytes(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 % 256);
  return data;
}

std::vector<TMailslotDatagram> SampleDatagrams() {
  TMailslotDatagram unique;
  unique.id = 0x1234;
  unique.sourceIp = 0xC000020A;
  unique.source = TNetBiosName::Make("ALICEPC", 0x00);
  unique.destination = TNetBiosName::Make("BOB", 0x03);
  unique.mailslot = "\\MAILSLOT\\MESSNGR";
  unique.data = std::string("ALICE\0BOB\0Hello\0", 16);

  TMailslotDatagram group = unique;
  group.type = TDatagramType::DirectGroup;
  group.id = 0xFFFF;
  group.sourceIp = 0x0A630102;
  group.destination = TNetBiosName::Make("WORKGROUP", 0x00);
  group.data = AllBytes(kMaxMailslotData);
  group.priority = 9;

  TMailslotDatagram broadcast = unique;
  broadcast.type = TDatagramType::Broadcast;
  broadcast.id = 0;
  broadcast.destination = TNetBiosName::Broadcast();
  broadcast.data.clear();
  return {unique, group, broadcast};
}

std::string Dotted(std::uint32_t ip) {
  return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 0xFF) + "." +
         std::to_string(ip >> 8 & 0xFF) + "." + std::to_string(ip & 0xFF);
}

TEST(WirePeersTest, UnpacksOurDatagramsAndPacksThemBackByteForByte) {
  SKIP_WITHOUT("check-samba");
  for (const TMailslotDatagram& d : SampleDatagrams()) {
    SCOPED_TRACE(d.destination.ToString());
    const std::string bytes = BuildMailslotDatagram(d);
    const PeerResult peer = RunPeer({"samba-dgram", ToHex(bytes)});
    ASSERT_EQ(peer.status, 0) << peer.output;
    auto value = [&](const std::string& key) {
      const auto it = peer.values.find(key);
      return it == peer.values.end() ? "<missing " + key + ">" : it->second;
    };
    EXPECT_EQ(value("msg_type"), "0x" + ToHex(std::string(1, static_cast<char>(d.type))));
    EXPECT_EQ(value("flags"), "0x2");
    EXPECT_EQ(std::stoul(value("dgram_id"), nullptr, 16), d.id);
    EXPECT_EQ(value("src_addr"), Dotted(d.sourceIp));
    EXPECT_EQ(value("src_port"), "138");
    EXPECT_EQ(value("length"), std::to_string(bytes.size() - 14));
    EXPECT_EQ(value("source"), d.source.ToString());
    EXPECT_EQ(value("destination"),
              d.destination.Name() == "*" ? "*<00>" : d.destination.ToString());
    EXPECT_EQ(value("command"), "0x25");
    EXPECT_EQ(value("wct"), "17");
    EXPECT_EQ(value("setup_count"), "3");
    EXPECT_EQ(value("opcode"), "1");
    EXPECT_EQ(value("class"), "2");
    EXPECT_EQ(value("priority"), std::to_string(d.priority));
    EXPECT_EQ(value("total_data_count"), std::to_string(d.data.size()));
    EXPECT_EQ(value("data_count"), std::to_string(d.data.size()));
    EXPECT_EQ(value("data_offset"), std::to_string(70 + d.mailslot.size()));
    EXPECT_EQ(value("byte_count"), std::to_string(d.mailslot.size() + 1 + d.data.size()));
    EXPECT_EQ(value("mailslot"), d.mailslot);
    EXPECT_EQ(value("data"), ToHex(d.data));
    EXPECT_EQ(value("repacked"), "same");
  }
}

TEST(WirePeersTest, ItsDatagramsParseHereWithOrWithoutPadding) {
  SKIP_WITHOUT("check-samba");
  TMailslotDatagram expected;
  expected.type = TDatagramType::DirectGroup;
  expected.id = 7;
  expected.sourceIp = 0x0A630102;
  expected.source = TNetBiosName::Make("CAROL", 0x00);
  expected.destination = TNetBiosName::Make("WORKGROUP", 0x00);
  expected.mailslot = "\\MAILSLOT\\MESSNGR";
  expected.data = std::string("CAROL\0*\0Hi all\0", 15);
  expected.priority = 1;
  for (const int pad : {0, 1, 3}) {
    SCOPED_TRACE(pad);
    const PeerResult peer =
        RunPeer({"samba-build-dgram", "0x11", "7", "10.99.1.2", "CAROL", "0", "WORKGROUP", "0",
                 expected.mailslot, ToHex(expected.data), "1", std::to_string(pad)});
    ASSERT_EQ(peer.status, 0) << peer.output;
    const std::string packet = FromHex(peer.values.at("packet"));
    EXPECT_EQ(ParseMailslotDatagram(packet), expected);
    // Unpadded, both encoders write the same bytes.
    if (pad == 0) {
      EXPECT_EQ(ToHex(BuildMailslotDatagram(expected)), ToHex(packet));
    }
  }
}

TEST(WirePeersTest, NamePacketsGoBothWays) {
  SKIP_WITHOUT("check-samba");
  for (const bool broadcast : {true, false}) {
    const TNameQuery query{0x4321, broadcast, TNetBiosName::Make("BOB", 0x03)};
    const PeerResult peer = RunPeer({"samba-name", ToHex(BuildNameQuery(query))});
    ASSERT_EQ(peer.status, 0) << peer.output;
    EXPECT_EQ(peer.values.at("id"), "0x4321");
    EXPECT_EQ(peer.values.at("operation"), broadcast ? "0x0110" : "0x0100");
    EXPECT_EQ(peer.values.at("qdcount"), "1");
    EXPECT_EQ(peer.values.at("ancount"), "0");
    EXPECT_EQ(peer.values.at("question0.name"), "BOB<03>");
    EXPECT_EQ(peer.values.at("question0.type"), "0x20");
    EXPECT_EQ(peer.values.at("question0.class"), "0x1");
    EXPECT_EQ(peer.values.at("repacked"), "same");
  }
  for (const bool group : {true, false}) {
    const TNameAnswer answer{0x4321, TNetBiosName::Make("WORKGROUP", 0x00), group, 259200,
                             0x0A630105};
    const PeerResult peer = RunPeer({"samba-name", ToHex(BuildNameAnswer(answer))});
    ASSERT_EQ(peer.status, 0) << peer.output;
    EXPECT_EQ(peer.values.at("operation"), "0x8580");
    EXPECT_EQ(peer.values.at("qdcount"), "0");
    EXPECT_EQ(peer.values.at("ancount"), "1");
    EXPECT_EQ(peer.values.at("answer0.name"), "WORKGROUP<00>");
    EXPECT_EQ(peer.values.at("answer0.type"), "0x20");
    EXPECT_EQ(peer.values.at("answer0.ttl"), "259200");
    EXPECT_EQ(peer.values.at("answer0.nb_flags0"), group ? "0x8000" : "0x0000");
    EXPECT_EQ(peer.values.at("answer0.address0"), "10.99.1.5");
    EXPECT_EQ(peer.values.count("answer0.address1"), 0u);
    EXPECT_EQ(peer.values.at("repacked"), "same");
  }

  PeerResult peer = RunPeer({"samba-build-query", "0xabcd", "0x0110", "DAVE", "0x03"});
  ASSERT_EQ(peer.status, 0) << peer.output;
  EXPECT_EQ(ParseNameQuery(FromHex(peer.values.at("packet"))),
            (TNameQuery{0xABCD, true, TNetBiosName::Make("DAVE", 0x03)}));
  peer = RunPeer({"samba-build-answer", "0xabcd", "DAVE", "0x03", "300", "0x6000", "10.99.1.7"});
  ASSERT_EQ(peer.status, 0) << peer.output;
  EXPECT_EQ(ParseNameAnswer(FromHex(peer.values.at("packet"))),
            (TNameAnswer{0xABCD, TNetBiosName::Make("DAVE", 0x03), false, 300, 0x0A630107}));
}

TEST(WirePeersTest, DecodesOurDatagramsAndNamePackets) {
  SKIP_WITHOUT("check-tshark");
  const std::vector<TMailslotDatagram> datagrams = SampleDatagrams();
  const TNameQuery query{0x4321, true, TNetBiosName::Make("BOB", 0x03)};
  const TNameAnswer answer{0x4321, TNetBiosName::Make("BOB", 0x03), false, 259200, 0x0A630105};
  std::vector<std::string> args = {"tshark"};
  for (const auto& d : datagrams) args.push_back("138:" + ToHex(BuildMailslotDatagram(d)));
  args.push_back("137:" + ToHex(BuildNameQuery(query)));
  args.push_back("137:" + ToHex(BuildNameAnswer(answer)));
  const PeerResult peer = RunPeer(args);
  ASSERT_EQ(peer.status, 0) << peer.output;
  auto value = [&](std::size_t frame, const std::string& field) {
    const auto it = peer.values.find(std::to_string(frame) + ":" + field);
    return it == peer.values.end() ? std::string() : it->second;
  };

  for (std::size_t i = 0; i < datagrams.size(); ++i) {
    const TMailslotDatagram& d = datagrams[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(value(i, "nbdgm.type"), std::to_string(static_cast<int>(d.type)));
    EXPECT_EQ(value(i, "nbdgm.src.ip"), Dotted(d.sourceIp));
    EXPECT_EQ(std::stoul(value(i, "nbdgm.dgram_id"), nullptr, 16), d.id);
    EXPECT_EQ(value(i, "nbdgm.first"), "1");
    EXPECT_EQ(value(i, "nbdgm.next"), "0");
    EXPECT_EQ(value(i, "nbdgm.source_name"), d.source.ToString());
    if (d.type != TDatagramType::Broadcast) {
      EXPECT_EQ(value(i, "nbdgm.destination_name"), d.destination.ToString());
    } else {
      EXPECT_EQ(value(i, "nbdgm.destination_name").substr(0, 1), "*");
    }
    EXPECT_EQ(value(i, "smb.cmd"), "0x25");
    EXPECT_EQ(value(i, "smb.data_offset"), "87");
    EXPECT_EQ(value(i, "smb.dc"), std::to_string(d.data.size()));
    EXPECT_EQ(value(i, "smb.trans_name"), "\\MAILSLOT\\MESSNGR");
    EXPECT_EQ(value(i, "data.data"), ToHex(d.data));
    // tshark hands only a write that carries data to its mailslot decoder.
    if (!d.data.empty()) {
      EXPECT_EQ(value(i, "mailslot.opcode"), "1");
      EXPECT_EQ(value(i, "mailslot.priority"), std::to_string(d.priority));
      EXPECT_EQ(value(i, "mailslot.class"), "2");
      EXPECT_EQ(value(i, "mailslot.name"), "\\MAILSLOT\\MESSNGR");
    }
    EXPECT_EQ(value(i, "_ws.malformed"), "");
    EXPECT_EQ(value(i, "_ws.expert.message"), "");
  }

  const std::size_t q = datagrams.size();
  EXPECT_EQ(value(q, "nbns.id"), "0x4321");
  EXPECT_EQ(value(q, "nbns.flags"), "0x0110");
  EXPECT_EQ(value(q, "nbns.name").substr(0, 7), "BOB<03>");
  EXPECT_EQ(value(q, "nbns.type"), "32");
  EXPECT_EQ(value(q + 1, "nbns.flags"), "0x8580");
  EXPECT_EQ(value(q + 1, "nbns.name").substr(0, 7), "BOB<03>");
  EXPECT_EQ(value(q + 1, "nbns.ttl"), "259200");
  EXPECT_EQ(value(q + 1, "nbns.nb_flags.group"), "0");
  EXPECT_EQ(value(q + 1, "nbns.addr"), "10.99.1.5");
  EXPECT_EQ(value(q + 1, "_ws.malformed"), "");
}

// The packets that claim, defend and release names, and a WINS server's answers,
// as Samba writes them: each one reads here and builds again to the same bytes.
TEST(WirePeersTest, ItsClaimAndServerPacketsParseHereAndBuildTheSameBytes) {
  SKIP_WITHOUT("check-samba");
  const TNetBiosName bob = TNetBiosName::Make("BOB", 0x03);
  // flags, TTL, NB_FLAGS: registrations by broadcast and with a server, the
  // overwrite demand, both refresh opcodes, releases, a multi-homed registration.
  const std::vector<std::array<const char*, 3>> requests = {
      {"0x2910", "0", "0x0000"},      {"0x2900", "300000", "0x6000"}, {"0x2810", "0", "0x0000"},
      {"0x4000", "300000", "0x6000"}, {"0x4800", "300000", "0x6000"}, {"0x3010", "0", "0x8000"},
      {"0x3000", "0", "0x6000"},      {"0x7900", "300000", "0x6000"}};
  for (const auto& [flags, ttl, nbFlags] : requests) {
    SCOPED_TRACE(flags);
    const PeerResult peer =
        RunPeer({"samba-build-request", "0x1234", flags, "BOB", "0x03", ttl, nbFlags, "10.99.1.7"});
    ASSERT_EQ(peer.status, 0) << peer.output;
    const std::string packet = FromHex(peer.values.at("packet"));
    const std::optional<TNameRequest> request = ParseNameRequest(packet);
    ASSERT_TRUE(request);
    EXPECT_EQ(
        *request,
        (TNameRequest{0x1234, static_cast<std::uint16_t>(std::stoul(flags, nullptr, 16)), bob,
                      static_cast<std::uint32_t>(std::stoul(ttl)),
                      static_cast<std::uint16_t>(std::stoul(nbFlags, nullptr, 16)), 0x0A630107}));
    EXPECT_EQ(ToHex(BuildNameRequest(*request)), ToHex(packet));
  }
  // flags, record type, TTL, RDATA: positive and negative (ACT_ERR) registration
  // responses, the conflict demand, a WACK, a release response, and the server's
  // positive and negative query answers.
  const std::vector<std::array<const char*, 4>> responses = {
      {"0xad80", "0x20", "300000", "60000a630107"},
      {"0xad86", "0x20", "0", "60000a630107"},
      {"0xad87", "0x20", "0", "000000000000"},
      {"0xbc00", "0x0a", "2", "2900"},
      {"0xb400", "0x20", "0", "60000a630107"},
      {"0x8580", "0x20", "259200", "60000a630107"},
      {"0x8583", "0x0a", "0", ""}};
  for (const auto& [flags, type, ttl, data] : responses) {
    SCOPED_TRACE(flags);
    const PeerResult peer =
        RunPeer({"samba-build-response", "0x4321", flags, "BOB", "0x03", type, ttl, data});
    ASSERT_EQ(peer.status, 0) << peer.output;
    const std::string packet = FromHex(peer.values.at("packet"));
    const std::optional<TNameResponse> response = ParseNameResponse(packet);
    ASSERT_TRUE(response);
    EXPECT_EQ(*response,
              (TNameResponse{0x4321, static_cast<std::uint16_t>(std::stoul(flags, nullptr, 16)),
                             bob, static_cast<std::uint16_t>(std::stoul(type, nullptr, 16)),
                             static_cast<std::uint32_t>(std::stoul(ttl)), FromHex(data)}));
    EXPECT_EQ(ToHex(BuildNameResponse(*response)), ToHex(packet));
  }
  // The server's positive answer is read by the query code too.
  const PeerResult answer = RunPeer(
      {"samba-build-response", "0x4321", "0x8580", "BOB", "0x03", "0x20", "600", "60000a630107"});
  ASSERT_EQ(answer.status, 0) << answer.output;
  EXPECT_EQ(ParseNameAnswer(FromHex(answer.values.at("packet"))),
            (TNameAnswer{0x4321, bob, false, 600, 0x0A630107}));
}

}  // namespace
}  // namespace pling::net
