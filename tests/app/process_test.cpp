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
#include "platform/mailslot_service.h"
#include "test_program.h"
#include "wait_until.h"

namespace pling::testing {
namespace {

class ProgramTest : public AppTest {
 protected:
  // Starts the program on the offscreen platform with the test's settings folder.
  pid_t Launch() {
    const std::string program = TestProgram("pling");
    // A session of its own: the program of a user who runs one never sees it.
    const std::string runtime = Root() + "/runtime";
    ::mkdir(runtime.c_str(), 0700);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
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

  static int ExitStatus(pid_t pid) {
    int status = 0;
    bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

// Ends the program if a check fails before it was asked to end.
struct ChildGuard {
  pid_t pid;
  ~ChildGuard() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
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
    const pid_t pid = Launch();
    ASSERT_GT(pid, 0);
    ChildGuard guard{pid};
    // "Active" was stored: the started program holds the messenger mailslot.
    ASSERT_TRUE(WaitUntil([] { return MailslotTaken(); })) << "the program does not listen";
    ASSERT_EQ(kill(pid, signal), 0);
    EXPECT_EQ(ExitStatus(pid), 0);
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
  const pid_t first = Launch();
  ASSERT_GT(first, 0);
  ChildGuard firstGuard{first};
  ASSERT_TRUE(WaitUntil([] { return MailslotTaken(); })) << "the program does not listen";
  const std::string before = FileText(HivePath());
  const pid_t second = Launch();
  ASSERT_GT(second, 0);
  ChildGuard secondGuard{second};
  EXPECT_EQ(ExitStatus(second), 0);
  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the first still runs";
  EXPECT_EQ(FileText(HivePath()), before) << "the second wrote nothing";
  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(ExitStatus(first), 0);
}

TEST_F(ProgramTest, ASignalWhileTheStartUpMessageBoxIsShownStillEndsTheProgramAndSaves) {
  {
    auto store = Store();
    store->WriteText("ReceivedMemo", "Color", "pink");  // a message box at start
    store->WriteText("Receivers", "NAME0", "Bob+");
  }
  const pid_t pid = Launch();
  ASSERT_GT(pid, 0);
  ChildGuard guard{pid};
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(ExitStatus(pid), 0);
  // The window closed the ordinary way and wrote what it had.
  EXPECT_EQ(Store()->ReadText("Receivers", "NAME1", "absent"), "");
}

}  // namespace
}  // namespace pling::testing
