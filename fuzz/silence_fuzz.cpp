// SPDX-License-Identifier: GPL-3.0-or-later
// A board of silent servers and machines (silence_board.h), as another program
// or a damaged file may leave it: whatever the bytes, reading takes only
// entries within the bounds (at most kLongestSilence ahead or over, a next of
// 0 to kLongestSilence seconds, keys without spaces or line breaks), and what
// is read writes back to a text that reads as the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/silence_board.h"

namespace {

using namespace pling::net;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size);
  const std::chrono::steady_clock::time_point now{std::chrono::hours(100)};
  const TSilences read = ReadSilences(bytes, now);
  for (const auto& [key, silence] : read) {
    Check(!key.empty() && key.find_first_of(" \n") == std::string_view::npos);
    Check(silence.until <= now + kLongestSilence && silence.until >= now - kLongestSilence);
    Check(silence.next.count() >= 0 && silence.next <= kLongestSilence);
  }
  Check(ReadSilences(WriteSilences(read), now) == read);
  return 0;
}
