// SPDX-License-Identifier: GPL-3.0-or-later
// The messenger datagram: exact bytes on the wire, decoding of odd datagrams, the
// OEM code page at the boundary, and the component's send and receive paths.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mailslot/lxMailSlot.h"
#include "main_loop_fixture.h"
#include "platform/codepage.h"

namespace pling::mailslot {
namespace {

using namespace std::string_literals;

class MessengerTest : public testing::MainLoopTest {
 protected:
  void SetUp() override {
    MainLoopTest::SetUp();
    platform::SelectCodePages(1252);
  }
};

TEST_F(MessengerTest, EncodesTheThreeFieldsWithoutTrailingZero) {
  EXPECT_EQ(EncodeMessengerDatagram("PC1", "PC2", "Hi"),
            "\x50\x43\x31\x00\x50\x43\x32\x00\x48\x69"s);
  EXPECT_EQ(EncodeMessengerDatagram("", "", ""), "\0\0"s);
}

TEST_F(MessengerTest, DecodesOddDatagramsWithinTheirBytes) {
  struct Case {
    std::string bytes, sender, reciever, text;
  };
  const std::vector<Case> cases = {
      {"A\0B\0C"s, "A", "B", "C"},
      {"A\0B\0C\0"s, "A", "B", "C"},            // trailing zero of other senders
      {"\0B\0C"s, "", "B", "C"},                // empty field
      {"A\0B\0C\0junk\0more"s, "A", "B", "C"},  // bytes after the text ignored
      {"A\0B"s, "A", "B", ""},                  // only two fields
      {"A"s, "A", "", ""},                      // no zero at all
      {""s, "", "", ""},                        // empty datagram
      {"\0\0"s, "", "", ""},
  };
  for (const auto& c : cases) {
    // A copy with no spare capacity, so that reading past the end is caught by ASan.
    const std::vector<char> exact(c.bytes.begin(), c.bytes.end());
    const auto fields = DecodeMessengerDatagram(std::string_view(exact.data(), exact.size()));
    EXPECT_EQ(fields.sender, c.sender);
    EXPECT_EQ(fields.receiver, c.reciever);
    EXPECT_EQ(fields.text, c.text);
  }
}

// Captures whole datagrams on the messenger mailslot.
struct RawCapture {
  explicit RawCapture(std::vector<std::string>& into) : Slot(nullptr) {
    Slot.OnRawMessage = [&into](runtime::TComponent&, const std::string& msg) {
      into.push_back(msg);
    };
    Slot.SetMessengerName();
    Slot.Open();
  }
  struct Endpoint : TlxCustomMailSlot {
    using TlxCustomMailSlot::TlxCustomMailSlot;
    void SetMessengerName() { SetSlotName(MessengerSlotName); }
  } Slot;
};

TEST_F(MessengerTest, SendWritesOemBytesAndLeavesTheCallersStringsAlone) {
  std::vector<std::string> wire;
  RawCapture capture(wire);
  TlxPling pling(nullptr);
  std::string sender = "Ren\xE9", receiver = "PC2", text = "caf\xE9\r\nok";  // é in Windows-1252
  ASSERT_TRUE(pling.Send(".", sender, receiver, text));
  ASSERT_TRUE(pling.Send(".", sender, receiver, text));
  ASSERT_TRUE(PumpUntil([&] { return wire.size() == 2; }));
  const std::string expected = "Ren\x82\0PC2\0caf\x82\r\nok"s;  // é in code page 850
  EXPECT_EQ(wire[0], expected);
  EXPECT_EQ(wire[1], expected);  // the first Send did not convert the caller's strings
  EXPECT_EQ(sender, "Ren\xE9");
  EXPECT_EQ(text, "caf\xE9\r\nok");
}

TEST_F(MessengerTest, ReceivedFieldsComeBackInAnsiWithReceiverFirst) {
  TlxPling pling(nullptr);
  struct Got {
    std::string reciever, sender, msg;
    std::thread::id thread;
  };
  std::vector<Got> got;
  pling.OnMessage = [&](runtime::TComponent& sender, std::string r, std::string s, std::string m) {
    EXPECT_EQ(&sender, &pling);
    got.push_back({r, s, m, std::this_thread::get_id()});
  };
  pling.Open();
  ASSERT_TRUE(WriteMailSlot(".", "messngr", "\x82t\xE9\0BOB\0Hello \x82"s));
  ASSERT_TRUE(pling.Send(".", "ALICE", "BOB", "Ren\xE9"));
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 2; }));
  EXPECT_EQ(got[0].sender, "\xE9t\xDA");  // 850 -> 1252: é, t, Ú
  EXPECT_EQ(got[0].reciever, "BOB");
  EXPECT_EQ(got[0].msg, "Hello \xE9");
  EXPECT_EQ(got[1].sender, "ALICE");
  EXPECT_EQ(got[1].msg, "Ren\xE9");
  EXPECT_EQ(got[0].thread, std::this_thread::get_id());
}

// What waits in the mailslot is delivered in batches: OnMessage once per message,
// in arrival order, and OnBatchEnd after each batch. A batch takes everything
// that waits unless its time is up (then one message at least); a stop within a
// batch ends it for what it delivered, and after a reopen only the new mailslot's
// messages come, none twice.
TEST_F(MessengerTest, WaitingMessagesComeInBatchesInOrderOnceAcrossAStopAndAReopen) {
  TlxPling pling(nullptr);
  std::vector<std::string> got;
  std::vector<std::size_t> batchEnds;  // messages delivered when each batch ended
  std::string stopAt;
  pling.OnMessage = [&](runtime::TComponent&, std::string, std::string, std::string m) {
    got.push_back(m);
    if (m == stopAt) pling.Close();
  };
  pling.OnBatchEnd = [&](runtime::TComponent&) { batchEnds.push_back(got.size()); };
  pling.Open();
  const auto sendAll = [&](const std::string& stem, int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
      texts.push_back(stem + std::to_string(i));
      EXPECT_TRUE(pling.Send(".", "A", "B", texts.back()));
    }
    return texts;
  };
  // The test is the main thread: the reader's pass waits while it delivers.
  const std::vector<std::string> first = sendAll("a", 300);
  EXPECT_EQ(pling.DeliverMessages(std::chrono::hours(1)), 300u);
  EXPECT_EQ(got, first);
  EXPECT_EQ(batchEnds, (std::vector<std::size_t>{300}));
  PumpFor(std::chrono::milliseconds(30));  // the reader's pass finds nothing left
  EXPECT_EQ(got.size(), 300u);
  EXPECT_EQ(batchEnds.size(), 1u);

  // No time left: one message, and the batch ends.
  std::vector<std::string> all = first;
  for (const std::string& text : sendAll("b", 3)) all.push_back(text);
  EXPECT_EQ(pling.DeliverMessages(std::chrono::nanoseconds(0)), 1u);
  EXPECT_EQ(batchEnds.back(), 301u);
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 303 && batchEnds.back() == 303; }));
  EXPECT_EQ(got, all);

  // A stop within a batch: what was delivered is ended as a batch; the rest
  // went with the closed mailslot.
  const std::vector<std::string> stopped = sendAll("c", 10);
  stopAt = "c3";
  EXPECT_EQ(pling.DeliverMessages(std::chrono::hours(1)), 4u);
  EXPECT_FALSE(pling.Active());
  all.insert(all.end(), stopped.begin(), stopped.begin() + 4);
  EXPECT_EQ(got, all);
  EXPECT_EQ(batchEnds.back(), all.size());

  // Reopened: the new messages, through the reader, in order and once each.
  pling.Open();
  const std::vector<std::string> later = sendAll("d", 200);
  all.insert(all.end(), later.begin(), later.end());
  ASSERT_TRUE(
      PumpUntil([&] { return got.size() >= all.size() && batchEnds.back() == got.size(); }));
  PumpFor(std::chrono::milliseconds(30));
  EXPECT_EQ(got, all);
  EXPECT_EQ(batchEnds.back(), all.size());
  for (std::size_t i = 1; i < batchEnds.size(); ++i) EXPECT_LT(batchEnds[i - 1], batchEnds[i]);
}

TEST_F(MessengerTest, WithoutHandlerDatagramsAreTakenOutAndDropped) {
  TlxPling pling(nullptr);
  pling.Open();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pling.Send(".", "A", "B", "x"));
  ASSERT_TRUE(PumpUntil([&] {
    pling.UpdateInfo();
    return pling.MessageCount() == 0;
  }));
}

TEST_F(MessengerTest, SendFailsWithItsOwnReasonWhereNothingCanBeReached) {
  TlxPling pling(nullptr);
  const auto nobody = pling.Deliver(".", "A", "B", "nobody listens");  // no local mailslot
  ASSERT_FALSE(nobody);
  EXPECT_EQ(nobody.Error().code, platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(nobody.Error().text, "nobody is listening there");
  // A zero inside a name would shift every field at the receiver: refused for
  // that, not with the reason of the send before.
  for (const auto& [sender, receiver] : {std::pair{"A\0B"s, "C"s}, std::pair{"A"s, "C\0D"s}}) {
    const auto refused = pling.Deliver(".", sender, receiver, "text");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.Error().code, platform::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(refused.Error().text, "a name holds a zero byte");
  }
  EXPECT_FALSE(pling.Send("NO-SUCH-MACHINE", "A", "B", "far away"));  // no network yet
  pling.Open();
  EXPECT_FALSE(pling.Send("NO-SUCH-MACHINE", "A", "B", "far away"));
  EXPECT_FALSE(pling.Send(".", "A\0B"s, "C", "text"));
  pling.UpdateInfo();
  EXPECT_EQ(pling.MessageCount(), 0u);  // nothing refused was written
}

// Send converts the machine part to the OEM page, as it travels; this computer's
// own name, non-ASCII and in any case, must still be taken for this machine. The
// host name is changed in a UTS namespace of a thread of its own.
TEST_F(MessengerTest, SendToThisComputersNonAsciiNameStaysLocal) {
  std::vector<std::string> wire;
  RawCapture capture(wire);
  TlxPling pling(nullptr);
  std::string skipped;
  std::vector<bool> sent;
  std::thread sender([&] {
    const char* host = "m\u00FCller.example";  // UTF-8
    if (::unshare(CLONE_NEWUTS) != 0 || ::sethostname(host, std::strlen(host)) != 0) {
      skipped = std::strerror(errno);
      return;
    }
    sent.push_back(pling.Send("m\xFCller", "A", "B", "lower"));   // müller in Windows-1252
    sent.push_back(pling.Send("M\xDCLLER", "A", "B", "upper"));   // MÜLLER
    sent.push_back(pling.Send("m\xFCllerx", "A", "B", "other"));  // another machine
  });
  sender.join();
  if (!skipped.empty()) GTEST_SKIP() << "cannot rename the host here: " << skipped;
  EXPECT_EQ(sent, (std::vector<bool>{true, true, false}));
  ASSERT_TRUE(PumpUntil([&] { return wire.size() == 2; }));
  EXPECT_EQ(wire[0], "A\0B\0lower"s);
  EXPECT_EQ(wire[1], "A\0B\0upper"s);
}

}  // namespace
}  // namespace pling::mailslot
