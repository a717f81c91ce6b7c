// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object: errors that reach the event loop are shown in a
// message box and the program goes on; termination signals close the main
// window the ordinary way.
#include <QApplication>
#include <QObject>
#include <QString>
#include <exception>
#include <functional>

class QSocketNotifier;

namespace pling::app {

class TPlingApplication : public QApplication {
  Q_OBJECT
 public:
  TPlingApplication(int& argc, char** argv);

  // Delivers an event; an exception that escapes its handler is shown and
  // delivery goes on.
  bool notify(QObject* receiver, QEvent* event) override;
};

// The message box that shows errors (text only, an OK button). Replaceable, so
// that tests can see what would be shown without a modal box.
using TMessageBoxFn = std::function<void(QWidget* parent, const QString& text)>;
void SetMessageBoxFunction(TMessageBoxFn fn);  // an empty function restores the box
void ShowErrorMessage(QWidget* parent, const QString& text);
// The message of an exception, as the user sees it.
QString ExceptionMessage(const std::exception_ptr& error);
// The core's application error handler shows the error's message.
void InstallApplicationErrorHandler();

// Turns SIGTERM, SIGINT and SIGHUP (unless ignored at start) into a call on the
// main thread (through a pipe that the signal handler writes to), once per
// signal. One watcher per process.
class TSignalWatcher : public QObject {
  Q_OBJECT
 public:
  explicit TSignalWatcher(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
  ~TSignalWatcher() override;

 private:
  void ReadSignals();

  std::function<void(int)> FOnSignal;
  int FPipe[2] = {-1, -1};
  QSocketNotifier* FNotifier = nullptr;
  bool FWatchesHangUp = false;
};

}  // namespace pling::app
