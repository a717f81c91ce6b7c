// SPDX-License-Identifier: GPL-3.0-or-later
// Font text: any input either fails with the conversion error or gives a font
// whose own text reads back as the same font.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "runtime/exceptions.h"
#include "settings/Megares.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  pling::settings::TFont font;
  try {
    font = pling::settings::FontFromText(text);
  } catch (const pling::runtime::EConvertError&) {
    return 0;
  }
  if (pling::settings::FontFromText(pling::settings::FontToText(font)) != font) std::abort();
  return 0;
}
