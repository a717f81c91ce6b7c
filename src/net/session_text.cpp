// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/session_text.h"

#include <utility>

namespace pling::net {

std::size_t Utf8Prefix(std::string_view text, bool& multiByte) {
  multiByte = false;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead < 0x80) {
      ++at;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
      return std::string_view::npos;
    }
    for (std::size_t i = 1; i < length; ++i) {
      if (at + i == text.size()) return at;  // cut at the end
      const auto byte = static_cast<unsigned char>(text[at + i]);
      if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) {
        return std::string_view::npos;
      }
    }
    multiByte = true;
    at += length;
  }
  return at;
}

void TSessionText::Add(std::string_view block) {
  FReceived += block.size();
  if (!FFromUtf8) {
    FText += block;
    return;
  }
  std::string joined = std::exchange(FCarry, {});
  joined += block;
  bool multiByte = false;
  const std::size_t whole = Utf8Prefix(joined, multiByte);
  // A cut sequence makes the block UTF-8 too: OEM text has no reason to end so.
  const bool cut = whole != std::string_view::npos && whole < joined.size();
  if (whole == std::string_view::npos || !(multiByte || cut)) {
    FText += joined;
    return;
  }
  FText += FFromUtf8(std::string_view(joined).substr(0, whole));
  FCarry = joined.substr(whole);
}

std::string TSessionText::Take() {
  // A sequence cut at the very end is kept as the bytes it is.
  FText += std::exchange(FCarry, {});
  FReceived = 0;
  return std::exchange(FText, {});
}

}  // namespace pling::net
