// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/version.h"

#include <algorithm>

namespace pling::platform {
namespace {

// Reads the decimal number at `pos` (0 if there is none) and advances past it; at most 255.
DWORD ReadPart(std::string_view text, std::size_t& pos) {
  DWORD value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    value = std::min<DWORD>(value * 10 + static_cast<DWORD>(text[pos] - '0'), 255);
    ++pos;
  }
  return value;
}

}  // namespace

DWORD VersionFromRelease(std::string_view release) {
  std::size_t pos = 0;
  const DWORD major = ReadPart(release, pos);
  DWORD minor = 0;
  if (pos > 0 && pos < release.size() && release[pos] == '.') {
    ++pos;
    minor = ReadPart(release, pos);
  }
  return major | (minor << 8);
}

DWORD GetVersion() {
  return kPlatformVersion;
}

}  // namespace pling::platform
