// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bytes written as hexadecimal text, for packets quoted in tests.
#include <cctype>
#include <string>
#include <string_view>

namespace pling::testing {

// The bytes that pairs of hexadecimal digits in `hex` stand for; anything else
// (spaces, line breaks) is passed over.
inline std::string FromHex(std::string_view hex) {
  std::string out;
  int high = -1;
  for (const char c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
    const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

}  // namespace pling::testing
