// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PlingApplication.h"

#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <stdexcept>

#include "qtbridge/AnsiText.h"
#include "runtime/main_thread.h"

namespace pling::app {

TPlingApplication::TPlingApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TPlingApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    runtime::HandleApplicationException(std::current_exception());
    return false;
  }
}

namespace {

TMessageBoxFn& MessageBoxFunction() {
  static TMessageBoxFn fn;
  return fn;
}

}  // namespace

void SetMessageBoxFunction(TMessageBoxFn fn) {
  MessageBoxFunction() = std::move(fn);
}

void ShowErrorMessage(QWidget* parent, const QString& text) {
  if (const TMessageBoxFn& fn = MessageBoxFunction()) {
    fn(parent, text);
    return;
  }
  QMessageBox::critical(parent, QApplication::applicationName(), text);
}

QString ExceptionMessage(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return qtbridge::FromAnsi(e.what());
  } catch (...) {
    return QStringLiteral("Unknown exception");
  }
}

void InstallApplicationErrorHandler() {
  runtime::SetApplicationErrorHandler([](std::exception_ptr error) {
    ShowErrorMessage(QApplication::activeWindow(), ExceptionMessage(error));
  });
}

// ---------------------------------------------------------------------------
// TSignalWatcher

namespace {

int GSignalPipe = -1;

extern "C" void WriteSignalToPipe(int signal) {
  const int savedErrno = errno;
  if (GSignalPipe >= 0) {
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up; the byte may be dropped.
    [[maybe_unused]] const ssize_t written = write(GSignalPipe, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

TSignalWatcher::TSignalWatcher(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), FOnSignal(std::move(onSignal)) {
  if (GSignalPipe >= 0) throw std::logic_error("one signal watcher per process");
  if (pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
  GSignalPipe = FPipe[1];
  FNotifier = new QSocketNotifier(FPipe[0], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { ReadSignals(); });
  struct sigaction action {};
  action.sa_handler = WriteSignalToPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // The terminal that started the program going away ends it the same way, unless
  // it was started to outlive its terminal (nohup: the signal is ignored).
  struct sigaction hangUp {};
  if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN) {
    sigaction(SIGHUP, &action, nullptr);
    FWatchesHangUp = true;
  }
}

TSignalWatcher::~TSignalWatcher() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  if (FWatchesHangUp) sigaction(SIGHUP, &action, nullptr);
  GSignalPipe = -1;
  delete FNotifier;
  close(FPipe[0]);
  close(FPipe[1]);
}

void TSignalWatcher::ReadSignals() {
  unsigned char buffer[64];
  for (;;) {
    const ssize_t count = read(FPipe[0], buffer, sizeof buffer);
    if (count <= 0) break;
    for (ssize_t i = 0; i < count; ++i) FOnSignal(buffer[i]);
  }
}

}  // namespace pling::app
