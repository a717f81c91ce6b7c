// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The launcher's side of a start: the desktop shows a busy cursor (X11 startup
// notification) or waits to raise the window (Wayland activation) until the
// program says it has started. A later start that only brings the first one's
// window forward has no window of its own to say so with: it ends the X11
// startup notification itself and hands the Wayland activation token on to the
// first one (SingleInstance.h), which raises its window with it.
#include <string>

class QWidget;

namespace pling::app {

// The Wayland activation token this start was given (XDG_ACTIVATION_TOKEN),
// taken out of the environment; empty when there is none.
std::string TakeActivationToken();

// Ends the X11 startup notification this start was given (DESKTOP_STARTUP_ID,
// taken out of the environment), so that the launcher's busy cursor stops;
// nothing without one or without an X display.
void EndStartupNotification();

// The X11 startup notification message that ends the start `startupId`, with
// its closing zero byte: remove: ID="..." (quotes and backslashes escaped).
std::string StartupRemoveMessage(const std::string& startupId);

// Asks that `window`, just shown, get the keyboard, with the activation token
// the launcher gave (`token`, empty for none). On Wayland the request waits until
// the window's first picture is with the compositor: a compositor may disregard
// the activation of a surface that it does not show yet, and the token, good for
// one request, would be spent on nothing. Qt's Wayland platform takes the token
// from the environment (XDG_ACTIVATION_TOKEN) when the window asks to be
// activated; it is put there only then, so that no other request, such as that
// of a message box, uses it.
void ActivateShownWindow(QWidget& window, const std::string& token);

// Brings `window` to the front, out of the notification area too, and activates
// it with `token` (as ActivateShownWindow does).
void BringForward(QWidget& window, const std::string& token);

}  // namespace pling::app
