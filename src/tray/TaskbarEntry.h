// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether a top-level window has an entry in the desktop's task bar (and pager and
// window switcher). A program that lives in the notification area while minimised
// drops the entry only while a notification area is there (see
// TTrayIcon::TrayAvailable), so that a minimised window can always be reached.
//
// On X11 the window carries _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER:
// a shown window asks the window manager, and every showing sets them again before
// the window is mapped (a window manager drops the state of a withdrawn window).
// Elsewhere the window becomes a tool window (Qt::Tool); a shown window is shown
// again after the change.
class QWidget;

namespace pling::tray {

void SetTaskbarEntry(QWidget& window, bool shown);
// What SetTaskbarEntry last asked for; true for a window it was never used on.
bool TaskbarEntry(const QWidget& window);

}  // namespace pling::tray
