// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Names the calling thread, as ps, top and debuggers show it. Names longer than
// 15 characters are cut there.
#include <string_view>

namespace pling::runtime {

void SetThreadName(std::string_view name);

}  // namespace pling::runtime
