// SPDX-License-Identifier: GPL-3.0-or-later
// The window's life in the notification area: the two tray pictures, minimising
// into it and coming back, and the task-bar entry that only a missing tray host
// brings back.
#include <QAction>

#include "app_fixture.h"
#include "tray/TaskbarEntry.h"

namespace pling::testing {
namespace {

using TrayTest = AppTest;

bool Shows(const tray::TTrayIcon& icon, const QIcon& picture) {
  return icon.Icon().cacheKey() == picture.cacheKey();
}

TEST_F(TrayTest, TrayPicturesFollowIncomingMessagesTheStatusTimerAndTheRestore) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  Action(w, "Popup1")->trigger();  // off: the window stays where it is
  EXPECT_EQ(w.Tray().Tag(), 0);
  EXPECT_TRUE(Shows(w.Tray(), Widget<app::TIconImage>(w, "SilenceIcon")->Icon))
      << "the quiet picture at start";

  // A message while the window is shown: incoming, quiet again when the status
  // line clears.
  w.PlingMessage("BOB", "ALICE", "one");
  EXPECT_EQ(w.Tray().Tag(), 1);
  EXPECT_TRUE(Shows(w.Tray(), Widget<app::TIconImage>(w, "IncomingIcon")->Icon));
  Expire(Timer(w, "StatusTmr"));
  EXPECT_EQ(w.Tray().Tag(), 0);
  EXPECT_TRUE(Shows(w.Tray(), Widget<app::TIconImage>(w, "SilenceIcon")->Icon));

  // A message, then the window goes to the tray: the incoming picture stays
  // there after the status line cleared, until the window comes back.
  w.PlingMessage("BOB", "ALICE", "two");
  w.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return w.Tray().Active(); }));
  EXPECT_FALSE(w.isVisible()) << "hidden in the notification area";
  Expire(Timer(w, "StatusTmr"));
  EXPECT_EQ(w.Tray().Tag(), 1);
  EXPECT_TRUE(Shows(w.Tray(), Widget<app::TIconImage>(w, "IncomingIcon")->Icon));
  FShell->Send(tray::TTrayMessage::LButtonDblClk);
  ASSERT_TRUE(WaitFor([&] { return !w.Tray().Active(); }));
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.isMinimized());
  EXPECT_EQ(w.Tray().Tag(), 0);
  EXPECT_TRUE(Shows(w.Tray(), Widget<app::TIconImage>(w, "SilenceIcon")->Icon));
}

TEST_F(TrayTest, AHiddenWindowLosingItsMinimisedStateStaysInTheTray) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return w.Tray().Active(); }));
  ASSERT_FALSE(w.isVisible());
  // What a window manager does to a window it stopped managing.
  w.setWindowState(Qt::WindowNoState);
  QTest::qWait(50);
  EXPECT_FALSE(w.isVisible()) << "still in the notification area";
  EXPECT_TRUE(w.Tray().Active());
  // The icon still brings it back.
  FShell->Send(tray::TTrayMessage::LButtonDblClk);
  ASSERT_TRUE(WaitFor([&] { return !w.Tray().Active(); }));
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.isMinimized());
}

TEST_F(TrayTest, WithPopUpAMessageBringsTheWindowBackFromTheTray) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return w.Tray().Active(); }));
  w.PlingMessage("BOB", "ALICE", "wake up");
  ASSERT_TRUE(WaitFor([&] { return !w.Tray().Active(); }));
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.isMinimized());
  // Back from the tray: the quiet picture.
  EXPECT_EQ(w.Tray().Tag(), 0);
}

TEST_F(TrayTest, TheTaskBarEntryIsDroppedOnlyWhileATrayHostIsThere) {
  app::TPlingFrm& w = Start(/*trayAvailable=*/false);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_TRUE(tray::TaskbarEntry(w));
  // Without a tray host, minimising keeps the window reachable.
  w.showMinimized();
  QTest::qWait(50);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.isMinimized());
  // A tray host appears: the minimised window moves there, the entry goes.
  FShell->SetAvailable(true);
  EXPECT_FALSE(tray::TaskbarEntry(w));
  EXPECT_FALSE(w.isVisible());
  // It goes away again: entry back, window back (minimised) where it can be reached.
  FShell->SetAvailable(false);
  EXPECT_TRUE(tray::TaskbarEntry(w));
  ASSERT_TRUE(WaitFor([&] { return w.isVisible(); }));
}

TEST_F(TrayTest, TheTrayMenuIsTheStartMenu) {
  app::TPlingFrm& w = Start();
  EXPECT_EQ(w.Tray().PopupMenu(), Menu(w, "StartMnu"));
  EXPECT_FALSE(w.Tray().Active()) << "no icon while the window is shown";
  EXPECT_FALSE(tray::TaskbarEntry(w));
}

}  // namespace
}  // namespace pling::testing

namespace pling::testing {
namespace {

TEST_F(TrayTest, ExitFromTheTrayMenuClosesTheHiddenWindowAndSavesTheSettings) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QStringLiteral("Bob"));
  bool closed = false;
  QObject::connect(&w, &app::TPlingFrm::Closed, [&] { closed = true; });
  w.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return w.Tray().Active(); }));
  ASSERT_FALSE(w.isVisible());
  Action(w, "Exit1")->trigger();
  EXPECT_TRUE(closed);
  EXPECT_EQ(Store()->ReadText("Receivers", "NAME0", ""), "Bob-");
}

}  // namespace
}  // namespace pling::testing
