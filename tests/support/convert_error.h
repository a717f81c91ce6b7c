// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The message of the conversion error that an action raises, for tests.
#include <string>

#include "runtime/exceptions.h"

namespace pling::testing {

// The message of the conversion error that `action` raises, or "" when none.
template <class F>
std::string ConvertErrorOf(F action) {
  try {
    action();
  } catch (const runtime::EConvertError& error) {
    return error.what();
  }
  return "";
}

}  // namespace pling::testing
