// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The launcher's side of a start: the desktop shows a busy cursor (X11 startup
// notification) or waits to raise the window (Wayland activation) until the
// program says it has started. A later start that only brings the first one's
// window forward has no window of its own to say so with: it ends the X11
// startup notification itself and hands the Wayland activation token on to the
// first one (SingleInstance.h), which raises its window with it.
#include <string>

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

// Lets the window that comes forward next use `token` for its activation (the
// environment variable Qt's Wayland platform reads when a window asks to be
// activated); nothing for an empty token.
void UseActivationToken(const std::string& token);

}  // namespace pling::app
