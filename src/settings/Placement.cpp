// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Placement.h"

#include <algorithm>
#include <limits>

namespace pling::settings {
namespace {

std::int64_t Overlap(const TRect& a, const TRect& b) {
  const std::int64_t width =
      std::min<std::int64_t>(std::int64_t{a.Left} + a.Width, std::int64_t{b.Left} + b.Width) -
      std::max(a.Left, b.Left);
  const std::int64_t height =
      std::min<std::int64_t>(std::int64_t{a.Top} + a.Height, std::int64_t{b.Top} + b.Height) -
      std::max(a.Top, b.Top);
  return width > 0 && height > 0 ? width * height : 0;
}

// How far a point lies outside an area along one axis (0 inside).
std::int64_t Outside(std::int64_t at, std::int64_t start, std::int64_t extent) {
  if (at < start) return start - at;
  if (at > start + extent) return at - (start + extent);
  return 0;
}

// The squared distance from the middle of `bounds` to `area`.
std::int64_t Distance(const TRect& bounds, const TRect& area) {
  const std::int64_t x = std::int64_t{bounds.Left} + bounds.Width / 2;
  const std::int64_t y = std::int64_t{bounds.Top} + bounds.Height / 2;
  const std::int64_t dx = Outside(x, area.Left, area.Width);
  const std::int64_t dy = Outside(y, area.Top, area.Height);
  return dx * dx + dy * dy;
}

std::int32_t Place(std::int32_t at, std::int32_t extent, std::int32_t start, std::int32_t room) {
  const std::int64_t last = std::int64_t{start} + room - extent;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(at, start, std::max<std::int64_t>(last, start)));
}

}  // namespace

TRect FitIntoWorkAreas(TRect bounds, std::span<const TRect> areas) {
  const TRect* best = nullptr;
  std::int64_t bestOverlap = 0;
  for (const TRect& area : areas) {
    if (area.Width <= 0 || area.Height <= 0) continue;
    if (const std::int64_t overlap = Overlap(bounds, area); overlap > bestOverlap) {
      best = &area;
      bestOverlap = overlap;
    }
  }
  if (best == nullptr) {
    std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
    for (const TRect& area : areas) {
      if (area.Width <= 0 || area.Height <= 0) continue;
      if (const std::int64_t distance = Distance(bounds, area); distance < nearest) {
        best = &area;
        nearest = distance;
      }
    }
  }
  if (best == nullptr) return bounds;
  bounds.Width = std::min(bounds.Width, best->Width);
  bounds.Height = std::min(bounds.Height, best->Height);
  bounds.Left = Place(bounds.Left, bounds.Width, best->Left, best->Width);
  bounds.Top = Place(bounds.Top, bounds.Height, best->Top, best->Height);
  return bounds;
}

}  // namespace pling::settings
