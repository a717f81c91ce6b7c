// SPDX-License-Identifier: GPL-3.0-or-later
// Activation of the messenger from the window: the mailslot taken by someone
// else, a successful activation and what it reports, a stored "Active", and a
// message that reaches the received pane through the reader thread.
#include <QAction>
#include <QTimer>
#include <QToolButton>
#include <thread>

#include "app_fixture.h"
#include "mailslot/lxMailSlot.h"
#include "platform/identity.h"
#include "platform/posix/network_transport.h"

namespace pling::testing {
namespace {

using ActivationTest = AppTest;

// Another holder of the messenger mailslot.
struct OtherHolder {
  runtime::TComponent owner;
  mailslot::TlxPling& pling = owner.CreateComponent<mailslot::TlxPling>();
  OtherHolder() { pling.Open(); }
};

TEST_F(ActivationTest, ActivationWhileTheMailslotIsTakenShowsTheErrorAndStaysInactive) {
  OtherHolder other;
  app::TPlingFrm& w = Start();
  Action(w, "Activate1")->trigger();
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("Mailslot allready exists"));
  EXPECT_TRUE(Timer(w, "StatusTmr")->isActive()) << "shown for the status interval";
  EXPECT_FALSE(w.Messenger().Active());
  EXPECT_FALSE(Widget<QToolButton>(w, "StartBtn")->isChecked());
  EXPECT_EQ(Action(w, "Activate1")->text(), QStringLiteral("Activate"));
  EXPECT_TRUE(FMessages.isEmpty()) << "mailslot errors go to the status line, not a box";
}

TEST_F(ActivationTest, ActivationReportsUserAndComputerAndDeactivationReportsToo) {
  app::TPlingFrm& w = Start();
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  EXPECT_TRUE(Widget<QToolButton>(w, "StartBtn")->isChecked());
  EXPECT_EQ(Action(w, "Activate1")->text(), QStringLiteral("Deactivate"));
  const QString expected =
      QStringLiteral("Activated for %1 on %2")
          .arg(qtbridge::FromAnsi(app::TPlingFrm::CapitalizeName(platform::GetUserName())),
               qtbridge::FromAnsi(app::TPlingFrm::CapitalizeName(platform::GetComputerName())));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), expected);
  // A second holder is refused while the window listens.
  runtime::TComponent owner;
  auto& second = owner.CreateComponent<mailslot::TlxPling>();
  EXPECT_THROW(second.Open(), mailslot::ElxMailSlot);

  Action(w, "Activate1")->trigger();
  EXPECT_FALSE(w.Messenger().Active());
  EXPECT_FALSE(Widget<QToolButton>(w, "StartBtn")->isChecked());
  EXPECT_EQ(Action(w, "Activate1")->text(), QStringLiteral("Activate"));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Deactivated"));
  EXPECT_NO_THROW(second.Open());
}

TEST_F(ActivationTest, CapitalizeNameChangesOnlyAsciiLetters) {
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("JSMITH"), "Jsmith");
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("office1"), "Office1");
  EXPECT_EQ(app::TPlingFrm::CapitalizeName(""), "");
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("\xE9RIC"), "\xE9ric");  // é stays lower case
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("\xC9RIC"), "\xC9ric");
}

TEST_F(ActivationTest, StoredActiveListensAtStartAndIsSavedAgain) {
  Store()->WriteBool("Settings", "Active", true);
  {
    app::TPlingFrm& w = Start();
    EXPECT_TRUE(w.Messenger().Active());
    EXPECT_EQ(Action(w, "Activate1")->text(), QStringLiteral("Deactivate"));
    EXPECT_TRUE(Widget<QToolButton>(w, "StartBtn")->isChecked());
    Stop();
  }
  EXPECT_TRUE(Store()->ReadBool("Settings", "Active", false));
  {
    // Someone else holds the mailslot at the next start: the error shows in the
    // status line, the window stays inactive and saves that.
    OtherHolder other;
    app::TPlingFrm& w = Start();
    EXPECT_FALSE(w.Messenger().Active());
    EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
              QStringLiteral("Mailslot allready exists"));
    EXPECT_EQ(Action(w, "Activate1")->text(), QStringLiteral("Activate"));
    Stop();
  }
  EXPECT_FALSE(Store()->ReadBool("Settings", "Active", true));
  EXPECT_TRUE(FMessages.isEmpty());
}

TEST_F(ActivationTest, AMessageReachesTheReceivedPaneThroughTheReaderThread) {
  app::TPlingFrm& w = Start();
  Action(w, "Timestamps1")->trigger();  // off: the pane holds only the message lines
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  ASSERT_TRUE(mailslot::WriteMailSlot(".", mailslot::MessengerSlotName,
                                      mailslot::EncodeMessengerDatagram("ALICE", "BOB", "hello")));
  ASSERT_TRUE(
      WaitFor([&] { return !Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().isEmpty(); }));
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText(),
            QStringLiteral("ALICE to BOB : hello"));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Incoming"));
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(), QStringList{QStringLiteral("Alice")})
      << "automatic add";
  // The same message again (another protocol) is shown once; another one is shown.
  ASSERT_TRUE(mailslot::WriteMailSlot(".", mailslot::MessengerSlotName,
                                      mailslot::EncodeMessengerDatagram("ALICE", "BOB", "hello")));
  ASSERT_TRUE(mailslot::WriteMailSlot(".", mailslot::MessengerSlotName,
                                      mailslot::EncodeMessengerDatagram("carol", "BOB", "hi")));
  ASSERT_TRUE(WaitFor([&] {
    return Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().contains(QStringLiteral("hi"));
  }));
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText(),
            QStringLiteral("ALICE to BOB : hello\ncarol to BOB : hi"));
  // Closing while listening lets go of the mailslot.
  Stop();
  OtherHolder other;
  EXPECT_TRUE(other.pling.Active());
}

}  // namespace
}  // namespace pling::testing

namespace pling::testing {
namespace {

TEST_F(ActivationTest, ClosingWhileDeliveriesAreUnderWayNeitherHangsNorDeliversToTheGoneWindow) {
  app::TPlingFrm& w = Start();
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(mailslot::WriteMailSlot(
        ".", mailslot::MessengerSlotName,
        mailslot::EncodeMessengerDatagram("ALICE", "BOB", "message " + std::to_string(i))));
  }
  // The reader thread now waits on a delivery that the main thread has not served.
  QTest::qSleep(50);
  Stop();
  // Whatever was queued for the window does nothing now.
  QTest::qWait(100);
  EXPECT_EQ(mailslot::TlxMailSlotWaitThread::RunningCount(), 0);
}

}  // namespace
}  // namespace pling::testing

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMessageBox>
#include <cstdlib>

#include "app/NetworkStatus.h"
#include "runtime/unique_fd.h"

namespace pling::testing {
namespace {

// Another program (say Samba) holding the NetBIOS ports: the window listens all
// the same, and says once, over itself, what it cannot receive; the status line,
// its tooltip and what a screen reader is told name every port that was refused.
TEST_F(ActivationTest, PortsHeldByAnotherProgramAreAllNamedOnceOverTheWindow) {
  if (!OnlyLoopback()) GTEST_SKIP() << "needs a network namespace of its own (root)";
  struct Port {
    int fd;
    ~Port() { close(fd); }
  };
  std::vector<std::unique_ptr<Port>> held;
  for (const auto& [type, number] :
       {std::pair{SOCK_DGRAM, 137}, std::pair{SOCK_DGRAM, 138}, std::pair{SOCK_STREAM, 139}}) {
    held.push_back(std::unique_ptr<Port>(new Port{socket(AF_INET, type, 0)}));
    ASSERT_GE(held.back()->fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(number));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(held.back()->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && listen(held.back()->fd, 4) != 0))
      GTEST_SKIP() << "cannot hold port " << number << " here: " << std::strerror(errno);
  }
  const NetworkOnInThisNamespace network;

  app::TPlingFrm& w = Start();
  // Activated before the window is on screen, as with "Active" stored.
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active()) << "local mailslots work without the port";
  auto boxes = [&] { return w.findChildren<QMessageBox*>(QStringLiteral("NetworkProblemBox")); };
  ASSERT_TRUE(WaitFor([&] { return !boxes().isEmpty(); }));
  ASSERT_EQ(boxes().size(), 1);
  QMessageBox* box = boxes().front();
  EXPECT_FALSE(box->isVisible()) << "the box waits until the window is placed";
  const QString brief =
      QStringLiteral("Receiving from this computer only: UDP 137 and 138, TCP 139 in use");
  EXPECT_EQ(Widget<QLabel>(w, "AnnouncementText")->text(), brief) << "read out as it is found";

  w.setGeometry(40, 30, 520, 430);
  w.show();
  ASSERT_TRUE(WaitFor([&] { return box->isVisible(); }));
  EXPECT_FALSE(box->isModal());
  EXPECT_EQ(box->text(),
            QStringLiteral("Messages from other computers cannot be received: another program "
                           "(such as Samba) holds UDP ports 137 and 138, and TCP port 139."));
  EXPECT_LE((box->frameGeometry().center() - w.frameGeometry().center()).manhattanLength(), 4);
  Expire(Timer(w, "StatusTmr"));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), brief);
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->toolTip(), box->text());

  // Opening the mailslot again reports nothing new, and reads nothing out again.
  Widget<QLabel>(w, "AnnouncementText")->clear();
  Action(w, "Activate1")->trigger();
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  // The ports are tried anew; what that finds reaches the window as a posted call.
  ASSERT_TRUE(WaitFor([] { return !app::NetworkProblemText().isEmpty(); }));
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(boxes().size(), 1);
  EXPECT_NE(Widget<QLabel>(w, "AnnouncementText")->text(), brief);
}

// A window that could not receive from other computers (the ports were taken)
// receives once they come free, as when a holder of the ports starts after it,
// without being started again: its status line says so and the box goes.
TEST_F(ActivationTest, AWindowThatCouldNotReceiveSaysSoOnceItCan) {
  if (!OnlyLoopback()) GTEST_SKIP() << "needs a network namespace of its own (root)";
  runtime::TUniqueFd port(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(138);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(port.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    GTEST_SKIP() << "cannot bind UDP port 138 here";
  const NetworkOnInThisNamespace network;

  app::TPlingFrm& w = Start();
  w.show();
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  ASSERT_FALSE(app::NetworkProblemText().isEmpty());
  auto* status = Widget<app::TColorLabel>(w, "StatusLbl");
  EXPECT_NE(status->text(), app::kReceivingFromOthers);

  port.Reset();
  EXPECT_TRUE(WaitFor([&] { return status->text() == app::kReceivingFromOthers; }, 30000))
      << status->text().toStdString();
  EXPECT_TRUE(app::NetworkProblemText().isEmpty());
  EXPECT_TRUE(WaitFor(
      [&] { return w.findChildren<QMessageBox*>(QStringLiteral("NetworkProblemBox")).isEmpty(); }));
}

// What the network says about this machine's names arrives on a thread of the
// transport's: each is shown once, in one box over the window that collects
// them, and briefly in the status line; once the window is gone nothing is shown.
TEST_F(ActivationTest, NoticesAboutOurNamesAreShownOnceInOneBoxAndTheStatusLine) {
  app::TPlingFrm& w = Start();
  w.setGeometry(40, 30, 520, 430);
  w.show();
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  const auto tell = [](const std::string& text, const std::string& brief) {
    std::thread([=] { platform::TellNameNotice({text, brief}); }).join();
  };
  auto boxes = [&] { return w.findChildren<QMessageBox*>(QStringLiteral("NameNoticeBox")); };
  tell("Another computer (10.0.0.7) already holds the name TESTBOB on the network.",
       "Name TESTBOB is in use by 10.0.0.7");
  ASSERT_TRUE(WaitFor([&] { return boxes().size() == 1 && boxes().front()->isVisible(); }));
  EXPECT_FALSE(boxes().front()->isModal());
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("Name TESTBOB is in use by 10.0.0.7"));
  EXPECT_TRUE(Timer(w, "StatusTmr")->isActive());

  tell("The WINS server 10.0.0.1 does not answer.", "WINS server 10.0.0.1 does not answer");
  tell("Another computer (10.0.0.7) already holds the name TESTBOB on the network.",
       "Name TESTBOB is in use by 10.0.0.7");
  ASSERT_TRUE(WaitFor([&] {
    return Widget<app::TColorLabel>(w, "StatusLbl")->text().startsWith(QStringLiteral("WINS"));
  }));
  QTest::qWait(100);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes().front()->text(),
            QStringLiteral("Another computer (10.0.0.7) already holds the name TESTBOB on the "
                           "network.\n\nThe WINS server 10.0.0.1 does not answer."));
  // Opening the mailslot again adds no second watcher.
  Action(w, "Activate1")->trigger();
  Action(w, "Activate1")->trigger();
  tell("Third notice.", "Third");
  ASSERT_TRUE(WaitFor(
      [&] { return Widget<app::TColorLabel>(w, "StatusLbl")->text() == QStringLiteral("Third"); }));
  QTest::qWait(100);
  EXPECT_EQ(boxes().front()->text().count(QStringLiteral("Third notice.")), 1);
}

TEST_F(ActivationTest, NoticesWhileNoWindowWatchesAreShownByTheNextOne) {
  app::TPlingFrm& first = Start();
  Action(first, "Activate1")->trigger();
  ASSERT_TRUE(first.Messenger().Active());
  Stop();
  // Nobody to show it to: nothing runs for it (the window's watcher is gone).
  std::thread([] { platform::TellNameNotice({"Told while no window was there.", "-"}); }).join();
  app::TPlingFrm& second = Start();
  Action(second, "Activate1")->trigger();
  auto boxes = [&] { return second.findChildren<QMessageBox*>(QStringLiteral("NameNoticeBox")); };
  ASSERT_TRUE(WaitFor([&] { return boxes().size() == 1; }));
  EXPECT_TRUE(boxes().front()->text().contains(QStringLiteral("Told while no window was there.")))
      << boxes().front()->text().toStdString();
}

}  // namespace
}  // namespace pling::testing
