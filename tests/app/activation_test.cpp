// Activation of the messenger from the window: the mailslot taken by someone
// else, a successful activation and what it reports, a stored "Active", and a
// message that reaches the received pane through the reader thread.
#include <QAction>
#include <QTimer>
#include <QToolButton>

#include "app_fixture.h"
#include "mailslot/lxMailSlot.h"
#include "platform/identity.h"

namespace pling::testing {
namespace {

// Another holder of the messenger mailslot.
struct OtherHolder {
  platform::TComponent owner;
  mailslot::TlxPling& pling = owner.CreateComponent<mailslot::TlxPling>();
  OtherHolder() { pling.Open(); }
};

TEST_F(AppTest, ActivationWhileTheMailslotIsTakenShowsTheErrorAndStaysInactive) {
  OtherHolder other;
  app::TPlingFrm& w = Start();
  w.Activate1->trigger();
  EXPECT_EQ(w.StatusLbl->text(), QStringLiteral("Mailslot allready exists"));
  EXPECT_TRUE(w.StatusTmr->isActive()) << "shown for the status interval";
  EXPECT_FALSE(w.Pling->Active());
  EXPECT_FALSE(w.StartBtn->isChecked());
  EXPECT_EQ(w.Activate1->text(), QStringLiteral("Activate"));
  EXPECT_TRUE(FMessages.isEmpty()) << "mailslot errors go to the status line, not a box";
}

TEST_F(AppTest, ActivationReportsUserAndComputerAndDeactivationReportsToo) {
  app::TPlingFrm& w = Start();
  w.Activate1->trigger();
  ASSERT_TRUE(w.Pling->Active());
  EXPECT_TRUE(w.StartBtn->isChecked());
  EXPECT_EQ(w.Activate1->text(), QStringLiteral("Deactivate"));
  const QString expected =
      QStringLiteral("Activated for %1 on %2")
          .arg(app::FromAnsi(app::TPlingFrm::CapitalizeName(platform::GetUserName())),
               app::FromAnsi(app::TPlingFrm::CapitalizeName(platform::GetComputerName())));
  EXPECT_EQ(w.StatusLbl->text(), expected);
  // A second holder is refused while the window listens.
  platform::TComponent owner;
  auto& second = owner.CreateComponent<mailslot::TlxPling>();
  EXPECT_THROW(second.Open(), mailslot::ElxMailSlot);

  w.Activate1->trigger();
  EXPECT_FALSE(w.Pling->Active());
  EXPECT_FALSE(w.StartBtn->isChecked());
  EXPECT_EQ(w.Activate1->text(), QStringLiteral("Activate"));
  EXPECT_EQ(w.StatusLbl->text(), QStringLiteral("Deactivated"));
  EXPECT_NO_THROW(second.Open());
}

TEST_F(AppTest, CapitalizeNameChangesOnlyAsciiLetters) {
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("JSMITH"), "Jsmith");
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("office1"), "Office1");
  EXPECT_EQ(app::TPlingFrm::CapitalizeName(""), "");
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("\xE9RIC"), "\xE9ric");  // é stays lower case
  EXPECT_EQ(app::TPlingFrm::CapitalizeName("\xC9RIC"), "\xC9ric");
}

TEST_F(AppTest, StoredActiveListensAtStartAndIsSavedAgain) {
  Store()->WriteBool("Settings", "Active", true);
  {
    app::TPlingFrm& w = Start();
    EXPECT_TRUE(w.Pling->Active());
    EXPECT_EQ(w.Activate1->text(), QStringLiteral("Deactivate"));
    EXPECT_TRUE(w.StartBtn->isChecked());
    Stop();
  }
  EXPECT_TRUE(Store()->ReadBool("Settings", "Active", false));
  {
    // Someone else holds the mailslot at the next start: the error shows in the
    // status line, the window stays inactive and saves that.
    OtherHolder other;
    app::TPlingFrm& w = Start();
    EXPECT_FALSE(w.Pling->Active());
    EXPECT_EQ(w.StatusLbl->text(), QStringLiteral("Mailslot allready exists"));
    EXPECT_EQ(w.Activate1->text(), QStringLiteral("Activate"));
    Stop();
  }
  EXPECT_FALSE(Store()->ReadBool("Settings", "Active", true));
  EXPECT_TRUE(FMessages.isEmpty());
}

TEST_F(AppTest, AMessageReachesTheReceivedPaneThroughTheReaderThread) {
  app::TPlingFrm& w = Start();
  w.Timestamps1->trigger();  // off: the pane holds only the message lines
  w.Activate1->trigger();
  ASSERT_TRUE(w.Pling->Active());
  ASSERT_TRUE(mailslot::WriteMailSlot(".", mailslot::MessengerSlotName,
                                      mailslot::EncodeMessengerDatagram("ALICE", "BOB", "hello")));
  ASSERT_TRUE(WaitFor([&] { return !w.ReceivedMmo->toPlainText().isEmpty(); }));
  EXPECT_EQ(w.ReceivedMmo->toPlainText(), QStringLiteral("ALICE to BOB : hello"));
  EXPECT_EQ(w.StatusLbl->text(), QStringLiteral("Incoming"));
  EXPECT_EQ(w.ReceiversLbx->Items(), QStringList{QStringLiteral("Alice")}) << "automatic add";
  // The same message again (another protocol) is shown once; another one is shown.
  ASSERT_TRUE(mailslot::WriteMailSlot(".", mailslot::MessengerSlotName,
                                      mailslot::EncodeMessengerDatagram("ALICE", "BOB", "hello")));
  ASSERT_TRUE(mailslot::WriteMailSlot(".", mailslot::MessengerSlotName,
                                      mailslot::EncodeMessengerDatagram("carol", "BOB", "hi")));
  ASSERT_TRUE(WaitFor([&] { return w.ReceivedMmo->toPlainText().contains(QStringLiteral("hi")); }));
  EXPECT_EQ(w.ReceivedMmo->toPlainText(),
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

TEST_F(AppTest, ClosingWhileDeliveriesAreUnderWayNeitherHangsNorDeliversToTheGoneWindow) {
  app::TPlingFrm& w = Start();
  w.Activate1->trigger();
  ASSERT_TRUE(w.Pling->Active());
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
