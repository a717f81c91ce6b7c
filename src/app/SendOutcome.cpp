// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SendOutcome.h"

#include <vector>

namespace pling::app {

QString NotSentText(const QStringList& names, const QStringList& reasons) {
  struct TGroup {
    QString why;
    QStringList names;
  };
  std::vector<TGroup> groups;
  for (qsizetype i = 0; i < names.size(); ++i) {
    const QString why = reasons.value(i);
    auto group = groups.begin();
    while (group != groups.end() && group->why != why) ++group;
    if (group == groups.end()) group = groups.insert(groups.end(), TGroup{why, {}});
    group->names << names[i];
  }
  QStringList parts;
  for (const TGroup& group : groups) {
    QString part = group.names.join(QStringLiteral(", "));
    if (!group.why.isEmpty()) part += QStringLiteral(": ") + group.why;
    parts << part;
  }
  return QStringLiteral("Not sent to ") + parts.join(QStringLiteral("; "));
}

}  // namespace pling::app
