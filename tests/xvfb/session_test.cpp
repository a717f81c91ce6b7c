// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a user runs it, on a real X display: it keeps its settings across
// a shutdown by signal, restores them at the next start, and listens again when it
// was listening. Runs under xvfb-run (scripts/test and .ci/run start one); without
// a display every test here is skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../support/private_network.h"
#include "logged_child.h"
#include "test_program.h"

namespace {

using namespace pling::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class XvfbSession : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0')
      GTEST_SKIP() << "no X display: run under xvfb-run";
    std::string pattern = (fs::temp_directory_path() / "pling-session-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FRoot = pattern;
    fs::create_directories(FRoot / "config");
    // A session of its own: a Pling the user runs is another session's.
    fs::create_directories(FRoot / "runtime");
    fs::permissions(FRoot / "runtime", fs::perms::owner_all);
    FEnv = {{"XDG_CONFIG_HOME", (FRoot / "config").string()},
            {"XDG_RUNTIME_DIR", (FRoot / "runtime").string()},
            {"QT_QPA_PLATFORM", "xcb"},
            {"LC_ALL", "C.UTF-8"}};
  }
  void TearDown() override {
    if (!FRoot.empty()) {
      std::error_code ignored;
      fs::remove_all(FRoot, ignored);
    }
  }

  // Runs a short command to its end, killing it after the limit (status -1 then).
  Finished Command(const std::vector<std::string>& argv, std::chrono::milliseconds limit = 15s) {
    return RunToEnd(argv, FEnv, FRoot / ("command-" + std::to_string(++FRuns) + ".out"), limit);
  }

  std::string Get(const std::string& section, const std::string& key) {
    const Finished r = Command({TestBinDir() + "/pling-cli", "settings", "get", section, key});
    EXPECT_EQ(r.status, 0) << section << "/" << key << ": " << r.output;
    std::string value = r.output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
  }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    const Finished r =
        Command({TestBinDir() + "/pling-cli", "settings", "set", section, key, value});
    ASSERT_EQ(r.status, 0) << section << "/" << key << ": " << r.output;
  }

  std::unique_ptr<Child> StartPling() {
    const fs::path out = FRoot / ("pling-" + std::to_string(++FRuns) + ".out");
    return std::make_unique<Child>(std::vector<std::string>{TestBinDir() + "/pling"}, FEnv, out);
  }

  // The main window of the process once it is mapped on the display ("" if it never
  // shows within the limit or the process ends first).
  std::string WaitForWindow(Child& pling) {
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < end && pling.Running()) {
      const Finished r = Command({"/usr/bin/xdotool", "search", "--onlyvisible", "--pid",
                                  std::to_string(pling.Pid()), "--name", "^Pling$"},
                                 10s);
      if (r.status == 0 && !r.output.empty()) return r.output.substr(0, r.output.find('\n'));
      if (r.status == 127) ADD_FAILURE() << "xdotool is missing (scripts/setup installs it)";
      std::this_thread::sleep_for(100ms);
    }
    return {};
  }

  // X, Y, WIDTH and HEIGHT of a window as the X server has it.
  std::map<std::string, int> Geometry(const std::string& window) {
    const Finished r = Command({"/usr/bin/xdotool", "getwindowgeometry", "--shell", window});
    std::map<std::string, int> geometry;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
      const auto eq = line.find('=');
      if (eq != std::string::npos && line.substr(0, eq) != "WINDOW")
        geometry[line.substr(0, eq)] = std::stoi(line.substr(eq + 1));
    }
    return geometry;
  }

  // Ends the program as the session manager or `kill` would, and expects it to close
  // its window the ordinary way and exit normally.
  void Stop(Child& pling, int sig) {
    pling.Signal(sig);
    const std::optional<int> status = pling.Wait(30s);
    ASSERT_TRUE(status.has_value()) << "pling did not end after signal " << sig;
    EXPECT_EQ(*status, 0) << "signal " << sig << "; its output:\n" << pling.Output();
  }

  fs::path FRoot;
  std::map<std::string, std::string> FEnv;
  int FRuns = 0;
};

TEST_F(XvfbSession, FirstRunSavesEveryDefaultAndTheWindowBoundsOnSigterm) {
  auto pling = StartPling();
  const std::string window = WaitForWindow(*pling);
  ASSERT_FALSE(window.empty()) << "no window; output:\n" << pling->Output();
  const auto shown = Geometry(window);
  ASSERT_NO_FATAL_FAILURE(Stop(*pling, SIGTERM));

  EXPECT_EQ(Get("Settings", "Split"), "89");
  EXPECT_EQ(Get("Settings", "Active"), "0");
  EXPECT_EQ(Get("Settings", "AutomaticSend"), "1");
  EXPECT_EQ(Get("Settings", "Popup"), "1");
  EXPECT_EQ(Get("Settings", "UseServer"), "0");
  EXPECT_EQ(Get("Settings", "ServerName"), "<Server>");
  EXPECT_EQ(Get("ReceivedMemo", "Color"), "clWindow");
  EXPECT_EQ(Get("Receivers", "NAME0"), "");
  // The stored size is the size the window had on the display.
  EXPECT_EQ(Get("TPlingFrm", "Width"), std::to_string(shown.at("WIDTH")));
  EXPECT_EQ(Get("TPlingFrm", "Height"), std::to_string(shown.at("HEIGHT")));
}

TEST_F(XvfbSession, SecondRunRestoresTheSettingsListensAndSavesThemAgain) {
  const std::map<std::pair<std::string, std::string>, std::string> stored = {
      {{"Receivers", "NAME0"}, "Bob+"},     {{"Receivers", "NAME1"}, "Carol-"},
      {{"Settings", "Split"}, "120"},       {{"Settings", "ServerName"}, "HUB"},
      {{"Settings", "UseServer"}, "1"},     {{"Settings", "Popup"}, "0"},
      {{"Settings", "RecvLineWrap"}, "1"},  {{"Settings", "Active"}, "1"},
      {{"SendMemo", "Color"}, "$00C0FFEE"}, {{"TPlingFrm", "Left"}, "40"},
      {{"TPlingFrm", "Top"}, "30"},         {{"TPlingFrm", "Width"}, "520"},
      {{"TPlingFrm", "Height"}, "430"}};
  for (const auto& [where, value] : stored) Set(where.first, where.second, value);

  auto pling = StartPling();
  const std::string window = WaitForWindow(*pling);
  ASSERT_FALSE(window.empty()) << "no window; output:\n" << pling->Output();
  const auto shown = Geometry(window);
  EXPECT_EQ(shown.at("WIDTH"), 520);
  EXPECT_EQ(shown.at("HEIGHT"), 430);

  // "Active" was stored: the program holds the messenger mailslot, so a second
  // listener is refused.
  const Finished listen = Command({TestBinDir() + "/pling-cli", "listen"}, 5s);
  EXPECT_EQ(listen.status, 1) << listen.output;
  EXPECT_NE(listen.output.find("Mailslot allready exists"), std::string::npos) << listen.output;

  ASSERT_NO_FATAL_FAILURE(Stop(*pling, SIGTERM));
  // Everything read at the start is written back unchanged, and the list ends after
  // its two entries.
  for (const auto& [where, value] : stored)
    EXPECT_EQ(Get(where.first, where.second), value) << where.first << "/" << where.second;
  EXPECT_EQ(Get("Receivers", "NAME2"), "");
}

TEST_F(XvfbSession, InterruptAlsoClosesTheWindowAndSaves) {
  Set("Settings", "Split", "150");
  auto pling = StartPling();
  ASSERT_FALSE(WaitForWindow(*pling).empty()) << "no window; output:\n" << pling->Output();
  ASSERT_NO_FATAL_FAILURE(Stop(*pling, SIGINT));
  EXPECT_EQ(Get("Settings", "Split"), "150");
  EXPECT_EQ(Get("Settings", "Active"), "0");
  EXPECT_NE(Get("TPlingFrm", "Width"), "");
}

// A conversation with the command line: a message sent with pling-cli shows up
// and adds its sender to the list, which is saved at exit; a line typed in the
// send pane and Enter reach a pling-cli that listens.
TEST_F(XvfbSession, MessagesFromAndToTheCommandLine) {
  Set("Settings", "Active", "1");
  auto pling = StartPling();
  ASSERT_FALSE(WaitForWindow(*pling).empty()) << "no window; output:\n" << pling->Output();
  const Finished sent = Command({TestBinDir() + "/pling-cli", "send", "--machine", ".", "--from",
                                 "aLICE", "BOB", "Hello from the command line"});
  ASSERT_EQ(sent.status, 0) << sent.output;
  // The program takes the message while the settings are still its own; give it
  // time to show it before it is asked to end (generous: the tests run under
  // sanitizers on a busy machine).
  std::this_thread::sleep_for(3s);
  ASSERT_NO_FATAL_FAILURE(Stop(*pling, SIGTERM));
  // Saved, not selected; '*' while nobody has selected the name since it was added.
  const std::string stored = Get("Receivers", "NAME0");
  EXPECT_TRUE(stored == "Alice-" || stored == "Alice*") << stored;

  // Now a listener holds the messenger mailslot, and the window sends to this
  // machine (".", selected) as the user types.
  Set("Settings", "Active", "0");
  Set("Receivers", "NAME0", ".+");
  const fs::path heard = FRoot / "listen.out";
  Child listen({TestBinDir() + "/pling-cli", "listen", "--count", "1"}, FEnv, heard);
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(listen.Running()) << listen.Output();
  pling = StartPling();
  const std::string window = WaitForWindow(*pling);
  ASSERT_FALSE(window.empty()) << "no window; output:\n" << pling->Output();
  EXPECT_EQ(Command({"/usr/bin/xdotool", "windowfocus", "--sync", window}).status, 0);
  EXPECT_EQ(Command({"/usr/bin/xdotool", "type", "--delay", "20", "typed in pling"}).status, 0);
  EXPECT_EQ(Command({"/usr/bin/xdotool", "key", "Return"}).status, 0);
  const std::optional<int> status = listen.Wait(15s);
  EXPECT_EQ(status.value_or(-1), 0) << "the listener heard nothing";
  EXPECT_NE(listen.Output().find("typed in pling"), std::string::npos) << listen.Output();
  if (!status) listen.Signal(SIGKILL);
  ASSERT_NO_FATAL_FAILURE(Stop(*pling, SIGTERM));
}

// `smbclient -M` (as `net send` would) reaches the window over a session on TCP
// 139, in this test's own network namespace: the window takes the message and
// adds its sender to the list, which is saved at exit.
TEST_F(XvfbSession, ASessionMessageFromSambasClientReachesTheWindow) {
  if (!pling::testing::OnlyLoopback()) GTEST_SKIP() << "needs a network namespace of its own";
  if (Command({"/bin/sh", "-c", "command -v smbclient"}).status != 0)
    GTEST_SKIP() << "smbclient (package smbclient) missing";
  if (Command({"/bin/sh", "-c", "ip link set lo up"}).status != 0)
    GTEST_SKIP() << "cannot bring the loopback interface up here";
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string computer(host, std::string_view(host).find('.') == std::string_view::npos
                                 ? std::string_view(host).size()
                                 : std::string_view(host).find('.'));
  for (char& c : computer) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Set("Settings", "Active", "1");
  FEnv["PLING_NETWORK"] = "on";
  auto pling = StartPling();
  ASSERT_FALSE(WaitForWindow(*pling).empty()) << "no window; output:\n" << pling->Output();
  bool listening = false;
  for (int i = 0; i < 250 && !listening; ++i) {
    std::ifstream tcp("/proc/net/tcp");
    const std::string table{std::istreambuf_iterator<char>(tcp), std::istreambuf_iterator<char>()};
    listening = table.find("00000000:008B 00000000:0000 0A") != std::string::npos;
    if (!listening) std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(listening) << pling->Output();
  std::ofstream(FRoot / "message") << "Hello from Samba\nsecond line";
  std::ofstream(FRoot / "client.conf") << "[global]\n dos charset = CP850\n";
  const Finished sent =
      Command({"/bin/sh", "-c",
               "smbclient -s " + (FRoot / "client.conf").string() + " -M " + computer +
                   " -I 127.0.0.1 -N -U dave < " + (FRoot / "message").string()});
  ASSERT_EQ(sent.status, 0) << sent.output;
  std::this_thread::sleep_for(3s);
  ASSERT_NO_FATAL_FAILURE(Stop(*pling, SIGTERM));
  // Added as the sender and saved, not selected ('*' while nobody selected it).
  const std::string stored = Get("Receivers", "NAME0");
  EXPECT_TRUE(stored == "Dave-" || stored == "Dave*") << stored;
}

}  // namespace

namespace {

// A name longer than a registry value used to hold, between short names; and a
// right click on the list (on another receiver, and below the last one) closed
// with Escape: the list, its marks and the selection come back whole, twice.
TEST_F(XvfbSession, ALongReceiverNameAndRightClicksKeepTheListAndItsSelection) {
  const std::string longName = "M" + std::string(299, 'x');
  const std::vector<std::string> stored = {"Alice-", "Bob+", longName + "-", "Zed-"};
  for (std::size_t i = 0; i < stored.size(); ++i)
    Set("Receivers", "NAME" + std::to_string(i), stored[i]);

  for (int run = 0; run < 2; ++run) {
    auto pling = StartPling();
    const std::string window = WaitForWindow(*pling);
    ASSERT_FALSE(window.empty()) << "no window; output:\n" << pling->Output();
    if (run == 0) {
      // The receivers column: the right 89 pixels, inside a border of 4; Alice
      // is the first row, the space below Zed is empty.
      const auto at = Geometry(window);
      const int x = at.at("X") + at.at("WIDTH") - 89 + 4 + 30;
      for (const int y : {at.at("Y") + 4 + 8, at.at("Y") + at.at("HEIGHT") - 38 - 4 - 12}) {
        EXPECT_EQ(Command({"/usr/bin/xdotool", "mousemove", "--sync", std::to_string(x),
                           std::to_string(y), "click", "3"})
                      .status,
                  0);
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(Command({"/usr/bin/xdotool", "key", "Escape"}).status, 0);
        std::this_thread::sleep_for(300ms);
      }
    }
    ASSERT_NO_FATAL_FAILURE(Stop(*pling, SIGTERM));
    for (std::size_t i = 0; i < stored.size(); ++i)
      EXPECT_EQ(Get("Receivers", "NAME" + std::to_string(i)), stored[i]) << "run " << run;
    EXPECT_EQ(Get("Receivers", "NAME4"), "") << "run " << run;
  }
}

}  // namespace
