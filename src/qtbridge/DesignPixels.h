// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Lengths the forms were designed with, at 96 dots per inch, on the screen a
// widget is on.

class QWidget;

namespace pling::qtbridge {

// A design-time length at 96 dots per inch, in pixels of the widget's screen.
int ScaleDesignPixels(int value, const QWidget& widget);

}  // namespace pling::qtbridge
