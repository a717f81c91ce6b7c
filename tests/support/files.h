// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files and names for tests: the whole text of a file, names that no other
// test process uses, and writes that fail as on a full disk.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

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

// While it lives, this process cannot write files beyond `bytes` bytes: a write
// past that fails (EFBIG), as it does on a full disk, and nothing else changes.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit limit = FOld;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = SIG_DFL;
};

}  // namespace pling::testing
