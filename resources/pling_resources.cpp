// SPDX-License-Identifier: GPL-3.0-or-later
#include "pling_resources.h"

#include <QtCore/QDir>
#include <QtCore/QtGlobal>

// Q_INIT_RESOURCE declares a function at namespace scope, so it is called from here.
static void initPlingPictures() {
  Q_INIT_RESOURCE(pling_pictures);
}

namespace pling {

void initResources() {
  static const bool done = [] {
    if (!QDir(QStringLiteral(":/pling")).exists()) initPlingPictures();
    return true;
  }();
  (void)done;
}

}  // namespace pling
