// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's controls, menus and actions are its own: a benchmark reaches
// them by their object names, as the tests do. A missing one ends the benchmark
// with a message that names it.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace pling::bench {

template <typename T>
T* Part(const QObject& window, const char* name) {
  auto* found = window.findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) {
    std::fprintf(stderr, "no %s named %s in the window\n", T::staticMetaObject.className(), name);
    std::abort();
  }
  return found;
}

// Runs the event loop until done() or until `limitMs` have passed, sleeping
// while no event is due: done() is looked at after each turn of the loop, and a
// timer every `wakeMs` makes a turn when nothing else does. (processEvents with a
// time and WaitForMoreEvents does not wait: it returns at once when nothing is
// pending, and a loop around it spins a core.)
inline void RunEventsUntil(const std::function<bool()>& done, qint64 limitMs, int wakeMs = 50) {
  QTimer wake;
  wake.start(wakeMs);
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < limitMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace pling::bench
