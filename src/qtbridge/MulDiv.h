// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// a × b / c as the Windows operation computes it: the product in 64 bits, the
// quotient rounded to the nearest integer with halves away from zero; -1 when c
// is 0 or the result does not fit in 32 bits.
#include <cstdint>
#include <limits>

namespace pling::qtbridge {

constexpr std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t product = std::int64_t{a} * b;
  const bool negative = (product < 0) != (c < 0);
  const std::uint64_t num =
      product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
  const std::uint64_t den =
      c < 0 ? 0 - static_cast<std::uint64_t>(std::int64_t{c}) : static_cast<std::uint64_t>(c);
  const std::uint64_t quotient = (num + den / 2) / den;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + (negative ? 1 : 0);
  if (quotient > limit) return -1;
  return negative ? static_cast<std::int32_t>(0 - static_cast<std::int64_t>(quotient))
                  : static_cast<std::int32_t>(quotient);
}

}  // namespace pling::qtbridge
