// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files and names for tests: the whole text of a file, and names that no other
// test process uses.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pling::testing {

// The whole content of the file at `path`, byte for byte; "" when it cannot be read.
inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `stem`, this process's id and a count: a name (of a mailslot, say) that no
// other test, in this process or another, uses at the same time.
inline std::string UniqueName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return stem + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

}  // namespace pling::testing
