// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The edge between the core and Qt: text in the ANSI code page and QString,
// the core's fonts and colours and Qt's, and pixel values given at 96 dots per
// inch.
#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <string>
#include <string_view>

#include "settings/font.h"

class QWidget;

namespace pling::app {

// ANSI code page bytes to a QString and back; characters the ANSI page cannot
// hold become '?'.
QString FromAnsi(std::string_view ansi);
std::string ToAnsi(const QString& text);

// Makes the old face names of the stored fonts ("MS Sans Serif" and its kin)
// reach the desktop's own faces. Call once after the application object exists.
void InstallFontSubstitutions();

// The Qt font for a core font (face, points, styles; the colour is applied
// separately, as the text colour of the widget that shows it).
QFont ToQFont(const settings::TFont& font);
// Whether a core font is the panes' design font ("MS Sans Serif", 8 points, in
// any style and colour): a pane whose font is that one shows the desktop's.
bool IsDesignFont(const settings::TFont& font);
// The Qt font a pane shows for its core font: the desktop's general font (face
// and size, as the desktop changes them) in the font's style while it is the
// design font, else the font itself. What is stored stays the core font.
QFont DisplayFont(const settings::TFont& font);
// The core font for a Qt font, with `color` as its colour.
settings::TFont FromQFont(const QFont& font, settings::TColor color);

}  // namespace pling::app
