// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The colour dialog of the panes, the receivers list and the font dialog. Qt's
// colour dialog cannot be made smaller than its picker and colour grids: on a
// screen too small for it (a small one, or one scaled by 2) it opens in a
// scrolling frame that fits the screen, with OK and Cancel always in sight.
#include <QColor>
#include <QString>

class QWidget;

namespace pling::app {

// The colour the user chose, starting from `initial`; an invalid colour when
// the user cancels.
QColor ChooseColor(QWidget* owner, const QColor& initial, const QString& title = QString());

}  // namespace pling::app
