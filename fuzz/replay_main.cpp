// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target without libFuzzer: every file of the seed corpus folders
// given as arguments, then a fixed number of pseudo-random mutations of them, so
// the targets are exercised by every ordinary test run (and under the sanitizer
// builds). A crash or a sanitizer report fails the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Run(const std::vector<std::uint8_t>& input) {
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::vector<std::uint8_t>> seeds;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path dir(argv[i]);
    if (!std::filesystem::exists(dir)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file()) seeds.push_back(ReadAll(entry.path()));
    }
  }
  seeds.emplace_back();
  for (const auto& seed : seeds) Run(seed);

  std::mt19937 random(12345);
  const int rounds = 20000;
  for (int round = 0; round < rounds; ++round) {
    std::vector<std::uint8_t> input = seeds[random() % seeds.size()];
    const unsigned edits = 1 + random() % 8;
    for (unsigned e = 0; e < edits; ++e) {
      const unsigned kind = random() % 4;
      if (kind == 0 || input.empty()) {
        input.insert(input.begin() +
                         static_cast<std::ptrdiff_t>(input.empty() ? 0 : random() % input.size()),
                     static_cast<std::uint8_t>(random()));
      } else if (kind == 1) {
        input[random() % input.size()] = static_cast<std::uint8_t>(random());
      } else if (kind == 2) {
        input.erase(input.begin() + static_cast<std::ptrdiff_t>(random() % input.size()));
      } else {
        const std::size_t at = random() % input.size();
        const std::size_t len = 1 + random() % (input.size() - at);
        std::vector<std::uint8_t> copy(input.begin() + static_cast<std::ptrdiff_t>(at),
                                       input.begin() + static_cast<std::ptrdiff_t>(at + len));
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(random() % input.size()),
                     copy.begin(), copy.end());
      }
    }
    Run(input);
  }
  std::printf("replayed %zu seeds and %d mutations\n", seeds.size(), rounds);
  return 0;
}
