// SPDX-License-Identifier: GPL-3.0-or-later
// Session messages: the codec against what Samba's client puts on the wire, one
// connection's exchange with its refusals and bounds, and the server and client
// over loopback sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hex.h"
#include "net/session_client.h"
#include "net/session_codec.h"
#include "net/session_server.h"
#include "net/socket.h"

namespace pling::net {
namespace {

using namespace std::chrono_literals;

using pling::testing::FromHex;

// `printf 'hello there\nsecond line é\n' | smbclient -M BOB -I ... -N` from host ALICE,
// as captured: the session request, then start, text and end (the group id 7 was
// the receiver's answer), each a whole session packet.
const std::string kRequest = FromHex(
    "81 00 00 44 20 45 43 45 50 45 43 43 41 43 41 43 41 43 41 43 41 43 41 43 41 43 41 43"
    "41 43 41 43 41 43 41 41 44 00 20 45 42 45 4d 45 4a 45 44 45 46 43 41 43 41 43 41 43"
    "41 43 41 43 41 43 41 43 41 43 41 43 41 41 41 00");
const std::string kStart = FromHex(
    "00 00 00 2e ff 53 4d 42 d5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 96 36 00 00 00 00 00 0b 00 04 72 6f 6f 74 00 04 42 4f 42 00");
const std::string kText = FromHex(
    "00 00 00 44 ff 53 4d 42 d7 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 96 36 00 00 00 00 01 07 00 1f 00 01 1c 00 68 65 6c 6c 6f 20 74 68 65 72 65 0d"
    "0a 73 65 63 6f 6e 64 20 6c 69 6e 65 20 82 0d 0a");
const std::string kEnd = FromHex(
    "00 00 00 25 ff 53 4d 42 d6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 96 36 00 00 00 00 01 07 00 00 00");
const std::string kDelivered{"root\0BOB\0hello there\r\nsecond line \x82\r\n", 37};

std::uint8_t Cmd(TSmbMessageCommand c) {
  return static_cast<std::uint8_t>(c);
}

std::string Packet(const TSmbMessageRequest& request) {
  return BuildSessionPacket(TSessionPacketType::Message, BuildSmbMessageRequest(request));
}

TSmbMessageRequest Command(TSmbMessageCommand command, std::string text = {},
                           std::uint16_t group = 7) {
  TSmbMessageRequest r;
  r.command = Cmd(command);
  r.originator = "EVE";
  r.destination = "BOB";
  r.group = group;
  r.text = std::move(text);
  return r;
}

// Splits a conversation's output into its packets' payloads (types kept in front).
std::vector<std::string> Packets(std::string_view out) {
  std::vector<std::string> packets;
  while (const auto header = ParseSessionHeader(out)) {
    packets.push_back(std::string(1, static_cast<char>(header->type)) +
                      std::string(out.substr(kSessionHeaderSize, header->length)));
    out.remove_prefix(kSessionHeaderSize + header->length);
  }
  EXPECT_TRUE(out.empty());
  return packets;
}

std::uint32_t StatusOf(const std::string& packet) {
  const auto reply = ParseSmbMessageReply(std::string_view(packet).substr(1));
  EXPECT_TRUE(reply.has_value());
  return reply ? reply->status : 0xFFFFFFFF;
}

constexpr std::uint32_t Status(TSmbStatus s) {
  return s.errorClass | std::uint32_t{s.code} << 16;
}

class SessionTest : public ::testing::Test {
 protected:
  void StartServer(const TSessionLimits& limits = {},
                   std::function<bool(const TNetBiosName&)> holds = nullptr) {
    TSessionServerConfig config;
    config.holds = std::move(holds);
    config.computerName = "BOB";
    config.userName = "ROOT";
    config.port = 0;
    config.address = INADDR_LOOPBACK;
    config.limits = limits;
    config.deliver = [this](std::string_view datagram) {
      std::lock_guard<std::mutex> guard(FLock);
      if (FRefuse) return false;
      FDelivered.emplace_back(datagram);
      return true;
    };
    FServer = std::make_unique<TSessionServer>(config);
    ASSERT_EQ(FServer->Start(), "");
  }
  TSessionOutcome Outcome(const std::string& called, const TMessengerMessage& message) {
    return SendSessionMessage(
        INADDR_LOOPBACK, FServer->Port(),
        TSessionRequest{TNetBiosName::Make(called, 0x03), TNetBiosName::Make("ALICE", 0)}, message);
  }
  bool Send(const std::string& called, const TMessengerMessage& message) {
    return Outcome(called, message) == TSessionOutcome::Delivered;
  }
  std::vector<std::string> Delivered() {
    std::lock_guard<std::mutex> guard(FLock);
    return FDelivered;
  }

  std::mutex FLock;
  bool FRefuse = false;
  std::vector<std::string> FDelivered;
  std::unique_ptr<TSessionServer> FServer;
};

TEST_F(SessionTest, ReadsWhatSambasClientSendsAndBuildsItByteForByte) {
  const auto header = ParseSessionHeader(kRequest);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->type, 0x81);
  const auto request = ParseSessionRequest(std::string_view(kRequest).substr(4, header->length));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->called, TNetBiosName::Make("BOB", 0x03));
  EXPECT_EQ(request->calling, TNetBiosName::Make("ALICE", 0x00));
  EXPECT_EQ(BuildSessionRequest(*request), kRequest);

  const std::vector<std::pair<std::string, TSmbMessageRequest>> expected = {
      {kStart, {Cmd(TSmbMessageCommand::SendStart), {}, "root", "BOB", 0, ""}},
      {kText,
       {Cmd(TSmbMessageCommand::SendText), {}, "", "", 7, "hello there\r\nsecond line \x82\r\n"}},
      {kEnd, {Cmd(TSmbMessageCommand::SendEnd), {}, "", "", 7, ""}}};
  for (auto [packet, want] : expected) {
    TSmbMessageRequest got;
    ASSERT_EQ(ParseSmbMessageRequest(packet.substr(4), got), TSmbRequestVerdict::Ok);
    std::copy_n(packet.begin() + 4, kSmbHeaderSize, want.header.begin());
    EXPECT_EQ(got, want);
    EXPECT_EQ(Packet(got), packet);
    // Cut anywhere, it is refused: no reply without a header, a bad-request one with it.
    for (std::size_t n = 4; n < packet.size(); ++n) {
      EXPECT_EQ(ParseSmbMessageRequest(packet.substr(4, n - 4), got),
                n - 4 < kSmbHeaderSize ? TSmbRequestVerdict::NotSmb : TSmbRequestVerdict::Malformed)
          << n;
    }
  }

  // The reply to the start: its command and ids, the reply flag, the group.
  TSmbMessageRequest start;
  ParseSmbMessageRequest(kStart.substr(4), start);
  const std::string reply = BuildSmbMessageReply(start, kSmbSuccess, 7);
  EXPECT_EQ(reply, FromHex("ff 53 4d 42 d5 00 00 00 00 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                           "00 00 96 36 00 00 00 00 01 07 00 00 00"));
  EXPECT_EQ(ParseSmbMessageReply(reply), (TSmbMessageReply{0xD5, 0, 7}));
  EXPECT_EQ(ParseSmbMessageReply(BuildSmbMessageReply(start, kSmbNoRoom, 7)),
            (TSmbMessageReply{0xD5, 0x00530002, std::nullopt}));
  EXPECT_FALSE(ParseSmbMessageReply(kStart.substr(4))) << "a request is no reply";
}

TEST_F(SessionTest, LengthsFlagsAndFieldsThatDoNotHoldUp) {
  EXPECT_EQ(ParseSessionHeader(FromHex("00 01 ff ff"))->length, 0x1FFFFu);
  EXPECT_FALSE(ParseSessionHeader(FromHex("00 02 00 00"))) << "a reserved flag";
  EXPECT_THROW(BuildSessionPacket(TSessionPacketType::Message, std::string(0x20000, 'x')),
               std::invalid_argument);
  const std::string names = kRequest.substr(4);
  EXPECT_FALSE(ParseSessionRequest(names + "x"));
  EXPECT_FALSE(ParseSessionRequest(names.substr(0, 67)));

  TSmbMessageRequest got;
  std::string smb = BuildSmbMessageRequest(Command(TSmbMessageCommand::SendStart));
  smb[4] = 0x72;  // negotiate
  EXPECT_EQ(ParseSmbMessageRequest(smb, got), TSmbRequestVerdict::UnknownCommand);
  EXPECT_EQ(got.command, 0x72);
  smb[0] = '\xFE';  // an SMB2 client
  EXPECT_EQ(ParseSmbMessageRequest(smb, got), TSmbRequestVerdict::NotSmb);
  // Word counts, buffer formats, a name without its end, a length past the bytes.
  for (const auto& [at, value] :
       std::vector<std::pair<std::size_t, char>>{{32, 1}, {35, 0x01}, {39, 0x04}}) {
    std::string bad = BuildSmbMessageRequest(Command(TSmbMessageCommand::Send, "hi"));
    bad[at] = value;
    EXPECT_EQ(ParseSmbMessageRequest(bad, got), TSmbRequestVerdict::Malformed) << at;
  }
  std::string nameless = BuildSmbMessageRequest(Command(TSmbMessageCommand::SendStart));
  nameless.pop_back();
  nameless[33] = static_cast<char>(nameless[33] - 1);
  EXPECT_EQ(ParseSmbMessageRequest(nameless, got), TSmbRequestVerdict::Malformed);
  std::string longText = BuildSmbMessageRequest(Command(TSmbMessageCommand::SendText, "abc"));
  longText[38] = 4;
  EXPECT_EQ(ParseSmbMessageRequest(longText, got), TSmbRequestVerdict::Malformed);
  // Bytes past what the counts cover are ignored.
  EXPECT_EQ(ParseSmbMessageRequest(kText.substr(4) + "trailing", got), TSmbRequestVerdict::Ok);
}

struct TConversationRun {
  TSessionLimits limits;
  std::vector<std::string> delivered;
  bool accept = true;
  TSessionConversation conversation{
      limits, 7, [](const TNetBiosName& n) { return n == TNetBiosName::Make("BOB", 0x03); },
      [this](std::string_view d) {
        if (accept) delivered.emplace_back(d);
        return accept;
      }};
};

TEST_F(SessionTest, DeliversSambasClientExchangeHoweverItIsCutUp) {
  const std::string stream = kRequest + kStart + kText + kEnd;
  TConversationRun whole, byByte;
  EXPECT_TRUE(whole.conversation.Take(stream));
  for (const char c : stream) ASSERT_TRUE(byByte.conversation.Take(std::string_view(&c, 1)));
  EXPECT_EQ(whole.conversation.Output(), byByte.conversation.Output());
  EXPECT_EQ(whole.delivered, std::vector<std::string>{kDelivered});
  EXPECT_EQ(byByte.delivered, std::vector<std::string>{kDelivered});
  const std::vector<std::string> replies = Packets(whole.conversation.Output());
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[0], "\x82");
  EXPECT_EQ(ParseSmbMessageReply(std::string_view(replies[1]).substr(1)),
            (TSmbMessageReply{0xD5, 0, 7}));
  EXPECT_EQ(StatusOf(replies[2]), 0u);
  EXPECT_EQ(StatusOf(replies[3]), 0u);
}

// Samba's client sends a block it cannot convert to the OEM page as UTF-8, cut
// into blocks by bytes: such blocks are converted (here: shown in brackets), the
// blocks really in OEM are left as they are, and a sequence cut between two
// blocks comes out whole.
TEST_F(SessionTest, TextBlocksSentInUtf8AreConvertedAndOemBlocksAreNot) {
  std::vector<std::string> delivered;
  TSessionLimits limits;
  TSessionConversation conversation{
      limits, 7, [](const TNetBiosName&) { return true; },
      [&](std::string_view d) {
        delivered.emplace_back(d.substr(d.find('\0', d.find('\0') + 1) + 1));
        return true;
      },
      [](std::string_view utf8) { return "[" + std::string(utf8) + "]"; }};
  ASSERT_TRUE(conversation.Take(kRequest));
  // One whole message in UTF-8; one in OEM ("für Grüße" in CP850); plain ASCII.
  ASSERT_TRUE(
      conversation.Take(Packet(Command(TSmbMessageCommand::Send, "5 \xE2\x82\xAC f\xC3\xBCr"))));
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::Send,
                                               "f\x81r Gr\x81\xE1"
                                               "e"))));
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::Send, "plain"))));
  // In blocks: the euro sign cut after its second byte; then an OEM block.
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::SendStart))));
  for (const std::string block : {"Preis 5 \xE2\x82", "\xAC!", " f\x81r"}) {
    ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::SendText, block))));
  }
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::SendEnd))));
  const std::vector<std::string> expected{"[5 \xE2\x82\xAC f\xC3\xBCr]",
                                          "f\x81r Gr\x81\xE1"
                                          "e",
                                          "plain", "[Preis 5 ][\xE2\x82\xAC!] f\x81r"};
  EXPECT_EQ(delivered, expected);
}

// A peer over its sender limit gets a refusal for each message, whole or in
// blocks, instead of "success", and nothing of it is delivered.
TEST_F(SessionTest, APeerOverItsSenderLimitIsRefused) {
  std::vector<std::string> delivered;
  int allowed = 2;
  TSessionLimits limits;
  TSessionConversation conversation{limits,
                                    7,
                                    [](const TNetBiosName&) { return true; },
                                    [&](std::string_view d) {
                                      delivered.emplace_back(d);
                                      return true;
                                    },
                                    {},
                                    [&] { return allowed-- > 0; }};
  ASSERT_TRUE(conversation.Take(kRequest));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::Send, "taken"))));
  }
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::Send, "over"))));
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::SendStart))));
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::SendText, "over"))));
  ASSERT_TRUE(conversation.Take(Packet(Command(TSmbMessageCommand::SendEnd))));
  EXPECT_EQ(delivered.size(), 2u);
  const std::vector<std::string> replies = Packets(conversation.Output());
  ASSERT_EQ(replies.size(), 7u);
  EXPECT_EQ(StatusOf(replies[2]), 0u);
  EXPECT_EQ(StatusOf(replies[3]), Status(kSmbNoRoom));
  EXPECT_EQ(StatusOf(replies[4]), Status(kSmbNoRoom));
}

TEST_F(SessionTest, RefusesWhatTheDocumentsRefuseAndKeepsNothingOfAnUnendedMessage) {
  {  // Another called name: "called name not present", and the connection ends.
    TConversationRun run;
    TSessionRequest other{TNetBiosName::Make("CAROL", 0x03), TNetBiosName::Make("EVE", 0)};
    EXPECT_FALSE(run.conversation.Take(BuildSessionRequest(other) + kStart));
    EXPECT_EQ(run.conversation.Output(), FromHex("83 00 00 01 82"));
    EXPECT_FALSE(run.conversation.Take(kRequest));
  }
  for (const std::string& first : {kStart, std::string("GET / HTTP/1.0\r\n\r\n"),
                                   FromHex("00 01 ff ff") + "the length alone closes it"}) {
    TConversationRun run;
    EXPECT_FALSE(run.conversation.Take(first)) << first;
    EXPECT_EQ(run.conversation.Output(), "");
  }
  TConversationRun run;
  run.limits.maxText = 300;
  ASSERT_TRUE(run.conversation.Take(kRequest + FromHex("85 00 00 00")));
  const auto send = [&](const TSmbMessageRequest& r) {
    run.conversation.Output().clear();
    const bool open = run.conversation.Take(Packet(r));
    const auto replies = Packets(run.conversation.Output());
    EXPECT_EQ(replies.size(), 1u);
    EXPECT_TRUE(open);
    return replies.empty() ? 0xFFFFFFFF : StatusOf(replies[0]);
  };
  std::string negotiate = BuildSmbMessageRequest(Command(TSmbMessageCommand::SendEnd));
  negotiate[4] = 0x72;
  const auto sendNegotiate = [&] {
    run.conversation.Output().clear();
    return run.conversation.Take(BuildSessionPacket(TSessionPacketType::Message, negotiate));
  };
  EXPECT_TRUE(sendNegotiate());
  EXPECT_EQ(StatusOf(Packets(run.conversation.Output()).at(0)), Status(kSmbUnknownCommand));
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendText, "no start")), Status(kSmbBadRequest));
  // Past the bound: no room, and what came of that message is gone.
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendStart)), 0u);
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendText, std::string(128, 'a'))), 0u);
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendText, std::string(128, 'b'))), 0u);
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendText, std::string(128, 'c'))), Status(kSmbNoRoom));
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendEnd)), Status(kSmbBadRequest));
  // A new start drops an unended message; a wrong group is refused.
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendStart)), 0u);
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendText, "old")), 0u);
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendStart)), 0u);
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendText, "other group", 8)), Status(kSmbBadRequest));
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendText, std::string("new\0ignored", 11))), 0u);
  EXPECT_EQ(send(Command(TSmbMessageCommand::SendEnd)), 0u);
  // A whole message in one; Windows' 0x14 line breaks become CR LF.
  EXPECT_EQ(send(Command(TSmbMessageCommand::Send, "one\x14two")), 0u);
  EXPECT_EQ(run.delivered, (std::vector<std::string>{std::string("EVE\0BOB\0new", 11),
                                                     std::string("EVE\0BOB\0one\r\ntwo", 16)}));
  // Nobody takes messages: "not receiving".
  run.accept = false;
  EXPECT_EQ(send(Command(TSmbMessageCommand::Send, "lost")), Status(kSmbNotReceiving));
  // Errors without end close the session.
  bool open = true;
  for (int i = 0; i < 10 && open; ++i) open = sendNegotiate();
  EXPECT_FALSE(open);
}

// A loopback connection from `source` (host byte order) to the server.
runtime::TUniqueFd ConnectFrom(std::uint32_t source, std::uint16_t port) {
  runtime::TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(source);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    return runtime::TUniqueFd();
  }
  return fd;
}

// Whether the server closed the connection (within `wait`); replies are read past.
bool ClosedByServer(int fd, std::chrono::milliseconds wait) {
  const auto end = std::chrono::steady_clock::now() + wait;
  for (;;) {
    char buffer[256];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return true;
    if (got > 0) continue;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  }
}

TEST_F(SessionTest, TheClientIsConfirmedOnlyWhereTheMessageWasTaken) {
  StartServer();
  const std::string text = std::string(200, 'x') + "\r\nend";
  EXPECT_TRUE(Send("bob", {"ALICE", "bob", text}));
  EXPECT_TRUE(Send("ROOT", {"ALICE", "root", ""}));
  // A session refused: nothing went, so the caller may try a datagram.
  EXPECT_EQ(Outcome("CAROL", {"ALICE", "carol", "not hers"}), TSessionOutcome::NotTaken);
  {
    std::lock_guard<std::mutex> guard(FLock);
    FRefuse = true;
  }
  // "Nobody takes messages" after the text went: refused, never sent again.
  EXPECT_EQ(Outcome("BOB", {"ALICE", "bob", "nobody listens"}), TSessionOutcome::Refused);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{
                             "ALICE" + std::string(1, '\0') + "bob" + std::string(1, '\0') + text,
                             std::string("ALICE\0root\0", 11)}));
  // A closed port, and one that takes the connection but never answers.
  const std::uint16_t port = FServer->Port();
  FServer.reset();
  EXPECT_EQ(SendSessionMessage(INADDR_LOOPBACK, port, {}, {"A", "B", "closed"}),
            TSessionOutcome::NotTaken);
  runtime::TUniqueFd mute(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(mute.Get(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(::listen(mute.Get(), 4), 0);
  socklen_t length = sizeof any;
  ::getsockname(mute.Get(), reinterpret_cast<sockaddr*>(&any), &length);
  EXPECT_EQ(SendSessionMessage(INADDR_LOOPBACK, ntohs(any.sin_port), {}, {"A", "B", "mute"},
                               {200ms, 300ms, 300ms}),
            TSessionOutcome::NotTaken);
}

// A name another machine holds (this one lost its claim to it) is not present
// here: its messages go to the machine that holds it.
TEST_F(SessionTest, ANameThisMachineDoesNotHoldIsNotPresent) {
  StartServer({}, [](const TNetBiosName& name) { return name.Name() != "BOB"; });
  EXPECT_FALSE(Send("bob", {"ALICE", "bob", "for the other bob"}));
  EXPECT_TRUE(Send("ROOT", {"ALICE", "root", "still here"}));
  EXPECT_EQ(Delivered(), std::vector<std::string>{std::string("ALICE\0root\0still here", 21)});
}

// Many addresses that hold every session between them and keep opening new ones
// close only each other's: a client from a quiet address that connected before
// them gets its message through.
TEST_F(SessionTest, ChurnFromManyAddressesClosesTheirOwnNotAQuietNewcomers) {
  TSessionLimits limits;
  limits.maxSessions = 16;
  limits.maxSessionsPerPeer = 8;
  StartServer(limits);
  std::vector<runtime::TUniqueFd> churn;
  const auto open = [&](std::uint32_t from) {
    churn.push_back(ConnectFrom(from, FServer->Port()));
    ASSERT_TRUE(churn.back().Valid());
    ASSERT_EQ(::send(churn.back().Get(), kRequest.data(), kRequest.size(), 0),
              static_cast<ssize_t>(kRequest.size()));
    char answer[4];
    ASSERT_EQ(::recv(churn.back().Get(), answer, sizeof answer, MSG_WAITALL), 4);
  };
  for (int i = 0; i < 16; ++i)
    open(0x7F000010u + static_cast<std::uint32_t>(i % 4));  // four addresses, four sessions each
  // The newcomer connects; before it says a word, the others open more.
  runtime::TUniqueFd newcomer = ConnectFrom(0x7F000020, FServer->Port());
  ASSERT_TRUE(newcomer.Valid());
  for (int i = 0; i < 8; ++i) open(0x7F000010u + static_cast<std::uint32_t>(i % 4));
  const std::string started = kRequest + Packet(Command(TSmbMessageCommand::SendStart));
  ASSERT_EQ(::send(newcomer.Get(), started.data(), started.size(), 0),
            static_cast<ssize_t>(started.size()));
  std::string replies;
  while (replies.size() < 4 + 4 + 37) {
    char buffer[64];
    const ssize_t got = ::recv(newcomer.Get(), buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0) << "closed";
    replies.append(buffer, static_cast<std::size_t>(got));
  }
  const auto group = ParseSmbMessageReply(Packets(replies).at(1).substr(1))->group;
  ASSERT_TRUE(group);
  const std::string rest = Packet(Command(TSmbMessageCommand::SendText, "in", *group)) +
                           Packet(Command(TSmbMessageCommand::SendEnd, {}, *group));
  ASSERT_EQ(::send(newcomer.Get(), rest.data(), rest.size(), 0), static_cast<ssize_t>(rest.size()));
  for (int i = 0; i < 100 && Delivered().empty(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Delivered(), std::vector<std::string>{std::string("EVE\0BOB\0in", 10)});
}

TEST_F(SessionTest, AFloodingPeerLosesOnlyItsOwnConnectionsAndIdleOnesClose) {
  TSessionLimits limits;
  limits.maxSessions = 16;
  limits.maxSessionsPerPeer = 4;
  limits.idleTimeout = 2s;  // longer than the flood takes
  StartServer(limits);
  // Another peer's session is under way (a message started) while one floods.
  runtime::TUniqueFd other = ConnectFrom(0x7F000003, FServer->Port());
  ASSERT_TRUE(other.Valid());
  const std::string started = kRequest + Packet(Command(TSmbMessageCommand::SendStart));
  ASSERT_EQ(::send(other.Get(), started.data(), started.size(), 0),
            static_cast<ssize_t>(started.size()));
  std::string replies;
  while (replies.size() < 4 + 4 + 37) {
    char buffer[64];
    const ssize_t got = ::recv(other.Get(), buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0);
    replies.append(buffer, static_cast<std::size_t>(got));
  }
  const auto group = ParseSmbMessageReply(Packets(replies).at(1).substr(1))->group;
  ASSERT_TRUE(group);
  // (Fewer than the listener's queue holds: a faster flood only waits for it.)
  std::vector<runtime::TUniqueFd> flood;
  for (int i = 0; i < 40; ++i) {
    flood.push_back(ConnectFrom(0x7F000002, FServer->Port()));
    ASSERT_TRUE(flood.back().Valid());
  }
  EXPECT_TRUE(Send("BOB", {"ALICE", "bob", "through the flood"}));
  std::size_t open = 0;
  for (const runtime::TUniqueFd& fd : flood) open += ClosedByServer(fd.Get(), 0ms) ? 0u : 1u;
  EXPECT_EQ(open, limits.maxSessionsPerPeer);
  // The other peer's message goes on to its end.
  const std::string rest = Packet(Command(TSmbMessageCommand::SendText, "on", *group)) +
                           Packet(Command(TSmbMessageCommand::SendEnd, {}, *group));
  ASSERT_EQ(::send(other.Get(), rest.data(), rest.size(), 0), static_cast<ssize_t>(rest.size()));
  for (int i = 0; i < 100 && Delivered().size() < 2; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{std::string("ALICE\0bob\0through the flood", 27),
                                                   std::string("EVE\0BOB\0on", 10)}));
  // Left idle, every connection is closed.
  for (const runtime::TUniqueFd& fd : flood) EXPECT_TRUE(ClosedByServer(fd.Get(), 10s));
  EXPECT_TRUE(ClosedByServer(other.Get(), 10s));
}

}  // namespace
}  // namespace pling::net
