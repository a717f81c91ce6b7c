// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Placement.h"

#include <algorithm>
#include <limits>

namespace pling::settings {
namespace {

std::int64_t Overlap(const TRect& a, const TRect& b) {
  const std::int64_t width =
      std::min<std::int64_t>(std::int64_t{a.left} + a.width, std::int64_t{b.left} + b.width) -
      std::max(a.left, b.left);
  const std::int64_t height =
      std::min<std::int64_t>(std::int64_t{a.top} + a.height, std::int64_t{b.top} + b.height) -
      std::max(a.top, b.top);
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
  const std::int64_t x = std::int64_t{bounds.left} + bounds.width / 2;
  const std::int64_t y = std::int64_t{bounds.top} + bounds.height / 2;
  const std::int64_t dx = Outside(x, area.left, area.width);
  const std::int64_t dy = Outside(y, area.top, area.height);
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
    if (area.width <= 0 || area.height <= 0) continue;
    if (const std::int64_t overlap = Overlap(bounds, area); overlap > bestOverlap) {
      best = &area;
      bestOverlap = overlap;
    }
  }
  if (best == nullptr) {
    std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
    for (const TRect& area : areas) {
      if (area.width <= 0 || area.height <= 0) continue;
      if (const std::int64_t distance = Distance(bounds, area); distance < nearest) {
        best = &area;
        nearest = distance;
      }
    }
  }
  if (best == nullptr) return bounds;
  bounds.width = std::min(bounds.width, best->width);
  bounds.height = std::min(bounds.height, best->height);
  bounds.left = Place(bounds.left, bounds.width, best->left, best->width);
  bounds.top = Place(bounds.top, bounds.height, best->top, best->height);
  return bounds;
}

}  // namespace pling::settings
