// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Widget tests of the main window: one application object for the test program
// (offscreen unless the environment chooses a platform), the Qt main-thread call
// installed, a fresh configuration folder per test, and the error message boxes
// caught instead of shown.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "about/GradientFill.h"
#include "app/Accessibility.h"
#include "app/PlingApplication.h"
#include "app/PlingFrmUnit.h"
#include "app/QtMainThread.h"
#include "mailslot/lxMailSlot.h"
#include "private_network.h"
#include "qt_environment.h"
#include "qtbridge/AnsiText.h"
#include "qtbridge/DesignPixels.h"
#include "qtbridge/FormSizerFilter.h"
#include "qtbridge/QtFont.h"
#include "runtime/main_thread.h"
#include "settings/Megares.h"
#include "temp_config.h"
#include "tray/TrayIcon.h"
#include "tray/fake_shell.h"

namespace pling::testing {

// The window's menus and their actions are its own; a test reaches them by their
// object names, as the window names them. A missing one fails the test.
inline QAction* Action(const QObject& window, const char* name) {
  auto* found = window.findChild<QAction*>(QString::fromLatin1(name));
  if (found == nullptr) ADD_FAILURE() << "no action " << name;
  return found;
}
inline QMenu* Menu(const QObject& window, const char* name) {
  auto* found = window.findChild<QMenu*>(QString::fromLatin1(name));
  if (found == nullptr) ADD_FAILURE() << "no menu " << name;
  return found;
}

// So are its controls and its status timer: a test reaches each by its object
// name and class (`Widget<app::TListBox>(w, "ReceiversLbx")`). A missing one
// ends the test with an exception that names it, before anything can use it.
template <typename T>
T* ChildNamed(const QObject& window, const char* name) {
  auto* found = window.findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) {
    throw std::logic_error(std::string("no ") + T::staticMetaObject.className() + " named " + name +
                           " in the window");
  }
  return found;
}
template <typename T>
T* Widget(const QObject& window, const char* name) {
  static_assert(std::is_base_of_v<QWidget, T>,
                "Widget<T> finds controls; ChildNamed<T> any object");
  return ChildNamed<T>(window, name);
}
inline QTimer* Timer(const QObject& window, const char* name) {
  return ChildNamed<QTimer>(window, name);
}
// Delivers the timer's timeout at once, as when its interval ends.
inline void Expire(QTimer* timer) {
  if (!QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection))
    ADD_FAILURE() << "the timer " << timer->objectName().toStdString() << " did not time out";
}

class AppEnvironment : public QtEnvironment {
 public:
  AppEnvironment() : QtEnvironment("pling_app_tests") {}
  void SetUp() override {
    QtEnvironment::SetUp();
    QApplication::setApplicationName(QStringLiteral("Pling"));
    QApplication::setQuitOnLastWindowClosed(false);
    qtbridge::InstallFontSubstitutions();
    FMainThread = std::make_shared<app::TQtMainThread>();
    runtime::SetMainThread(FMainThread);
    app::InstallApplicationErrorHandler();
  }
  void TearDown() override {
    runtime::SetMainThread(nullptr);
    FMainThread->Shutdown();
    FMainThread.reset();
    QtEnvironment::TearDown();
  }

 protected:
  std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv) override {
    return std::make_unique<app::TPlingApplication>(argc, argv);
  }

 private:
  std::shared_ptr<app::TQtMainThread> FMainThread;
};

class AppTest : public TempConfigTest {
 protected:
  void SetUp() override {
    TempConfigTest::SetUp();
    app::SetMessageBoxFunction([this](QWidget*, const QString& text) { FMessages << text; });
    // The question when the settings cannot be saved at exit: the test's answers
    // in turn, then "End without saving".
    app::SetExitQuestionFunction([this](QWidget*, const QString& text) {
      FExitQuestions << text;
      if (FExitAnswers.empty()) return app::TExitSaveChoice::EndWithout;
      const std::function<app::TExitSaveChoice()> answer = FExitAnswers.front();
      FExitAnswers.pop_front();
      return answer();
    });
  }
  void TearDown() override {
    FWindow.reset();
    app::SetMessageBoxFunction(nullptr);
    app::SetExitQuestionFunction(nullptr);
    TempConfigTest::TearDown();
  }

  // A new main window, as the program makes it at start, with a notification
  // area of the test's (there or not).
  app::TPlingFrm& Start(bool trayAvailable = true) {
    FWindow.reset();
    FShellRecord = {};
    auto shell = std::make_unique<tray::testing::FakeShell>(FShellRecord);
    shell->Available = trayAvailable;
    FShell = shell.get();
    FWindow = std::make_unique<app::TPlingFrm>(nullptr, std::move(shell));
    // What the window leaves for its first turn of the event loop (the report of
    // problems found at the start).
    QCoreApplication::sendPostedEvents(FWindow.get(), QEvent::MetaCall);
    return *FWindow;
  }
  // Closes the window (saving its settings) and destroys it (saving its bounds).
  void Stop() {
    if (!FWindow) return;
    FWindow->close();
    FWindow.reset();
    FShell = nullptr;
  }
  app::TPlingFrm& Window() { return *FWindow; }

  // The settings store as the program configures it.
  static std::unique_ptr<settings::TMegaRegistry> Store() {
    auto store = std::make_unique<settings::TMegaRegistry>(nullptr);
    settings::ConfigureProgramStore(*store);
    store->OpenBackEnd();
    return store;
  }

  static bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    return QTest::qWaitFor(done, timeoutMs);
  }

  QStringList FMessages;
  QStringList FExitQuestions;
  std::deque<std::function<app::TExitSaveChoice()>> FExitAnswers;
  tray::testing::ShellRecord FShellRecord;
  tray::testing::FakeShell* FShell = nullptr;  // owned by the window's tray icon
  std::unique_ptr<app::TPlingFrm> FWindow;
};

}  // namespace pling::testing
