// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtbridge/QtColor.h"

#include <array>
#include <cstdint>

namespace pling::qtbridge {

namespace {

constexpr auto A = QPalette::Active;
constexpr auto I = QPalette::Inactive;
constexpr auto D = QPalette::Disabled;

// By system colour index, from the scroll bar (0) to the menu bar (30); index 25
// is unused.
struct TSlot {
  bool used;
  TPaletteEntry entry;
};
constexpr std::array<TSlot, 31> kSystemColors{{
    {true, {A, QPalette::Button}},           // 0 scroll bar
    {true, {A, QPalette::Dark}},             // 1 desktop background
    {true, {A, QPalette::Highlight}},        // 2 active caption
    {true, {I, QPalette::Mid}},              // 3 inactive caption
    {true, {A, QPalette::Window}},           // 4 menu
    {true, {A, QPalette::Base}},             // 5 window (background of text panes)
    {true, {A, QPalette::Shadow}},           // 6 window frame
    {true, {A, QPalette::WindowText}},       // 7 menu text
    {true, {A, QPalette::Text}},             // 8 window text
    {true, {A, QPalette::HighlightedText}},  // 9 caption text
    {true, {A, QPalette::Button}},           // 10 active border
    {true, {I, QPalette::Button}},           // 11 inactive border
    {true, {A, QPalette::Dark}},             // 12 application work space
    {true, {A, QPalette::Highlight}},        // 13 highlight
    {true, {A, QPalette::HighlightedText}},  // 14 highlighted text
    {true, {A, QPalette::Button}},           // 15 button face
    {true, {A, QPalette::Dark}},             // 16 button shadow
    {true, {D, QPalette::Text}},             // 17 grey (disabled) text
    {true, {A, QPalette::ButtonText}},       // 18 button text
    {true, {I, QPalette::WindowText}},       // 19 inactive caption text
    {true, {A, QPalette::Light}},            // 20 button highlight
    {true, {A, QPalette::Shadow}},           // 21 3-D dark shadow
    {true, {A, QPalette::Midlight}},         // 22 3-D light
    {true, {A, QPalette::ToolTipText}},      // 23 tool tip text
    {true, {A, QPalette::ToolTipBase}},      // 24 tool tip background
    {false, {A, QPalette::NoRole}},          // 25 unused
    {true, {A, QPalette::Link}},             // 26 hot-tracked item
    {true, {A, QPalette::Highlight}},        // 27 active caption gradient
    {true, {I, QPalette::Mid}},              // 28 inactive caption gradient
    {true, {A, QPalette::Highlight}},        // 29 highlighted menu item
    {true, {A, QPalette::Window}},           // 30 menu bar
}};

}  // namespace

bool SystemColorEntry(unsigned index, TPaletteEntry& entry) {
  if (index >= kSystemColors.size() || !kSystemColors[index].used) return false;
  entry = kSystemColors[index].entry;
  return true;
}

QColor ResolveColor(settings::TColor color, const QPalette& palette) {
  const auto value = static_cast<std::uint32_t>(color);
  if ((value & 0x80000000u) != 0) {
    TPaletteEntry entry{};
    if (!SystemColorEntry(value & 0xFFu, entry)) return QColor(0, 0, 0);
    QColor resolved = palette.color(entry.group, entry.role).toRgb();
    resolved.setAlpha(255);
    return resolved;
  }
  return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                static_cast<int>((value >> 16) & 0xFFu));
}

settings::TColor ToTColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<settings::TColor>(static_cast<std::uint32_t>(rgb.red()) |
                                       static_cast<std::uint32_t>(rgb.green()) << 8 |
                                       static_cast<std::uint32_t>(rgb.blue()) << 16);
}

}  // namespace pling::qtbridge
