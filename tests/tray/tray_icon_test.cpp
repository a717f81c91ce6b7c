// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon component against a fake notification area: showing and hiding,
// the tip rules, the order of the mouse events, the popup menu, and the minimise
// and restore hooks on a real (offscreen) window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "fake_shell.h"
#include "tray/TrayIcon.h"

namespace pling::tray {
namespace {

using testing::FakeShell;
using testing::ShellRecord;

// The hooks act once control is back in the event loop.
void Settle() {
  QCoreApplication::processEvents();
}

QIcon SolidIcon(QRgb color) {
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(color);
  return QIcon(QPixmap::fromImage(image));
}

std::string ButtonName(TMouseButton button) {
  switch (button) {
    case mbLeft:
      return "Left";
    case mbRight:
      return "Right";
    case mbMiddle:
      return "Middle";
  }
  return "?";
}

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Pling"));
    QGuiApplication::setWindowIcon(SolidIcon(0xff0000ff));
    Record.Log = &Log;
  }
  void TearDown() override { QGuiApplication::setApplicationDisplayName(QString()); }

  std::unique_ptr<TTrayIcon> Make(TComponent* owner = nullptr) {
    auto shell = std::make_unique<FakeShell>(Record);
    Shell = shell.get();
    return std::make_unique<TTrayIcon>(owner, std::move(shell));
  }

  // Every event of the component goes to the log, with its arguments.
  void LogEvents(TTrayIcon& tray) {
    tray.OnClick = [this](TComponent&) { Log.push_back("Click"); };
    tray.OnDblClick = [this](TComponent&) { Log.push_back("DblClick"); };
    tray.OnMouseMove = [this](TComponent&, TShiftState shift, int x, int y) {
      Log.push_back("Move " + std::to_string(shift) + " " + std::to_string(x) + "," +
                    std::to_string(y));
    };
    const auto mouse = [this](const char* what) {
      return [this, what](TComponent&, TMouseButton button, TShiftState shift, int x, int y) {
        Log.push_back(std::string(what) + " " + ButtonName(button) + " " + std::to_string(shift) +
                      " " + std::to_string(x) + "," + std::to_string(y));
      };
    };
    tray.OnMouseDown = mouse("Down");
    tray.OnMouseUp = mouse("Up");
  }

  // The minimise and restore hooks as the main window sets them: `Tray` serves
  // `Window`, which is shown; the icon is out while the window is.
  void ShowWindowWithTray() {
    Tray = Make();
    Tray->SetApplicationWindow(&Window);
    // As the main window loads, it takes the icon out again; the hooks stay.
    Tray->SetActive(false);
    Tray->OnMinimize = [this](TComponent&) {
      Log.push_back(Window.isVisible() ? "OnMinimize visible" : "OnMinimize hidden");
      Tray->SetActive(true);
    };
    Tray->OnRestore = [this](TComponent&) {
      Log.push_back(Window.isVisible() ? "OnRestore visible" : "OnRestore hidden");
      Tray->SetActive(false);
    };
    Tray->OnTrayAvailableChange = [this](TComponent& sender) {
      auto& tray = static_cast<TTrayIcon&>(sender);
      Log.push_back(std::string(tray.TrayAvailable() ? "tray" : "no tray") +
                    (Window.isVisible() ? " visible" : " hidden"));
    };
    Window.show();
    Log.clear();
  }

  ShellRecord Record;
  std::vector<std::string> Log;
  FakeShell* Shell = nullptr;
  QWidget Window;
  std::unique_ptr<TTrayIcon> Tray;
};

// ---------------------------------------------------------------------------
// Showing, hiding and the tip.

TEST_F(TrayIconTest, ShowsAtConstructionWithTheTitleAsTipAndHidesOnce) {
  auto tray = Make();
  EXPECT_TRUE(tray->Active());
  ASSERT_EQ(Record.Added.size(), 1u);
  EXPECT_EQ(Record.Added[0].uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  EXPECT_EQ(Record.Added[0].szTip, QStringLiteral("Pling"));
  EXPECT_EQ(Record.Added[0].hIcon.cacheKey(), QGuiApplication::windowIcon().cacheKey());

  tray->SetActive(true);  // already shown
  EXPECT_EQ(Record.Added.size(), 1u);
  tray->SetActive(false);
  tray->SetActive(false);  // already hidden
  EXPECT_FALSE(tray->Active());
  EXPECT_EQ(Record.Deleted.size(), 1u);
  tray->SetActive(true);
  EXPECT_EQ(Record.Added.size(), 2u);

  // Destruction takes the icon out whether or not it is shown.
  tray.reset();
  EXPECT_EQ(Record.Deleted.size(), 2u);
  auto hidden = Make();
  hidden->SetActive(false);
  const auto deleted = Record.Deleted.size();
  hidden.reset();
  EXPECT_EQ(Record.Deleted.size(), deleted + 1);
}

TEST_F(TrayIconTest, HintIsCutTo63CharactersAndAnEmptyHintDropsTheTip) {
  auto tray = Make();
  const QString hint(100, QLatin1Char('h'));
  tray->SetHint(hint);
  EXPECT_EQ(tray->Hint(), hint);
  ASSERT_EQ(Record.Modified.size(), 1u);
  EXPECT_EQ(Record.Modified[0].szTip, QString(63, QLatin1Char('h')));
  EXPECT_TRUE(Record.Modified[0].uFlags & NIF_TIP);

  tray->SetHint(hint);  // unchanged
  EXPECT_EQ(Record.Modified.size(), 1u);

  tray->SetHint(QString());
  ASSERT_EQ(Record.Modified.size(), 2u);
  EXPECT_EQ(Record.Modified[1].uFlags, NIF_MESSAGE | NIF_ICON);
  EXPECT_TRUE(Record.Modified[1].szTip.isEmpty());

  // A character of two UTF-16 units at the cut is left out whole.
  const QString wide = QString(62, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x98\x80") + "b";
  tray->SetHint(wide);
  EXPECT_EQ(Record.Modified.back().szTip, QString(62, QLatin1Char('a')));
}

TEST_F(TrayIconTest, EveryShowingTakesTheTitleNotTheHint) {
  auto tray = Make();
  tray->SetHint(QStringLiteral("3 new messages"));
  tray->SetActive(false);
  tray->SetActive(true);
  EXPECT_EQ(Record.Added.back().szTip, QStringLiteral("Pling"));
  EXPECT_EQ(tray->Hint(), QStringLiteral("3 new messages"));

  // A long title is cut.
  tray->SetActive(false);
  QGuiApplication::setApplicationDisplayName(QString(70, QLatin1Char('t')));
  tray->SetActive(true);
  EXPECT_EQ(Record.Added.back().szTip, QString(63, QLatin1Char('t')));
  EXPECT_TRUE(Record.Added.back().uFlags & NIF_TIP);
}

TEST_F(TrayIconTest, IconWriterChangesTheShownAndTheNextIcon) {
  auto tray = Make();
  tray->SetIcon(tray->Icon());  // its own icon
  const QIcon same = tray->Icon();
  tray->SetIcon(same);  // a copy of it
  EXPECT_TRUE(Record.Modified.empty());

  const QIcon incoming = SolidIcon(0xffff0000);
  tray->SetIcon(incoming);
  ASSERT_EQ(Record.Modified.size(), 1u);
  EXPECT_EQ(Record.Modified[0].hIcon.cacheKey(), incoming.cacheKey());
  EXPECT_EQ(Record.Modified[0].szTip, QStringLiteral("Pling"));

  tray->SetActive(false);
  tray->SetActive(true);
  EXPECT_EQ(Record.Added.back().hIcon.cacheKey(), incoming.cacheKey());
}

TEST_F(TrayIconTest, AFailedAddIsReportedAndCanBeTriedAgain) {
  auto tray = Make();
  tray->SetActive(false);
  Shell->AddResult = false;
  try {
    tray->SetActive(true);
    FAIL() << "no error";
  } catch (const EOutOfResources& error) {
    EXPECT_STREQ(error.what(), "Cannot create shell notification icon");
  }
  EXPECT_FALSE(tray->Active());
  Shell->AddResult = true;
  tray->SetActive(true);
  EXPECT_TRUE(tray->Active());
  EXPECT_EQ(Record.Added.size(), 3u);
}

TEST_F(TrayIconTest, InADesignerNothingReachesTheNotificationArea) {
  TComponent form;
  form.SetDesigning(true);
  auto tray = Make(&form);
  EXPECT_FALSE(tray->Active());
  EXPECT_TRUE(Record.Added.empty());
  // Not shown yet, so the hooks are not in place: a minimise goes unnoticed.
  QWidget window;
  bool minimized = false;
  tray->OnMinimize = [&](TComponent&) { minimized = true; };
  tray->SetApplicationWindow(&window);
  window.show();
  window.showMinimized();
  Settle();
  EXPECT_FALSE(minimized);
  EXPECT_TRUE(window.isVisible());
}

// ---------------------------------------------------------------------------
// Mouse events.

TEST_F(TrayIconTest, ClickAndDoubleClickFireInTheOrderOfTheMouse) {
  auto tray = Make();
  LogEvents(*tray);
  Shell->Keys = ssShift | ssCtrl;
  Shell->Cursor = {10, 20};
  Shell->Send(TTrayMessage::LButtonDown);
  EXPECT_TRUE(tray->Clicked());
  Shell->Cursor = {11, 21};  // read when each callback is handled
  Shell->Send(TTrayMessage::LButtonUp);
  EXPECT_FALSE(tray->Clicked());
  Shell->Keys = 0;
  Shell->Send(TTrayMessage::LButtonDblClk);
  Shell->Send(TTrayMessage::LButtonUp);  // no down since the click: no second click
  const std::vector<std::string> expected = {
      "Down Left 13 10,20",  // ssShift | ssCtrl | ssLeft
      "Click",
      "Up Left 13 11,21",
      "DblClick",
      "Up Left 8 11,21",
  };
  EXPECT_EQ(Log, expected);
}

TEST_F(TrayIconTest, OtherButtonsAndMovement) {
  auto tray = Make();
  LogEvents(*tray);
  QMenu menu;
  tray->SetPopupMenu(&menu);  // no window to sit in the tray: the menu opens
  Shell->Cursor = {3, 4};
  Shell->Keys = ssAlt;
  Shell->Send(TTrayMessage::MouseMove);
  Shell->Send(TTrayMessage::MButtonDown);
  Shell->Send(TTrayMessage::MButtonUp);
  Shell->Send(TTrayMessage::MButtonDblClk);
  Shell->Send(TTrayMessage::RButtonDblClk);
  Shell->Send(TTrayMessage::RButtonDown);
  Shell->Send(TTrayMessage::RButtonUp);
  const std::vector<std::string> expected = {
      "Move 2 3,4", "Down Middle 34 3,4", "Up Middle 34 3,4",
      "DblClick",   "DblClick",           "Down Right 18 3,4",
      "popup",      "Up Right 18 3,4",
  };
  EXPECT_EQ(Log, expected);
}

TEST_F(TrayIconTest, PopupMenuOnlyWhileTheWindowSitsInTheTray) {
  QWidget window;
  QMenu menu;
  auto tray = Make();
  LogEvents(*tray);
  tray->SetApplicationWindow(&window);
  window.show();

  // No menu assigned: nothing.
  Shell->Send(TTrayMessage::RButtonDown);
  EXPECT_EQ(Record.Popups, 0);

  tray->SetPopupMenu(&menu);
  Shell->Send(TTrayMessage::RButtonDown);  // window visible
  EXPECT_EQ(Record.Popups, 0);

  window.showMinimized();  // into the tray
  Settle();
  ASSERT_FALSE(window.isVisible());
  Log.clear();
  Shell->Cursor = {200, 300};
  Shell->Send(TTrayMessage::RButtonDown);
  Shell->Send(TTrayMessage::RButtonUp);
  EXPECT_EQ(Record.Popups, 1);
  EXPECT_EQ(Record.PoppedMenu, &menu);
  EXPECT_EQ(Record.PoppedAt, QPoint(200, 300));
  const std::vector<std::string> expected = {"Down Right 16 200,300", "popup",
                                             "Up Right 16 200,300"};
  EXPECT_EQ(Log, expected);
  // The left and middle buttons never open it.
  Shell->Send(TTrayMessage::LButtonDown);
  Shell->Send(TTrayMessage::MButtonDown);
  EXPECT_EQ(Record.Popups, 1);
}

TEST_F(TrayIconTest, AMenuThatIsDestroyedIsNotShown) {
  auto tray = Make();
  {
    QMenu menu;
    tray->SetPopupMenu(&menu);
  }
  EXPECT_EQ(tray->PopupMenu(), nullptr);
  Shell->Send(TTrayMessage::RButtonDown);
  EXPECT_EQ(Record.Popups, 0);
}

// A handler that frees the component (as closing the program from the icon does)
// ends the handling of that callback; nothing of the component is touched after.
TEST_F(TrayIconTest, AHandlerMayFreeTheComponent) {
  QMenu menu;
  std::unique_ptr<TTrayIcon> tray;
  const auto fresh = [&] {
    tray = Make();
    LogEvents(*tray);
    tray->SetPopupMenu(&menu);
  };
  const auto freeOn = [&](std::string event) {
    return [&, event](auto&&...) {
      Log.push_back(event + " frees");
      tray.reset();
    };
  };
  fresh();
  tray->OnMouseDown = freeOn("Down");
  Shell->Send(TTrayMessage::RButtonDown);  // no menu after it
  fresh();
  tray->OnMouseDown = freeOn("Down");
  Shell->Send(TTrayMessage::LButtonDown);
  fresh();
  Shell->Send(TTrayMessage::LButtonDown);
  tray->OnClick = freeOn("Click");
  Shell->Send(TTrayMessage::LButtonUp);  // no up after it
  fresh();
  tray->OnTrayAvailableChange = freeOn("Change");
  Shell->SetAvailable(false);
  const std::vector<std::string> expected = {"Down frees", "Down frees", "Down Left 8 0,0",
                                             "Click frees", "Change frees"};
  EXPECT_EQ(Log, expected);
  EXPECT_EQ(Record.Popups, 0);
}

// ---------------------------------------------------------------------------
// The minimise and restore hooks, the way the main window uses them.

TEST_F(TrayIconTest, MinimiseHidesIntoTheTrayAndRestoreBringsItBack) {
  ShowWindowWithTray();
  Window.showMaximized();
  Settle();
  Window.showMinimized();
  Settle();
  EXPECT_FALSE(Window.isVisible());
  EXPECT_TRUE(Tray->InTray());
  EXPECT_TRUE(Tray->Active());
  EXPECT_EQ(Record.Added.size(), 2u);

  RestoreWindow(Window);  // what a double-click on the icon does
  Settle();
  EXPECT_TRUE(Window.isVisible());
  EXPECT_TRUE(Window.isMaximized());  // in the size it had
  EXPECT_FALSE(Tray->InTray());
  EXPECT_FALSE(Tray->Active());
  const std::vector<std::string> expected = {"OnMinimize hidden", "OnRestore visible"};
  EXPECT_EQ(Log, expected);

  // The session ends: the icon goes, the hooks stay.
  Window.showMinimized();
  Settle();
  Shell->Send(TTrayMessage::EndSession);
  EXPECT_FALSE(Tray->Active());
  Window.showNormal();
  Settle();
  Window.showMinimized();
  Settle();
  EXPECT_EQ(Log.size(), 5u);
}

TEST_F(TrayIconTest, AfterTheComponentIsGoneTheWindowMinimisesOnItsOwn) {
  ShowWindowWithTray();
  bool called = false;
  Tray->OnMinimize = [&](TComponent&) { called = true; };
  Tray.reset();
  Window.showMinimized();
  Settle();
  EXPECT_FALSE(called);
  EXPECT_TRUE(Window.isVisible());
}

// Without a notification area the window must not be hidden: nothing could bring
// it back.
TEST_F(TrayIconTest, WithoutATrayMinimisingKeepsTheWindowReachable) {
  ShowWindowWithTray();
  Shell->SetAvailable(false);
  Log.clear();
  Window.showMinimized();
  Settle();
  EXPECT_TRUE(Window.isVisible());
  EXPECT_TRUE(Window.isMinimized());
  EXPECT_FALSE(Tray->InTray());
  EXPECT_TRUE(Tray->Active());  // registered: it shows when a tray comes
  // No menu from an icon nobody can see while the window is reachable.
  QMenu menu;
  Tray->SetPopupMenu(&menu);
  Shell->Send(TTrayMessage::RButtonDown);
  EXPECT_EQ(Record.Popups, 0);

  // A tray appears: the minimised window moves into it, hidden before the event.
  Shell->SetAvailable(true);
  EXPECT_FALSE(Window.isVisible());
  EXPECT_TRUE(Tray->InTray());

  // It goes away again: the event comes while the window is still hidden (so its
  // task-bar entry can come back first), then the window returns minimised.
  Shell->SetAvailable(false);
  EXPECT_TRUE(Window.isVisible());
  EXPECT_TRUE(Window.isMinimized());
  EXPECT_FALSE(Tray->InTray());
  Shell->SetAvailable(false);  // no change, no event

  Window.showNormal();
  Settle();
  const std::vector<std::string> expected = {"OnMinimize visible", "tray hidden", "no tray hidden",
                                             "OnRestore visible"};
  EXPECT_EQ(Log, expected);
  EXPECT_FALSE(Tray->Active());
}

TEST_F(TrayIconTest, ATrayAppearingLeavesAShownWindowAlone) {
  ShowWindowWithTray();
  Shell->SetAvailable(false);
  Shell->SetAvailable(true);
  EXPECT_TRUE(Window.isVisible());
  EXPECT_FALSE(Tray->InTray());
  // A minimised window whose icon was taken out stays reachable too.
  Shell->SetAvailable(false);
  Tray->OnMinimize = nullptr;
  Window.showMinimized();
  Settle();
  Shell->SetAvailable(true);
  EXPECT_TRUE(Window.isVisible());
  const std::vector<std::string> expected = {"no tray visible", "tray visible", "no tray visible",
                                             "tray visible"};
  EXPECT_EQ(Log, expected);
}

}  // namespace
}  // namespace pling::tray
