// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtbridge/DesignPixels.h"

#include <QWidget>

#include "qtbridge/MulDiv.h"

namespace pling::qtbridge {

int ScaleDesignPixels(int value, const QWidget& widget) {
  return MulDiv(value, widget.logicalDpiY(), 96);
}

}  // namespace pling::qtbridge
