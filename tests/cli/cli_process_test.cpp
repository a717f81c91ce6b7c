// SPDX-License-Identifier: GPL-3.0-or-later
// pling-cli as scripts use it: a listener and senders in separate processes, the
// listener's output formats, its exits, and the settings commands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "settings/StoredKeys.h"

namespace {

using namespace std::chrono_literals;

using pling::testing::TChildProcess;

std::string CliPath() {
  return pling::testing::TestProgram("pling-cli");
}

// A running pling-cli with its standard streams on pipes.
class Process : public TChildProcess {
 public:
  Process(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
      : TChildProcess(CliPath(), args, env) {}
};

using Result = pling::testing::TRunResult;

Result RunCli(const std::vector<std::string>& args, const std::string& input = {},
              const std::vector<std::string>& env = {}) {
  return pling::testing::RunProgram(CliPath(), args, input, env);
}

// Sends until a listener holds the mailslot (it takes a moment to start).
bool SendWhenListening(const std::vector<std::string>& args, const std::string& input = {}) {
  for (int i = 0; i < 500; ++i) {
    if (RunCli(args, input).status == 0) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

const std::vector<std::string> kUtf8 = {"LC_ALL=C.UTF-8"};

// Each test gets a settings folder of its own (FEnv points the program at it).
class CliProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pling-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    FDir = dir;
    FEnv = {"XDG_CONFIG_HOME=" + FDir};
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::string FDir;
  std::vector<std::string> FEnv;
};

TEST_F(CliProcessTest, ExchangesMessagesAndRefusesASecondListener) {
  Process listener({"listen", "--count", "3"}, kUtf8);
  ASSERT_TRUE(
      SendWhenListening({"send", "--from", "ALICE", "--machine", ".", "BOB", "Hello", "there"}));
  std::string line;
  ASSERT_TRUE(listener.ReadLine(line));
  EXPECT_EQ(line, "ALICE to BOB : Hello there");

  const Result second = RunCli({"listen"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("Mailslot allready exists"), std::string::npos) << second.err;

  // Text from standard input keeps its line breaks (sent as CR LF); control
  // characters cannot reach the terminal.
  ASSERT_EQ(
      RunCli({"send", "--from", "ALICE", "--machine", ".", "BOB"}, "one\ntwo\x1b[31m\n", kUtf8)
          .status,
      0);
  ASSERT_TRUE(listener.ReadLine(line));
  EXPECT_EQ(line, "ALICE to BOB : one\\r\\ntwo\\x1B[31m");

  // An accented letter arrives as the same letter.
  ASSERT_EQ(
      RunCli({"send", "--from", "Ren\xC3\xA9", "--machine", ".", "BOB", "caf\xC3\xA9"}, {}, kUtf8)
          .status,
      0);
  ASSERT_TRUE(listener.ReadLine(line));
  EXPECT_EQ(line, "Ren\xC3\xA9 to BOB : caf\xC3\xA9");
  EXPECT_EQ(listener.Wait(), 0);  // --count 3 reached
}

// Samba's smbd runs `pling-cli deliver --from %f --to %t %s` for each session
// message it takes: the file (UTF-8) is shown as a message and then removed; with
// nobody to receive it the file stays and the status is 1.
TEST_F(CliProcessTest, DeliversTheMessageFileSambaWroteAndRemovesIt) {
  const std::string file = FDir + "/msg.XXXX";
  std::ofstream(file) << "Preis: 5 \xE2\x82\xAC f\xC3\xBCr\nzwei";
  const std::vector<std::string> deliver{"deliver", "--from", "alice", "--to", "BOB", file};
  const Result nobody = RunCli(deliver);
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.err.find("the message stays in " + file), std::string::npos) << nobody.err;
  ASSERT_TRUE(std::filesystem::exists(file));
  Process listener({"listen", "--count", "1"}, kUtf8);
  ASSERT_TRUE(SendWhenListening(deliver));
  std::string line;
  ASSERT_TRUE(listener.ReadLine(line));
  EXPECT_EQ(line, "alice to BOB : Preis: 5 \xE2\x82\xAC f\xC3\xBCr\\r\\nzwei");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(RunCli({"deliver", file}).status, 2);  // no sender
}

TEST_F(CliProcessTest, JsonAndRawFormats) {
  {
    Process listener({"listen", "--json", "--count", "1"}, kUtf8);
    ASSERT_TRUE(SendWhenListening({"send", "--from", "A\"B", "--machine", ".", "C\\D", "x\ty"}));
    std::string line;
    ASSERT_TRUE(listener.ReadLine(line));
    EXPECT_EQ(line, R"({"sender":"A\"B","receiver":"C\\D","text":"x\u0009y"})");
    EXPECT_EQ(listener.Wait(), 0);
  }
  {
    Process listener({"listen", "--raw", "--count", "1"});
    ASSERT_TRUE(SendWhenListening({"send", "--from", "PC1", "--machine", ".", "PC2", "Hi"}));
    std::string line;
    ASSERT_TRUE(listener.ReadLine(line));
    EXPECT_EQ(line, "50 43 31 00 50 43 32 00 48 69");
    EXPECT_EQ(listener.Wait(), 0);
  }
}

TEST_F(CliProcessTest, StopsCleanlyOnSignalsAndFreesTheMailslot) {
  for (int sig : {SIGINT, SIGTERM}) {
    Process listener({"listen"});
    ASSERT_TRUE(SendWhenListening({"send", "--from", "A", "--machine", ".", "B", "ping"}));
    std::string line;
    ASSERT_TRUE(listener.ReadLine(line));
    listener.Signal(sig);
    EXPECT_EQ(listener.Wait(), 0);
    EXPECT_NE(RunCli({"send", "--machine", ".", "B", "nobody"}).status, 0);
  }
}

TEST_F(CliProcessTest, StopsWithSuccessOnSignalsWhileItsOutputIsBackedUp) {
  Process listener({"listen"});
  // One page of pipe, and lines of 3000 bytes: the second line cannot go out.
  ASSERT_GE(fcntl(listener.OutputFd(), F_SETPIPE_SZ, 4096), 0);
  const std::string text(3000, 'x');
  ASSERT_TRUE(SendWhenListening({"send", "--from", "A", "--machine", ".", "B", text}));
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(RunCli({"send", "--from", "A", "--machine", ".", "B", text}).status, 0);
  }
  // Wait until the first line is in the pipe and nothing more moves.
  int queued = -1, last = -2;
  for (int i = 0; i < 300 && (queued < 3000 || queued != last); ++i) {
    last = queued;
    std::this_thread::sleep_for(20ms);
    ioctl(listener.OutputFd(), FIONREAD, &queued);
  }
  ASSERT_GE(queued, 3000);
  listener.Signal(SIGTERM);
  EXPECT_EQ(listener.Wait(), 0);
  EXPECT_EQ(listener.ErrorText().find("standard output"), std::string::npos)
      << listener.ErrorText();
  EXPECT_NE(RunCli({"send", "--machine", ".", "B", "nobody"}).status, 0);
}

// Messages that wait together are delivered together; --count N still ends the
// listener after N lines, however many came with the N-th.
TEST_F(CliProcessTest, CountEndsWithinABatchOfWaitingMessages) {
  Process listener({"listen", "--count", "3"});
  ASSERT_TRUE(SendWhenListening({"send", "--from", "A", "--machine", ".", "B", "first"}));
  std::string line;
  ASSERT_TRUE(listener.ReadLine(line));
  listener.Signal(SIGSTOP);  // the next ones wait in its mailslot
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(
        RunCli({"send", "--from", "A", "--machine", ".", "B", "m" + std::to_string(i)}).status, 0);
  }
  listener.Signal(SIGCONT);
  EXPECT_EQ(listener.Wait(), 0);
  EXPECT_EQ(listener.Output(), "A to B : m0\nA to B : m1\n");
}

TEST_F(CliProcessTest, StopsAndFreesTheMailslotWhenItsOutputIsGone) {
  Process listener({"listen"});
  ASSERT_TRUE(SendWhenListening({"send", "--from", "A", "--machine", ".", "B", "first"}));
  std::string line;
  ASSERT_TRUE(listener.ReadLine(line));
  listener.CloseOutput();  // as `pling-cli listen | head -n 1` does
  ASSERT_EQ(RunCli({"send", "--from", "A", "--machine", ".", "B", "second"}).status, 0);
  EXPECT_EQ(listener.Wait(), 1);
  EXPECT_NE(listener.ErrorText().find("standard output"), std::string::npos);
  EXPECT_NE(RunCli({"send", "--machine", ".", "B", "nobody"}).status, 0);
}

TEST_F(CliProcessTest, ReportsFailuresAndUsageErrors) {
  const Result nobody = RunCli({"send", "--machine", ".", "BOB", "is anyone there"});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_FALSE(nobody.err.empty());
  // The network is off in these tests: another machine cannot be reached.
  EXPECT_EQ(RunCli({"send", "FAR-AWAY-PC", "hello"}).status, 1);
  EXPECT_EQ(RunCli({"send"}).status, 2);
  EXPECT_EQ(RunCli({"send", "--bogus", "BOB", "x"}).status, 2);
  EXPECT_EQ(RunCli({"send", "BOB", "--from"}).status, 2);
  EXPECT_EQ(RunCli({"listen", "--count", "zero"}).status, 2);
  EXPECT_EQ(RunCli({"frobnicate"}).status, 2);
  const Result empty = RunCli({"send", "--machine", ".", "BOB"}, "");
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("Nothing to send"), std::string::npos);
  const Result version = RunCli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Pling 1.0.4.5\n");  // from the program file's version block
  EXPECT_EQ(RunCli({"send", "--help"}).status, 0);
}

// The largest datagram a local datagram socket can send is below its send buffer.
std::size_t LocalSendBuffer() {
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  int size = 0;
  socklen_t length = sizeof size;
  getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length);
  close(fd);
  return static_cast<std::size_t>(size);
}

TEST_F(CliProcessTest, StopsReadingInputThatCannotFitOneDatagram) {
  // `yes | pling-cli send ...`: the sender must give up after a bounded read,
  // for this machine and for others alike, whatever the terminal's code set.
  for (const char* target : {".", "FAR-AWAY-PC"}) {
    Process send({"send", "--from", "A", "--machine", target, "B"}, kUtf8);
    const std::string chunk(64 * 1024, 'y');
    std::size_t written = 0;
    while (written < (std::size_t{64} << 20) && send.TryWrite(chunk)) written += chunk.size();
    EXPECT_LT(written, std::size_t{64} << 20) << target << ": standard input read to its end";
    send.CloseInput();
    EXPECT_EQ(send.Wait(), 1) << target;
    EXPECT_NE(send.ErrorText().find("message too long"), std::string::npos) << send.ErrorText();
  }

  // Other machines take 424 bytes: both names, a 0x00 after each, and the text.
  // The limit counts the text as sent, one byte per character.
  const std::vector<std::string> far = {"send", "--from", "A", "--machine", "FAR-AWAY-PC", "B"};
  for (const std::string& letter : {std::string("x"), std::string("\xC3\xA9")}) {
    std::string fits;
    for (int i = 0; i < 424 - 4; ++i) fits += letter;
    const Result atLimit = RunCli(far, fits + "\n", kUtf8);
    EXPECT_EQ(atLimit.status, 1);  // not too long, but the network is off
    EXPECT_EQ(atLimit.err.find("too long"), std::string::npos) << atLimit.err;
    const Result over = RunCli(far, fits + letter, kUtf8);
    EXPECT_EQ(over.status, 1);
    EXPECT_NE(over.err.find("message too long"), std::string::npos) << over.err;
  }
}

TEST_F(CliProcessTest, RefusesZeroBytesAndSaysWhenTheMailslotRefusesTheSize) {
  Process listener({"listen", "--count", "2"});
  ASSERT_TRUE(SendWhenListening({"send", "--from", "A", "--machine", ".", "B", "first"}));
  std::string line;
  ASSERT_TRUE(listener.ReadLine(line));

  // Nothing after the 0x00 would arrive: nothing is sent at all.
  const Result zero =
      RunCli({"send", "--from", "A", "--machine", ".", "B"}, std::string("abc\0def", 7));
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("zero byte"), std::string::npos) << zero.err;

  // A datagram as long as the send buffer is more than the socket takes.
  const std::string tooLong(LocalSendBuffer() - 4, 'x');
  const Result big = RunCli({"send", "--from", "A", "--machine", ".", "B"}, tooLong, kUtf8);
  EXPECT_EQ(big.status, 1);
  EXPECT_NE(big.err.find("message too long for the mailslot"), std::string::npos) << big.err;

  ASSERT_EQ(RunCli({"send", "--from", "A", "--machine", ".", "B", "second"}).status, 0);
  ASSERT_TRUE(listener.ReadLine(line));
  EXPECT_EQ(line, "A to B : second");
  EXPECT_EQ(listener.Wait(), 0);
}

TEST_F(CliProcessTest, ArgumentsInUsageErrorsCannotDriveTheTerminal) {
  const std::vector<std::vector<std::string>> calls = {
      {"send", "--\xC3\xA9\x1b[2J", "B", "x"},
      {"listen", "--\xC3\xA9\x1b[2J"},
      {"\xC3\xA9\x1b[2J"},
      {"settings", "\xC3\xA9\x1b[2J"},
  };
  for (const auto& call : calls) {
    const Result result = RunCli(call, {}, kUtf8);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("\xC3\xA9\\x1B[2J"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << result.err;
  }
}

TEST_F(CliProcessTest, SetThenGetLandsInTheFileThatPathNames) {
  ASSERT_EQ(RunCli({"settings", "set", "Settings", "Split", "120"}, {}, FEnv).status, 0);
  const Result got = RunCli({"settings", "get", "Settings", "Split"}, {}, FEnv);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "120\n");
  // Keys are matched without regard to case, as the store does.
  EXPECT_EQ(RunCli({"settings", "get", "settings", "SPLIT"}, {}, FEnv).out, "120\n");

  const Result path = RunCli({"settings", "path"}, {}, FEnv);
  ASSERT_EQ(path.status, 0);
  std::istringstream lines(path.out);
  std::string backEnd, file;
  std::getline(lines, backEnd);
  std::getline(lines, file);
  EXPECT_EQ(file.rfind(FDir + "/pling/", 0), 0u) << file;
  std::ifstream stored(file);
  std::stringstream content;
  content << stored.rdbuf();
  EXPECT_NE(content.str().find("120"), std::string::npos) << content.str();
  EXPECT_NE(content.str().find("Split"), std::string::npos) << content.str();

  const Result missing = RunCli({"settings", "get", "Settings", "Nothing"}, {}, FEnv);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(RunCli({"settings", "get", "Settings"}, {}, FEnv).status, 2);
  EXPECT_EQ(RunCli({"settings", "set", "Settings", "Split"}, {}, FEnv).status, 2);
  EXPECT_EQ(RunCli({"settings", "bogus"}, {}, FEnv).status, 2);
}

TEST_F(CliProcessTest, ListShowsEveryKeptSettingWithItsValueAndDefault) {
  ASSERT_EQ(RunCli({"settings", "set", "Settings", "ServerName", "PDC1"}, {}, FEnv).status, 0);
  ASSERT_EQ(RunCli({"settings", "set", "Receivers", "NAME0", "Bob+"}, {}, FEnv).status, 0);
  ASSERT_EQ(RunCli({"settings", "set", "Receivers", "NAME1", "carol\x1b[2J-"}, {}, FEnv).status, 0);
  const Result list = RunCli({"settings", "list"}, {}, FEnv);
  ASSERT_EQ(list.status, 0) << list.err;
  std::map<std::string, std::string> lines;
  std::istringstream text(list.out);
  for (std::string line; std::getline(text, line);) {
    lines[line.substr(0, line.find(' '))] = line;
  }
  for (const pling::settings::TStoredKey* key : pling::settings::kStoredKeys) {
    if (key->indexed) continue;
    EXPECT_EQ(lines.count(std::string(key->section) + "\\" + key->key), 1u) << key->key;
  }
  // The list: each entry up to the first absent one. Nothing can drive the terminal.
  EXPECT_EQ(lines.size(), pling::settings::kStoredKeys.size() - 1 + 3) << list.out;
  EXPECT_NE(lines["Receivers\\NAME0"].find(" Bob+ "), std::string::npos);
  EXPECT_NE(lines["Receivers\\NAME1"].find(" carol\\x1B[2J- "), std::string::npos);
  EXPECT_NE(lines["Receivers\\NAME2"].find(" (not set) "), std::string::npos);
  EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
  // Set or not, each with the value the program takes while it is absent.
  const std::string& server = lines["Settings\\ServerName"];
  EXPECT_NE(server.find(" PDC1 "), std::string::npos) << server;
  EXPECT_NE(server.find(" <Server> "), std::string::npos) << server;
  EXPECT_TRUE(
      std::regex_search(lines["Settings\\UseServer"], std::regex(R"( \(not set\) +0 +# 1: )")))
      << lines["Settings\\UseServer"];
  EXPECT_TRUE(
      std::regex_search(lines["Settings\\Split"], std::regex(R"( \(not set\) +\(window\) +# )")))
      << lines["Settings\\Split"];
}

TEST_F(CliProcessTest, RefusesValuesItCouldNotReadBackAndKeepsTheOldOne) {
  ASSERT_EQ(RunCli({"settings", "set", "Server", "Name", "PDC1"}, {}, FEnv).status, 0);
  EXPECT_EQ(RunCli({"settings", "set", "Server", "Name", "two\nlines"}, {}, FEnv).status, 1);
  EXPECT_EQ(RunCli({"settings", "get", "Server", "Name"}, {}, FEnv).out, "PDC1\n");
  // A long value reads back whole, so it is taken.
  const std::string longValue(300, 'x');
  EXPECT_EQ(RunCli({"settings", "set", "Server", "Name", longValue}, {}, FEnv).status, 0);
  EXPECT_EQ(RunCli({"settings", "get", "Server", "Name"}, {}, FEnv).out, longValue + "\n");
}

// Asking where the settings live, and every call refused before a value is read
// or written, leave the home as it was: no folder, no settings file, no lock.
TEST_F(CliProcessTest, PathAndRefusedCallsCreateNothing) {
  const std::vector<std::string> home = {"HOME=" + FDir, "XDG_CONFIG_HOME="};
  const Result path = RunCli({"settings", "path"}, {}, home);
  EXPECT_EQ(path.status, 0);
  EXPECT_NE(path.out.find(FDir + "/.config/pling/registry.reg\n"), std::string::npos) << path.out;
  const std::vector<std::vector<std::string>> refused = {
      {"settings", "bogus"},
      {"settings", "path", "extra"},
      {"settings", "list", "extra"},
      {"settings", "get", "Settings"},
      {"settings", "get", "", "Split"},
      {"settings", "set", "S", "K"},
      {"settings", "set", "Settings", "Split", "two\nlines"},
      {"settings", "set", std::string(300, 'S'), "Split", "120"},
  };
  for (const auto& call : refused) {
    EXPECT_NE(RunCli(call, {}, home).status, 0) << call[1];
  }
  const Result list = RunCli({"settings", "list"}, {}, home);
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("Settings\\ServerName "), std::string::npos) << list.out;
  // Nothing is stored: every line says so.
  std::size_t unsetLines = 0;
  for (auto at = list.out.find(" (not set) "); at != std::string::npos;
       at = list.out.find(" (not set) ", at + 1)) {
    ++unsetLines;
  }
  EXPECT_EQ(unsetLines,
            static_cast<std::size_t>(std::count(list.out.begin(), list.out.end(), '\n')));
  // A question about a setting no file holds yet makes no file either.
  const Result unset = RunCli({"settings", "get", "Settings", "Split"}, {}, home);
  EXPECT_EQ(unset.status, 1);
  EXPECT_EQ(unset.err, "pling-cli: Settings Split is not set\n");
  EXPECT_TRUE(std::filesystem::is_empty(FDir)) << std::filesystem::directory_iterator(FDir)->path();
}

}  // namespace
