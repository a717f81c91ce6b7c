// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Colours of the core (settings::TColor) on Qt. An RGB colour 0x00BBGGRR is
// taken as it stands; a system colour (0x80000000 plus the system's colour
// index) is looked up in the palette at the moment of drawing, so that a theme
// change shows at the next paint.
#include <QColor>
#include <QPalette>

#include "settings/font.h"

namespace pling::qtbridge {

// Where a system colour index is found in a palette.
struct TPaletteEntry {
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

// The palette entry standing for a system colour index; false for an index that
// names no colour (such an index resolves to black, as the system reports it).
bool SystemColorEntry(unsigned index, TPaletteEntry& entry);

// The colour to draw. A system colour's index is its lowest byte. Other values
// that are not plain RGB (such as clNone) give their lowest three bytes.
QColor ResolveColor(settings::TColor color, const QPalette& palette);

// An opaque RGB colour of the core (alpha is dropped).
settings::TColor ToTColor(const QColor& color);

}  // namespace pling::qtbridge
