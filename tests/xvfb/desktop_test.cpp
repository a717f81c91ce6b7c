// SPDX-License-Identifier: GPL-3.0-or-later
// The program on a desktop as a user meets it: a window manager (openbox), a
// notification area (trayer), a session bus with the accessibility bus behind it,
// and a stand-in notification server. A second start brings the one window
// forward; Tab leaves the send pane; a screen reader finds named parts and hears
// incoming messages; a message to the window in the notification area makes one
// desktop notification. Runs under xvfb-run; without a display it is skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

#include "logged_child.h"
#include "test_program.h"
#include "wait_until.h"

namespace {

using namespace pling::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const char* const kPython = "/usr/bin/python3";

class XvfbDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0')
      GTEST_SKIP() << "no X display: run under xvfb-run";
    for (const char* tool :
         {"/usr/bin/openbox", "/usr/bin/trayer", "/usr/bin/dbus-daemon",
          "/usr/libexec/at-spi-bus-launcher", "/usr/bin/xdotool", "/usr/bin/xwininfo", kPython})
      ASSERT_TRUE(fs::exists(tool)) << tool << " is missing (scripts/setup installs it)";
    std::string pattern = (fs::temp_directory_path() / "pling-desktop-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FRoot = pattern;
    for (const char* folder : {"config", "runtime", "home", "bus/services"})
      fs::create_directories(FRoot / folder);
    fs::permissions(FRoot / "runtime", fs::perms::owner_all);
    // A session bus of the test's own that can start the accessibility bus, and
    // nothing else (no notification server of the machine's).
    fs::copy_file("/usr/share/dbus-1/services/org.a11y.Bus.service",
                  FRoot / "bus/services/org.a11y.Bus.service");
    std::ofstream(FRoot / "bus/bus.conf")
        << "<busconfig><type>session</type><listen>unix:dir=" << (FRoot / "bus").string()
        << "</listen><auth>EXTERNAL</auth><servicedir>" << (FRoot / "bus/services").string()
        << "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
           "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
    FEnv = {{"XDG_CONFIG_HOME", (FRoot / "config").string()},
            {"XDG_RUNTIME_DIR", (FRoot / "runtime").string()},
            {"HOME", (FRoot / "home").string()},
            {"QT_QPA_PLATFORM", "xcb"},
            {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
            {"LC_ALL", "C.UTF-8"}};
    FBus = Start({"/usr/bin/dbus-daemon", "--config-file=" + (FRoot / "bus/bus.conf").string(),
                  "--nofork", "--print-address=1"},
                 "bus");
    ASSERT_TRUE(WaitForOutput(*FBus, "unix:")) << FBus->Output();
    const std::string out = FBus->Output();
    const std::size_t at = out.find("unix:");
    FEnv["DBUS_SESSION_BUS_ADDRESS"] = out.substr(at, out.find('\n', at) - at);
    FWindowManager = Start({"/usr/bin/openbox", "--sm-disable"}, "openbox");
    FTray = Start({"/usr/bin/trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                   "--height", "24"},
                  "trayer");
    FNotifications = Start({kPython, Script("notification_server.py"), Notified().string()},
                           "notification-server");
    ASSERT_TRUE(WaitForOutput(*FNotifications, "ready")) << FNotifications->Output();
  }

  void TearDown() override {
    if (FRoot.empty()) return;
    // The accessibility bus that the session bus started goes first, by its id
    // (it would end with the session bus, but not at once).
    if (FBus) {
      const Finished owner =
          Command({"/usr/bin/dbus-send", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                   "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:org.a11y.Bus"},
                  5s);
      const std::size_t at = owner.output.find("uint32 ");
      if (owner.status == 0 && at != std::string::npos) {
        const pid_t launcher = static_cast<pid_t>(std::stol(owner.output.substr(at + 7)));
        if (launcher > 1) kill(launcher, SIGTERM);
      }
    }
    FNotifications.reset();
    FTray.reset();
    FWindowManager.reset();
    FBus.reset();
    std::error_code ignored;
    fs::remove_all(FRoot, ignored);
  }

  std::string Script(const char* name) const {
    return (fs::path(PLING_XVFB_SCRIPTS) / name).string();
  }
  fs::path Notified() const { return FRoot / "notified.jsonl"; }

  std::unique_ptr<Child> Start(const std::vector<std::string>& argv, const std::string& name) {
    return std::make_unique<Child>(argv, FEnv, FRoot / (name + "-" + std::to_string(++FRuns)));
  }
  Finished Command(const std::vector<std::string>& argv, std::chrono::milliseconds limit = 15s) {
    return RunToEnd(argv, FEnv, FRoot / ("command-" + std::to_string(++FRuns) + ".out"), limit);
  }
  static bool WaitForOutput(Child& child, const std::string& text,
                            std::chrono::milliseconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (child.Output().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= end || !child.Running()) return false;
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }
  // Asks every 100 ms: each question may start a program of its own.
  static bool WaitUntil(const std::function<bool()>& done) {
    return pling::testing::WaitUntil(done, 20s, 100ms);
  }

  void Set(const std::string& section, const std::string& key, const std::string& value) {
    const Finished r =
        Command({TestBinDir() + "/pling-cli", "settings", "set", section, key, value});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  // The window of the program named Pling, once mapped ("" if it never is).
  std::string WaitForWindow(Child& pling) {
    std::string window;
    WaitUntil([&] {
      const Finished r = Command({"/usr/bin/xdotool", "search", "--onlyvisible", "--pid",
                                  std::to_string(pling.Pid()), "--name", "^Pling$"});
      if (r.status == 0 && !r.output.empty()) window = r.output.substr(0, r.output.find('\n'));
      return !window.empty() || !pling.Running();
    });
    return window;
  }
  bool Viewable(const std::string& window) {
    return Command({"/usr/bin/xwininfo", "-id", window}).output.find("IsViewable") !=
           std::string::npos;
  }
  // The accessible objects of the program, as a screen reader sees them.
  std::string Tree(const Child& pling) {
    return Command({kPython, Script("atspi_probe.py"), "tree", std::to_string(pling.Pid())}).output;
  }
  std::vector<std::string> NotifyCalls() {
    std::ifstream in(Notified());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  fs::path FRoot;
  std::map<std::string, std::string> FEnv;
  std::unique_ptr<Child> FBus, FWindowManager, FTray, FNotifications;
  int FRuns = 0;
};

TEST_F(XvfbDesktop, OneWindowKeyboardScreenReaderAndNotifications) {
  Set("Settings", "Popup", "0");
  Set("Settings", "Active", "1");
  auto pling = Start({TestBinDir() + "/pling"}, "pling");
  const std::string window = WaitForWindow(*pling);
  ASSERT_FALSE(window.empty()) << "no window; output:\n" << pling->Output();

  // A second start: the one window comes forward, the second program ends.
  const Finished second = Command({TestBinDir() + "/pling"});
  EXPECT_EQ(second.status, 0) << second.output;
  const Finished windows =
      Command({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^Pling$"});
  EXPECT_EQ(std::count(windows.output.begin(), windows.output.end(), '\n'), 1) << windows.output;
  EXPECT_TRUE(pling->Running());

  // The screen reader's view: named parts; Tab leaves the send pane and types nothing.
  std::string tree;
  ASSERT_TRUE(WaitUntil([&] {
    return (tree = Tree(*pling)).find("|frame|Pling") != std::string::npos;
  })) << "the program is not on the accessibility bus:\n"
      << tree << pling->Output();
  for (const char* part : {"|frame|Pling", "|text|Received messages", "|text|Message to send",
                           "|list|Receivers", "|check box|Start", "|status bar|", "|image|Pling"})
    EXPECT_NE(tree.find(part), std::string::npos) << part << " missing in\n" << tree;
  EXPECT_EQ(Command({"/usr/bin/xdotool", "windowactivate", "--sync", window}).status, 0);
  EXPECT_TRUE(WaitUntil([&] {
    return Tree(*pling).find("|text|Message to send focused") != std::string::npos;
  })) << "the focus starts in the send pane";
  EXPECT_EQ(Command({"/usr/bin/xdotool", "key", "Tab"}).status, 0);
  EXPECT_TRUE(WaitUntil([&] {
    tree = Tree(*pling);
    return tree.find("|list|Receivers focused") != std::string::npos;
  })) << tree;
  EXPECT_NE(tree.find("|text|Message to send|text=\n"), std::string::npos) << "no tab typed:\n"
                                                                           << tree;

  // A message while the window is shown is announced to the screen reader.
  auto listener = Start(
      {kPython, Script("atspi_probe.py"), "notifications", std::to_string(pling->Pid()), "20"},
      "listener");
  ASSERT_TRUE(WaitForOutput(*listener, "ready")) << listener->Output();
  EXPECT_EQ(Command({TestBinDir() + "/pling-cli", "send", "--machine", ".", "--from", "ALICE",
                     "BOB", "lunch at noon?"})
                .status,
            0);
  EXPECT_TRUE(WaitForOutput(*listener,
                            "Message from ALICE to BOB: lunch at noon?|content="
                            "Message from ALICE to BOB: lunch at noon?"))
      << listener->Output();
  EXPECT_TRUE(NotifyCalls().empty()) << "no desktop notification for a window in sight";

  // Into the notification area; a message there makes one notification.
  EXPECT_EQ(Command({"/usr/bin/xdotool", "windowminimize", window}).status, 0);
  ASSERT_TRUE(WaitUntil([&] { return !Viewable(window); })) << "the window did not go";
  EXPECT_EQ(Command({TestBinDir() + "/pling-cli", "send", "--machine", ".", "--from", "CAROL",
                     "BOB", "are you there?"})
                .status,
            0);
  ASSERT_TRUE(WaitUntil([&] { return !NotifyCalls().empty(); }))
      << "no Notify call; pling's output:\n"
      << pling->Output();
  std::this_thread::sleep_for(1s);
  const std::vector<std::string> calls = NotifyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("\"app\": \"Pling\""), std::string::npos) << calls[0];
  EXPECT_NE(calls[0].find("CAROL"), std::string::npos) << calls[0];
  EXPECT_NE(calls[0].find("are you there?"), std::string::npos) << calls[0];
  EXPECT_FALSE(Viewable(window)) << "Pop up is off";

  // Started again, the program brings its window out of the notification area.
  EXPECT_EQ(Command({TestBinDir() + "/pling"}).status, 0);
  EXPECT_TRUE(WaitUntil([&] { return Viewable(window); })) << "the window stayed in the tray";

  pling->Signal(SIGTERM);
  EXPECT_EQ(pling->Wait(30s).value_or(-1), 0) << pling->Output();
}

}  // namespace

namespace {

// The receivers list's items as the screen reader sees them: "Name" or
// "Name selected", in list order.
std::vector<std::string> ListItems(const std::string& tree) {
  std::vector<std::string> items;
  std::istringstream lines(tree);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find("|list item|");
    if (at == std::string::npos) continue;
    std::string item = line.substr(at + 11);
    if (const std::size_t focused = item.find(" focused"); focused != std::string::npos)
      item.erase(focused, 8);
    items.push_back(item);
  }
  return items;
}

}  // namespace

TEST_F(XvfbDesktop, TheKeyboardActsOnTheItemShownAndIncomingMessagesLeaveItWhereItIs) {
  // Pop up is on, as it is by default.
  Set("Settings", "Active", "1");
  Set("Receivers", "NAME0", "Bob+");
  Set("Receivers", "NAME1", "Carol+");
  Set("Receivers", "NAME2", "Dave-");
  Set("Receivers", "NAME3", "Eve-");
  auto pling = Start({TestBinDir() + "/pling"}, "pling");
  const std::string window = WaitForWindow(*pling);
  ASSERT_FALSE(window.empty()) << "no window; output:\n" << pling->Output();
  ASSERT_EQ(Command({"/usr/bin/xdotool", "windowactivate", "--sync", window}).status, 0);
  std::string tree;
  const auto items = [&] { return ListItems(tree = Tree(*pling)); };
  const auto key = [&](const char* keys) {
    EXPECT_EQ(Command({"/usr/bin/xdotool", "key", "--clearmodifiers", keys}).status, 0) << keys;
  };
  ASSERT_TRUE(WaitUntil(
      [&] { return Tree(*pling).find("|text|Message to send focused") != std::string::npos; }));
  key("Tab");
  ASSERT_TRUE(
      WaitUntil([&] { return Tree(*pling).find("|list|Receivers focused") != std::string::npos; }));

  // Typing a name's letter moves the keyboard there; Bob and Carol stay selected.
  key("d");
  ASSERT_TRUE(WaitUntil([&] {
    return Tree(*pling).find("|list item|Dave focused") != std::string::npos;
  })) << tree;
  EXPECT_EQ(items(), (std::vector<std::string>{"Bob selected", "Carol selected", "Dave", "Eve"}));

  // The list's menu from the keyboard, Delete: the item the keyboard is on goes.
  key("shift+F10");
  key("d");
  ASSERT_TRUE(WaitUntil([&] { return items().size() == 3; })) << tree;
  EXPECT_EQ(items(), (std::vector<std::string>{"Bob selected", "Carol selected", "Eve"}));
  // And once more, on another item.
  key("e");
  ASSERT_TRUE(WaitUntil([&] {
    return Tree(*pling).find("|list item|Eve focused") != std::string::npos;
  })) << tree;
  key("shift+F10");
  key("d");
  ASSERT_TRUE(WaitUntil([&] { return items().size() == 2; })) << tree;
  EXPECT_EQ(items(), (std::vector<std::string>{"Bob selected", "Carol selected"}));

  // A dialog opened from the keyboard gives the keyboard back to the list.
  key("shift+F10");
  key("a");
  ASSERT_TRUE(WaitUntil([&] { return Tree(*pling).find("|dialog|Add") != std::string::npos; }))
      << tree;
  EXPECT_EQ(Command({"/usr/bin/xdotool", "type", "zed"}).status, 0);
  key("Return");
  ASSERT_TRUE(WaitUntil([&] { return items().size() == 3; })) << tree;
  EXPECT_EQ(items(), (std::vector<std::string>{"Bob selected", "Carol selected", "Zed"}));
  EXPECT_TRUE(WaitUntil([&] {
    return Tree(*pling).find("|list|Receivers focused") != std::string::npos;
  })) << "the focus went elsewhere after the dialog:\n"
      << Tree(*pling);

  // Enter on Start opens its menu.
  key("Tab");
  ASSERT_TRUE(WaitUntil(
      [&] { return Tree(*pling).find("|check box|Start focused") != std::string::npos; }));
  key("Return");
  // The menu is a window of its own, beside the main window.
  std::string windows;
  EXPECT_TRUE(WaitUntil([&] {
    windows = Command({"/usr/bin/xdotool", "search", "--onlyvisible", "--pid",
                       std::to_string(pling->Pid())})
                  .output;
    return std::count(windows.begin(), windows.end(), '\n') == 2;
  })) << "no menu: "
      << windows;
  key("Escape");

  // The answer to a send is read out, with its text for braille.
  auto listener = Start(
      {kPython, Script("atspi_probe.py"), "notifications", std::to_string(pling->Pid()), "20"},
      "listener");
  ASSERT_TRUE(WaitForOutput(*listener, "ready")) << listener->Output();
  key("shift+Tab");
  key("shift+Tab");
  ASSERT_TRUE(WaitUntil(
      [&] { return Tree(*pling).find("|text|Message to send focused") != std::string::npos; }));
  EXPECT_EQ(Command({"/usr/bin/xdotool", "type", "hi"}).status, 0);
  key("Return");
  EXPECT_TRUE(WaitForOutput(*listener, "|content=Not sent to Bob, Carol: ")) << listener->Output();

  // The user types in another program; a message comes: the window comes up,
  // but the keyboard stays where the user types, and the desktop is told.
  auto other = Start({"/usr/bin/xmessage", "-name", "typing", "typing here"}, "xmessage");
  std::string typing;
  ASSERT_TRUE(WaitUntil([&] {
    const Finished r =
        Command({"/usr/bin/xdotool", "search", "--onlyvisible", "--classname", "^typing$"});
    if (r.status == 0 && !r.output.empty()) typing = r.output.substr(0, r.output.find('\n'));
    return !typing.empty();
  }));
  ASSERT_EQ(Command({"/usr/bin/xdotool", "windowactivate", "--sync", typing}).status, 0);
  EXPECT_EQ(Command({TestBinDir() + "/pling-cli", "send", "--machine", ".", "--from", "ALICE",
                     "BOB", "lunch at noon?"})
                .status,
            0);
  ASSERT_TRUE(WaitUntil([&] { return Tree(*pling).find("lunch at noon?") != std::string::npos; }))
      << tree;
  EXPECT_TRUE(WaitUntil([&] { return !NotifyCalls().empty(); }))
      << "a window the user is not looking at gets a notification";
  const Finished active = Command({"/usr/bin/xdotool", "getactivewindow"});
  EXPECT_EQ(active.output.substr(0, active.output.find('\n')), typing)
      << "the message took the keyboard";

  other->Signal(SIGTERM);
  pling->Signal(SIGTERM);
  EXPECT_EQ(pling->Wait(30s).value_or(-1), 0) << pling->Output();
}

// Start from the keyboard under a window manager: Alt+S opens its menu, the
// arrows move in it and Return runs the item; Start is a toggle that a screen
// reader hears change, checked while messages are received.
TEST_F(XvfbDesktop, StartsMenuRunsItsItemsFromTheKeyboardAndItsStateIsHeard) {
  Set("Settings", "Active", "0");
  auto pling = Start({TestBinDir() + "/pling"}, "pling");
  const std::string window = WaitForWindow(*pling);
  ASSERT_FALSE(window.empty()) << "no window; output:\n" << pling->Output();
  ASSERT_EQ(Command({"/usr/bin/xdotool", "windowactivate", "--sync", window}).status, 0);
  // The line of Start in the screen reader's view, without its depth.
  const auto start = [&] {
    const std::string tree = Tree(*pling);
    const std::size_t at = tree.find("|check box|Start");
    return at == std::string::npos ? tree : tree.substr(at, tree.find('\n', at) - at);
  };
  ASSERT_TRUE(WaitUntil([&] { return start().rfind("|check box|Start", 0) == 0; })) << start();
  EXPECT_EQ(start().find(" checked"), std::string::npos) << start();
  auto listener =
      Start({kPython, Script("atspi_probe.py"), "checked", std::to_string(pling->Pid()), "60"},
            "listener");
  ASSERT_TRUE(WaitForOutput(*listener, "ready")) << listener->Output();

  const auto runActivate = [&] {
    EXPECT_EQ(Command({"/usr/bin/xdotool", "key", "--clearmodifiers", "alt+s"}).status, 0);
    ASSERT_TRUE(WaitUntil([&] {
      const std::string windows = Command({"/usr/bin/xdotool", "search", "--onlyvisible", "--pid",
                                           std::to_string(pling->Pid())})
                                      .output;
      return std::count(windows.begin(), windows.end(), '\n') == 2;
    })) << "no menu";
    // From the end of the menu: Exit, then Activate (or Deactivate).
    for (const char* key : {"Up", "Up", "Return"})
      EXPECT_EQ(Command({"/usr/bin/xdotool", "key", key}).status, 0) << key;
  };
  runActivate();
  EXPECT_TRUE(WaitForOutput(*listener, "Start|checked=1")) << listener->Output();
  EXPECT_TRUE(WaitUntil([&] { return start().find(" checked") != std::string::npos; })) << start();
  runActivate();
  EXPECT_TRUE(WaitForOutput(*listener, "Start|checked=0")) << listener->Output();
  EXPECT_TRUE(WaitUntil([&] { return start().find(" checked") == std::string::npos; })) << start();
  const std::string heard = listener->Output();
  EXPECT_EQ(heard.find("Start|checked=1"), heard.rfind("Start|checked=1")) << "told twice:\n"
                                                                           << heard;

  pling->Signal(SIGTERM);
  EXPECT_EQ(pling->Wait(30s).value_or(-1), 0) << pling->Output();
}
