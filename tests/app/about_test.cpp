// SPDX-License-Identifier: GPL-3.0-or-later
// The main window opens the About window from its Start menu and from a click
// on its logo, and the program answers --help and --version without a display.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "about/AboutFrmUnit.h"
#include "app_fixture.h"
#include "child_process.h"
#include "test_program.h"

namespace pling::testing {
namespace {

using AboutCommandTest = AppTest;

// Runs `open` and reports whether it showed a modal About window on its
// "About" page (which is then closed).
bool OpensAboutWindow(const std::function<void()>& open) {
  bool shown = false;
  QTimer::singleShot(0, [&shown] {
    auto* window = qobject_cast<about::TAboutFrm*>(QApplication::activeModalWidget());
    if (window == nullptr) return;
    shown = window->PageControl->currentWidget() == window->AboutTbs;
    window->close();
  });
  open();
  // A window that did not appear leaves the timer to run here.
  QApplication::processEvents();
  return shown;
}

TEST_F(AboutCommandTest, TheStartMenuAndTheLogoOpenTheAboutWindow) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(Action(w, "Info1")->isEnabled());
  EXPECT_TRUE(OpensAboutWindow([&] { Action(w, "Info1")->trigger(); }));
  EXPECT_TRUE(
      OpensAboutWindow([&] { QTest::mouseClick(Widget<QLabel>(w, "Image"), Qt::LeftButton); }));
  EXPECT_FALSE(
      OpensAboutWindow([&] { QTest::mouseClick(Widget<QLabel>(w, "Image"), Qt::RightButton); }));
  // Each window was released when it closed.
  const QWidgetList windows = QApplication::topLevelWidgets();
  EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                          [](QWidget* widget) { return qobject_cast<about::TAboutFrm*>(widget); }),
            0);
}

// Runs the program with `argument` and no display; its status and output (both
// streams).
std::pair<int, std::string> RunPling(const char* argument) {
  const TRunResult run =
      RunProgram("/usr/bin/env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb",
                                  TestProgram("pling"), argument});
  return {run.status, run.out + run.err};
}

TEST_F(AboutCommandTest, VersionAndHelpNeedNoDisplay) {
  const auto [versionStatus, version] = RunPling("--version");
  EXPECT_EQ(versionStatus, 0);
  EXPECT_EQ(version, "Pling 1.0.4.5\n");
  const auto [helpStatus, help] = RunPling("--help");
  EXPECT_EQ(helpStatus, 0);
  EXPECT_EQ(help.rfind("usage: pling", 0), 0u) << help;
}

}  // namespace
}  // namespace pling::testing
