// SPDX-License-Identifier: GPL-3.0-or-later
// a × b / c as the design lengths at 96 dots per inch are scaled with it:
// rounded to the nearest, halves away from zero; -1 where it cannot be done.
#include <gtest/gtest.h>

#include "qtbridge/MulDiv.h"

namespace pling::qtbridge {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(1, 255, 2), 128);
  EXPECT_EQ(MulDiv(1, -255, 2), -128);
  EXPECT_EQ(MulDiv(-1, -255, 2), 128);
  EXPECT_EQ(MulDiv(1, 255, -2), -128);
  EXPECT_EQ(MulDiv(2, 10, 3), 7);
  EXPECT_EQ(MulDiv(5, 300, 64), 23);  // 23.4
  // The product is formed in 64 bits; a quotient beyond 32 bits, or c = 0, fails.
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 2), 0x7FFFFFFF);
  EXPECT_EQ(MulDiv(-0x7FFFFFFF - 1, 1, 1), -0x7FFFFFFF - 1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 1), -1);
  EXPECT_EQ(MulDiv(5, 5, 0), -1);
}

}  // namespace
}  // namespace pling::qtbridge
