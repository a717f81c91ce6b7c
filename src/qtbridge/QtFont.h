// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fonts of the core (settings::TFont) on Qt: the face names the stored fonts
// carry, the panes' design font, and the conversion both ways.
#include <QFont>
#include <initializer_list>

#include "settings/font.h"

namespace pling::qtbridge {

// Makes the old face names of the stored fonts ("MS Sans Serif" and its kin)
// reach the desktop's own faces. Call once after the application object exists.
void InstallFontSubstitutions();

// The Qt font for a core font (face, points, styles; the colour is applied
// separately, as the text colour of the widget that shows it).
QFont ToQFont(const settings::TFont& font);
// The panes' design font ("MS Sans Serif", 8 points) in `styles`.
settings::TFont DesignFont(std::initializer_list<settings::TFontStyle> styles);
// Whether a core font is the panes' design font ("MS Sans Serif", 8 points, in
// any style and colour): a pane whose font is that one shows the desktop's.
bool IsDesignFont(const settings::TFont& font);
// The Qt font a pane shows for its core font: the desktop's general font (face
// and size, as the desktop changes them) in the font's style while it is the
// design font, else the font itself. What is stored stays the core font.
QFont DisplayFont(const settings::TFont& font);
// The core font for a Qt font, with `color` as its colour.
settings::TFont FromQFont(const QFont& font, settings::TColor color);

}  // namespace pling::qtbridge
