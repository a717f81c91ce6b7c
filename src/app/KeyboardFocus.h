// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window at the keyboard: Enter presses a button as Space does, and the
// keyboard comes back to the control that had it when a dialog over the window
// closes (a window manager need not hand the focus back to a window that lives in
// the notification area).
class QAbstractButton;
class QToolButton;
class QWidget;

namespace pling::app {

// Return and Enter on `button` (while it has the focus) click it.
void PressOnEnter(QAbstractButton& button);

// The Start button's look: down while it stands for "on", plain to see in every
// widget style, with a frame in the highlight colour while it has the keyboard
// focus; and Enter presses it.
void StyleStartButton(QToolButton& button);

// Watches the windows opened over `window` (dialogs, message boxes; not menus):
// when one closes while `window` is shown, `window` is activated again and the
// control that had the focus when the dialog opened gets it back.
void ReturnFocusAfterDialogs(QWidget& window);

}  // namespace pling::app
