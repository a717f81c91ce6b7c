// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the programs of this build are, for the tests that run them.
#include <cstdlib>
#include <string>

namespace pling::testing {

// The folder of this build's programs: PLING_TEST_BIN, which CTest sets, or
// build/bin when a test program is run by hand from the source folder.
inline std::string TestBinDir() {
  const char* bin = std::getenv("PLING_TEST_BIN");
  return bin != nullptr ? bin : "build/bin";
}

// The program `name` of this build.
inline std::string TestProgram(const char* name) {
  return TestBinDir() + "/" + name;
}

}  // namespace pling::testing
