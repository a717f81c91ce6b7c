// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a process: SIGTERM and SIGINT close its window the ordinary
// way, so the settings are saved; the next start restores them and, with
// "Active" stored, listens on the messenger mailslot.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "app_fixture.h"
#include "logged_child.h"
#include "platform/mailslot_service.h"
#include "test_program.h"
#include "wait_until.h"

namespace pling::testing {
namespace {

class ProgramTest : public AppTest {
 protected:
  // Starts the program on the offscreen platform with the test's settings folder.
  std::unique_ptr<Child> Launch() {
    // A session of its own: the program of a user who runs one never sees it.
    const std::string runtime = Root() + "/runtime";
    ::mkdir(runtime.c_str(), 0700);
    return std::make_unique<Child>(
        std::vector<std::string>{TestProgram("pling")},
        std::map<std::string, std::string>{{"QT_QPA_PLATFORM", "offscreen"},
                                           {"XDG_RUNTIME_DIR", runtime}},
        Root() + "/pling-" + std::to_string(++FRuns) + ".out");
  }

  // Whether the messenger mailslot is held by someone right now. The probe opens
  // it for writing, as a sender would: taking it, even for a moment, could make
  // the starting program find it taken.
  static bool MailslotTaken() {
    const platform::HANDLE file =
        platform::CreateFile("\\\\.\\mailslot\\messngr", platform::GENERIC_WRITE,
                             platform::FILE_SHARE_READ, platform::OPEN_EXISTING, 0);
    if (file == platform::INVALID_HANDLE_VALUE) return false;
    platform::CloseHandle(file);
    return true;
  }

  // The exit status; a program still running after 20 s is ended (-1).
  static int ExitStatus(Child& child) {
    const std::optional<int> status = child.Wait(20s);
    if (!status) child.Signal(SIGKILL);
    return status.value_or(-1);
  }

  int FRuns = 0;
};

TEST_F(ProgramTest, TerminationSignalsSaveTheSettingsAndTheNextStartListensAgain) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    // Only these settings exist before the run; the rest can only come from the
    // program's own close.
    std::filesystem::remove(HivePath());
    {
      auto store = Store();
      store->WriteText("Receivers", "NAME0", "Bob+");
      store->WriteText("Settings", "ServerName", "PDC1");
      store->WriteBool("Settings", "Active", true);
      store->WriteInteger("TPlingFrm", "Left", 33);
      store->WriteInteger("TPlingFrm", "Top", 44);
    }
    const auto pling = Launch();
    // "Active" was stored: the started program holds the messenger mailslot.
    ASSERT_TRUE(WaitUntil([] { return MailslotTaken(); })) << "the program does not listen";
    pling->Signal(signal);
    EXPECT_EQ(ExitStatus(*pling), 0) << pling->Output();
    auto store = Store();
    EXPECT_EQ(store->ReadText("Settings", "Popup", "absent"), "1");
    EXPECT_EQ(store->ReadText("Settings", "Split", "absent"), "89");
    EXPECT_EQ(store->ReadText("Receivers", "NAME0", ""), "Bob+");
    EXPECT_EQ(store->ReadText("Receivers", "NAME1", "absent"), "");
    EXPECT_EQ(store->ReadText("Settings", "ServerName", ""), "PDC1");
    EXPECT_TRUE(store->ReadBool("Settings", "Active", false));
    EXPECT_EQ(store->ReadInteger("TPlingFrm", "Left", -1), 33);
    EXPECT_EQ(store->ReadInteger("TPlingFrm", "Top", -1), 44);
    EXPECT_NE(store->ReadText("TPlingFrm", "Width", "absent"), "absent");
    EXPECT_FALSE(MailslotTaken()) << "the mailslot goes with the program";
  }
}

}  // namespace
}  // namespace pling::testing

namespace pling::testing {
namespace {

// A second start in the same session brings the first one's window forward and
// ends at once: it neither makes a window nor writes the settings.
TEST_F(ProgramTest, ASecondStartEndsAtOnceAndLeavesTheSettingsAlone) {
  {
    auto store = Store();
    store->WriteBool("Settings", "Active", true);
  }
  const auto first = Launch();
  ASSERT_TRUE(WaitUntil([] { return MailslotTaken(); })) << "the program does not listen";
  const std::string before = FileText(HivePath());
  const auto second = Launch();
  EXPECT_EQ(ExitStatus(*second), 0) << second->Output();
  EXPECT_TRUE(first->Running()) << "the first still runs";
  EXPECT_EQ(FileText(HivePath()), before) << "the second wrote nothing";
  first->Signal(SIGTERM);
  EXPECT_EQ(ExitStatus(*first), 0) << first->Output();
}

TEST_F(ProgramTest, ASignalWhileTheStartUpMessageBoxIsShownStillEndsTheProgramAndSaves) {
  {
    auto store = Store();
    store->WriteText("ReceivedMemo", "Color", "pink");  // a message box at start
    store->WriteText("Receivers", "NAME0", "Bob+");
  }
  const auto pling = Launch();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  pling->Signal(SIGTERM);
  EXPECT_EQ(ExitStatus(*pling), 0) << pling->Output();
  // The window closed the ordinary way and wrote what it had.
  EXPECT_EQ(Store()->ReadText("Receivers", "NAME1", "absent"), "");
}

}  // namespace
}  // namespace pling::testing
