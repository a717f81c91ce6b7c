// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HistorySwitch.h"

#include <QAction>
#include <QMenu>
#include <exception>

#include "app/HistoryLog.h"
#include "app/HistoryView.h"
#include "runtime/main_thread.h"

namespace pling::app {

QAction* AddHistoryItems(QMenu& menu, QWidget& window, THistoryLog& log) {
  AddHistoryCommand(menu, window, log);
  QAction* keep = menu.addAction(QStringLiteral("&Keep history"));
  keep->setObjectName(QStringLiteral("KeepHistory1"));
  keep->setCheckable(true);
  keep->setChecked(log.Settings().enabled);
  keep->setStatusTip(
      QStringLiteral("Keeps every message shown or sent in the message history, to search later"));
  QObject::connect(&log, &THistoryLog::EnabledChanged, keep, &QAction::setChecked);
  QObject::connect(keep, &QAction::triggered, &log, [&log](bool checked) {
    try {
      log.SetEnabled(checked);
    } catch (...) {
      // The switch holds for this run; the message names the settings file and
      // why it could not be written.
      runtime::HandleApplicationException(std::current_exception());
    }
  });
  return keep;
}

}  // namespace pling::app
