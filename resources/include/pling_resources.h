// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace pling {

// Registers the program's pictures (":/pling/...") once. Executables built with
// CMake get them registered before main() and need not call this; calling it
// again does no harm.
void initResources();

}  // namespace pling
