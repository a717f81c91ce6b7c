// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The message history's items in the Start menu: "History..." (the History
// window, Ctrl+F) and "Keep history", a check item that switches the history on
// and off at once and stores the choice (History in [Settings]).
class QAction;
class QMenu;
class QWidget;

namespace pling::app {

class THistoryLog;

// Adds both items to `menu`; returns "Keep history" (object name KeepHistory1).
// Its check mark follows the log (THistoryLog::EnabledChanged).
QAction* AddHistoryItems(QMenu& menu, QWidget& window, THistoryLog& log);

}  // namespace pling::app
