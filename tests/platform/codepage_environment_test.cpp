// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/codepage.h"

// Apart from the other code-page tests: their fixture chooses a pair before each
// test, and this one needs a process in which none was chosen yet.
namespace pling::platform {
namespace {

// The first use picks the pair from the environment; the child process starts with no pair
// chosen yet.
TEST(CodePageEnvironmentTest, FirstNonEmptyLocaleVariableWins) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("LC_ALL", "", 1);
        setenv("LC_CTYPE", "pl_PL.UTF-8", 1);
        setenv("LANG", "ru_RU.UTF-8", 1);
        const TCodePages pages = ActiveCodePages();
        std::exit(pages.ansi == 1250 && pages.oem == 852 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace pling::platform
