// SPDX-License-Identifier: GPL-3.0-or-later
// The message history as pling-cli keeps and shows it: nothing printed by a
// listener killed in a burst is missing from it, its JSON gives back the text,
// and with the history off nothing is written.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "history/history.h"
#include "mailslot/lxMailSlot.h"

namespace {

using pling::testing::RunProgram;
using pling::testing::TChildProcess;
using pling::testing::TRunResult;

class CliHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pling-cli-history-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    FDir = dir;
    FEnv = {"XDG_CONFIG_HOME=" + FDir + "/config", "XDG_DATA_HOME=" + FDir + "/data",
            "LC_ALL=C.UTF-8"};
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }

  TRunResult Cli(const std::vector<std::string>& args, const std::string& input = {}) {
    return RunProgram(pling::testing::TestProgram("pling-cli"), args, input, FEnv);
  }
  std::string HistoryPath() const { return FDir + "/data/pling/history.sqlite"; }

  // Writes a messenger datagram to this machine's mailslot, as any sender does.
  static bool Write(const std::string& text) {
    return pling::mailslot::WriteMailSlot(
        ".", pling::mailslot::MessengerSlotName,
        pling::mailslot::EncodeMessengerDatagram("BURST", "LISTENER", text));
  }

  std::string FDir;
  std::vector<std::string> FEnv;
};

TEST_F(CliHistoryTest, EveryLineAListenerPrintedBeforeKill9IsInTheHistory) {
  TChildProcess listener(pling::testing::TestProgram("pling-cli"), {"listen"}, FEnv);
  // The listener holds the mailslot once a write reaches it.
  ASSERT_TRUE(pling::testing::WaitUntil([] { return Write("first"); }, std::chrono::seconds(30)));
  constexpr int kBurst = 10000;
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    for (int i = 0; i < kBurst && !stop; ++i) {
      // A full mailslot takes the datagram a moment later; a killed listener never.
      while (!stop && !Write("burst " + std::to_string(i))) {
      }
    }
  });
  std::vector<std::string> printed;
  std::string line;
  while (printed.size() < 2000 && listener.ReadLine(line)) printed.push_back(line);
  listener.Signal(SIGKILL);
  EXPECT_EQ(listener.Wait(), 128 + SIGKILL);
  stop = true;
  sender.join();
  // What was printed but not yet read is still in the pipe.
  const std::string rest = listener.Output();
  std::size_t start = 0;
  for (std::size_t end; (end = rest.find('\n', start)) != std::string::npos; start = end + 1) {
    printed.push_back(rest.substr(start, end - start));
  }
  ASSERT_GE(printed.size(), 2000u);

  auto store = pling::history::TStore::OpenExisting(HistoryPath());
  ASSERT_TRUE(store) << store.Error().text;
  std::set<std::string> stored;
  ASSERT_TRUE(store.Value()->ForEach([&](const pling::history::TMessage& m) {
    stored.insert(m.sender + " to " + m.receiver + " : " + m.text);
    return true;
  }));
  std::size_t missing = 0;
  for (const std::string& shown : printed) missing += stored.count(shown) == 0 ? 1u : 0u;
  EXPECT_EQ(missing, 0u) << "of " << printed.size() << " printed lines";
}

TEST_F(CliHistoryTest, JsonGivesBackControlCharactersAndNonAsciiText) {
  // Nobody listens: the send fails, and is kept with its reason.
  const std::string text =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x82\xAC 5,\x01\ttab \"q\" \x1B[31m\\";
  const TRunResult sent = Cli({"send", "--from", "ANNA", "--machine", ".", "BOB"}, text);
  ASSERT_EQ(sent.status, 1) << sent.err;
  const TRunResult shown = Cli({"history", "--json"});
  ASSERT_EQ(shown.status, 0) << shown.err;
  // A JSON reader gives back the text byte for byte (and the names, direction,
  // outcome).
  const TRunResult decoded = RunProgram("/usr/bin/python3",
                                        {"-c",
                                         "import json,sys\n"
                                         "lines = sys.stdin.read().splitlines()\n"
                                         "assert len(lines) == 1, lines\n"
                                         "m = json.loads(lines[0])\n"
                                         "sys.stdout.buffer.write('|'.join([m['sender'], "
                                         "m['receiver'], m['direction'], m['delivery'],"
                                         " m['text']]).encode('utf-8'))\n"},
                                        shown.out);
  ASSERT_EQ(decoded.status, 0) << decoded.err << shown.out;
  EXPECT_EQ(decoded.out, "ANNA|BOB|out|failed|" + text);
  // The search finds it without the accents.
  const TRunResult found = Cli({"history", "search", "grusse", "--json"});
  EXPECT_EQ(found.out, shown.out);
}

TEST_F(CliHistoryTest, HistoryOffWritesNothing) {
  ASSERT_EQ(Cli({"settings", "set", "Settings", "History", "0"}).status, 0);
  TChildProcess listener(pling::testing::TestProgram("pling-cli"), {"listen", "--count", "1"},
                         FEnv);
  ASSERT_TRUE(
      pling::testing::WaitUntil([] { return Write("not kept"); }, std::chrono::seconds(30)));
  EXPECT_EQ(listener.Wait(), 0);
  EXPECT_EQ(Cli({"send", "--from", "ANNA", "--machine", ".", "BOB", "nor this"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(FDir + "/data"));
  const TRunResult shown = Cli({"history"});
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.out, "");
  EXPECT_FALSE(std::filesystem::exists(FDir + "/data"));
}

}  // namespace
