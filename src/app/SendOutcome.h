// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the status line says of a send that did not reach every receiver.
#include <QString>
#include <QStringList>

namespace pling::app {

// "Not sent to NAMES: WHY", the receivers grouped by the reason they were not
// reached, groups in the order of their first receiver and separated by "; ".
// `reasons` goes with `names` one for one; a receiver without a reason is named
// without one.
QString NotSentText(const QStringList& names, const QStringList& reasons);

}  // namespace pling::app
