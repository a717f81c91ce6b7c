// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Dialogs over the window (its own, Qt's file and colour dialogs, message boxes)
// open on the screen the window is on and fit it: as each is shown it is moved
// to that screen and, where it is larger than the screen's free area (a small
// screen, or one scaled by 2), made smaller as far as its contents allow; Qt
// then centres it over the window inside that area.
class QWidget;

namespace pling::app {

// From now on, for the dialogs opened over `window` (or, without an owner, while
// it is the active window), for as long as it lives.
void FitDialogsToScreen(QWidget& window);

}  // namespace pling::app
