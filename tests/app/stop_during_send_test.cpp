// SPDX-License-Identifier: GPL-3.0-or-later
// The end of the program while a send waits for a machine that has not answered
// yet: a termination signal (or the end of the desktop session, which closes the
// window the same way) arrives inside the send's nested event loop.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/PlingApplication.h"
#include "app_fixture.h"
#include "platform/mailslot_service.h"

namespace pling::testing {
namespace {

// A machine that takes the message only once the test lets it (a receiver that
// does not answer yet); a guard ends the wait should the test never let it.
class THeldTransport : public platform::IMailslotTransport {
 public:
  std::function<void()> OnWrite;  // on the writing thread, as the write begins

  runtime::TResult<platform::TWriteDelivery> Write(std::string_view, std::string_view,
                                                   std::string_view) override {
    if (OnWrite) OnWrite();
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait_for(guard, std::chrono::seconds(60), [this] { return FLet; });
    return platform::TWriteDelivery::Confirmed;
  }
  void Let() {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FLet = true;
    }
    FChanged.notify_all();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FLet = false;
};

// The settings file as a writer leaves it: a new file replaces the old one, so a
// write changes its inode or its change time.
struct TFileStamp {
  ino_t inode = 0;
  timespec changed{};
  bool operator==(const TFileStamp& other) const {
    return inode == other.inode && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};
TFileStamp Stamp(const std::filesystem::path& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return {};
  return {status.st_ino, status.st_ctim};
}

class StopDuringSendTest : public AppTest {
 protected:
  void TearDown() override {
    if (FTransport) FTransport->Let();
    platform::SetMailslotTransport(nullptr);
    AppTest::TearDown();
  }
  std::shared_ptr<THeldTransport> FTransport = std::make_shared<THeldTransport>();
};

// Wired as the program wires its window: a signal closes it, its closing ends the
// event loop, and the loop's end closes it again (which does nothing then).
TEST_F(StopDuringSendTest, ASignalInsideTheSendSavesTheSettingsOnceAndTheSendGoesOut) {
  platform::SetMailslotTransport(FTransport);
  app::TPlingFrm& w = Start();
  // Two receivers: their writes run on threads of their own while the window waits.
  for (const char* name : {"Bob", "Carol"}) {
    const int at = Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QString::fromLatin1(name));
    Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(at, true);
  }
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("hi"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  const std::filesystem::path settings = HivePath();

  bool sending = false;
  bool sent = false;
  int closings = 0;
  bool closedWhileSending = false;
  TFileStamp savedAtClose;
  app::TSignalWatcher watcher([&w](int) { w.close(); });
  QObject::connect(&w, &app::TPlingFrm::Closed, &w, [&] {
    ++closings;
    closedWhileSending = sending;
    savedAtClose = Stamp(settings);
    FTransport->Let();  // the machine answers after all; the send ends
  });
  QObject::connect(&w, &app::TPlingFrm::Closed, qApp, &QApplication::quit, Qt::QueuedConnection);
  QObject::connect(qApp, &QCoreApplication::aboutToQuit, &w, [&w] { w.close(); });
  std::atomic<bool> signalled{false};
  FTransport->OnWrite = [&signalled] {
    if (!signalled.exchange(true)) kill(getpid(), SIGTERM);
  };
  QTimer::singleShot(0, &w, [&] {
    sending = true;
    Action(w, "Send1")->trigger();
    sending = false;
    sent = true;
  });
  QApplication::exec();

  EXPECT_TRUE(sent) << "the send ran to its end";
  EXPECT_EQ(closings, 1);
  EXPECT_TRUE(closedWhileSending) << "the window closes inside the send's nested loop";
  ASSERT_NE(savedAtClose.inode, ino_t{0}) << "the settings were written when the window closed";
  // Nothing changes the stored state after that save; a second one would show.
  w.close();
  QApplication::processEvents();
  EXPECT_EQ(Stamp(settings), savedAtClose) << "written once";
  EXPECT_EQ(Store()->ReadText("Receivers", "NAME0", ""), "Bob+") << "the window's state";
  EXPECT_EQ(Store()->ReadText("Receivers", "NAME1", ""), "Carol+");
}

}  // namespace
}  // namespace pling::testing
