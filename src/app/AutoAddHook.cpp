// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AutoAddHook.h"

#include "app/Controls.h"
#include "qtbridge/AnsiText.h"

namespace pling::app {

void TrackAutoAddUse(TListBox& list, TAutoAddRule& rule) {
  QObject::connect(&list, &QListWidget::itemSelectionChanged, &list, [&list, &rule] {
    for (const QListWidgetItem* item : list.selectedItems())
      rule.Used(qtbridge::ToAnsi(item->text()));
  });
}

}  // namespace pling::app
