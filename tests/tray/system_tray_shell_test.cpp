// SPDX-License-Identifier: GPL-3.0-or-later
// The real notification area shell on QSystemTrayIcon: activations become the
// component's mouse events, and the icon is shown only once it is wanted at the end
// of an event-loop turn.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "tray/SystemTrayShell.h"
#include "tray/TaskbarEntry.h"
#include "tray/TrayIcon.h"

namespace pling::tray {
namespace {

QIcon SolidIcon(QRgb color) {
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(color);
  return QIcon(QPixmap::fromImage(image));
}

class SystemTrayShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Pling"));
    QGuiApplication::setWindowIcon(SolidIcon(0xff00ff00));
    auto shell = std::make_unique<TSystemTrayShell>();
    Shell = shell.get();
    Tray = std::make_unique<TTrayIcon>(nullptr, std::move(shell));
    Tray->OnClick = [this](TComponent&) { Log.push_back("Click"); };
    Tray->OnDblClick = [this](TComponent&) { Log.push_back("DblClick"); };
    Tray->OnMouseDown = [this](TComponent&, TMouseButton button, TShiftState, int, int) {
      Log.push_back("Down " + std::to_string(static_cast<int>(button)));
    };
    Tray->OnMouseUp = [this](TComponent&, TMouseButton button, TShiftState, int, int) {
      Log.push_back("Up " + std::to_string(static_cast<int>(button)));
    };
  }
  void TearDown() override { QGuiApplication::setWindowIcon(QIcon()); }

  void Activate(QSystemTrayIcon::ActivationReason reason) {
    emit const_cast<QSystemTrayIcon&>(Shell->SystemTrayIcon()).activated(reason);
  }
  bool Shown() const { return Shell->SystemTrayIcon().isVisible(); }

  TSystemTrayShell* Shell = nullptr;
  std::unique_ptr<TTrayIcon> Tray;
  std::vector<std::string> Log;
};

TEST_F(SystemTrayShellTest, ActivationsBecomeMouseEventsInTheOrderOfAMouse) {
  Activate(QSystemTrayIcon::Trigger);
  Activate(QSystemTrayIcon::DoubleClick);
  Activate(QSystemTrayIcon::MiddleClick);
  Activate(QSystemTrayIcon::Context);
  Activate(QSystemTrayIcon::Unknown);
  const std::vector<std::string> expected = {
      "Down 0",   "Click", "Up 0",  // a click
      "DblClick", "Up 0",           // the second press of a double click, no second click
      "Down 2",   "Up 2",           // middle
      "Down 1",   "Up 1",           // right
  };
  EXPECT_EQ(Log, expected);
}

TEST_F(SystemTrayShellTest, AHandlerMayFreeTheComponentWhileAClickIsHandedOn) {
  Tray->OnMouseDown = [this](TComponent&, TMouseButton, TShiftState, int, int) {
    Log.push_back("Down");
    Tray.reset();  // frees the shell as well
  };
  Activate(QSystemTrayIcon::Trigger);
  EXPECT_EQ(Log, std::vector<std::string>{"Down"});
  QCoreApplication::processEvents();
}

TEST_F(SystemTrayShellTest, TheIconIsShownAtTheEndOfTheTurnThatWantsIt) {
  // Shown at construction and taken out again in the same turn, as the main window
  // does while it loads: it never appears.
  Tray->SetActive(false);
  QCoreApplication::processEvents();
  EXPECT_FALSE(Shown());

  Tray->SetActive(true);
  EXPECT_FALSE(Shown());
  QCoreApplication::processEvents();
  EXPECT_TRUE(Shown());
  EXPECT_EQ(Shell->SystemTrayIcon().toolTip(), QStringLiteral("Pling"));

  Tray->SetHint(QStringLiteral("x"));
  Tray->SetHint(QString());
  EXPECT_TRUE(Shell->SystemTrayIcon().toolTip().isEmpty());
  const QIcon incoming = SolidIcon(0xffff0000);
  Tray->SetIcon(incoming);
  EXPECT_EQ(Shell->SystemTrayIcon().icon().cacheKey(), incoming.cacheKey());

  Tray->SetActive(false);  // at once, as at the end of the program
  EXPECT_FALSE(Shown());
}

TEST_F(SystemTrayShellTest, AnIconWithoutImageWaitsForOne) {
  Tray.reset();
  QGuiApplication::setWindowIcon(QIcon());
  auto shell = std::make_unique<TSystemTrayShell>();
  Shell = shell.get();
  Tray = std::make_unique<TTrayIcon>(nullptr, std::move(shell));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Tray->Active());
  EXPECT_FALSE(Shown());
  Tray->SetIcon(SolidIcon(0xff0000ff));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Shown());
}

TEST_F(SystemTrayShellTest, NoTrayHostOnTheOffscreenPlatformAndNothingToFollow) {
  EXPECT_FALSE(Tray->TrayAvailable());
  EXPECT_FALSE(Shell->Following());
}

// Away from X11 a window without task-bar entry is a tool window; a shown window
// stays shown through the change.
TEST_F(SystemTrayShellTest, ToolWindowAwayFromX11) {
  QWidget window;
  EXPECT_TRUE(TaskbarEntry(window));
  window.show();
  SetTaskbarEntry(window, false);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::Tool));
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(TaskbarEntry(window));
  SetTaskbarEntry(window, true);
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::Tool));
  EXPECT_TRUE(window.isVisible());
}

}  // namespace
}  // namespace pling::tray
