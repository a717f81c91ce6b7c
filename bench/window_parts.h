// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's controls, menus and actions are its own: a benchmark reaches
// them by their object names, as the tests do. A missing one ends the benchmark
// with a message that names it.
#include <QObject>
#include <QString>
#include <cstdio>
#include <cstdlib>

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

}  // namespace pling::bench
