// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a window goes so that the user can see all of it: inside the work area
// (a screen without its panels and docks) of a screen that exists. The rule knows
// no window system; its callers give the window's outer bounds (frame included)
// and the work areas, all in the same device-independent pixels.
#include <cstdint>
#include <span>

namespace pling::settings {

struct TRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

// `bounds` moved, and where it is larger than the work area made as small as the
// area, so that it lies wholly inside one work area: the one it overlaps most; when
// it overlaps none (its screen is gone), the one nearest to it. A window that lies
// inside a work area already stays where it is. Without work areas, `bounds`.
TRect FitIntoWorkAreas(TRect bounds, std::span<const TRect> areas);

}  // namespace pling::settings
