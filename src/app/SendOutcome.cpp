// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SendOutcome.h"

#include <vector>

namespace pling::app {

QString NotSentText(const QStringList& names, const QStringList& reasons) {
  struct TGroup {
    QString Why;
    QStringList Names;
  };
  std::vector<TGroup> groups;
  for (qsizetype i = 0; i < names.size(); ++i) {
    const QString why = reasons.value(i);
    auto group = groups.begin();
    while (group != groups.end() && group->Why != why) ++group;
    if (group == groups.end()) group = groups.insert(groups.end(), TGroup{why, {}});
    group->Names << names[i];
  }
  QStringList parts;
  for (const TGroup& group : groups) {
    QString part = group.Names.join(QStringLiteral(", "));
    if (!group.Why.isEmpty()) part += QStringLiteral(": ") + group.Why;
    parts << part;
  }
  return QStringLiteral("Not sent to ") + parts.join(QStringLiteral("; "));
}

}  // namespace pling::app
