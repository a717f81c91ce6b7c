// SPDX-License-Identifier: GPL-3.0-or-later
// Colour text: any input either fails with the conversion error or gives a colour
// whose own text reads back as the same colour.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "runtime/exceptions.h"
#include "settings/Megares.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  pling::settings::TColor color = 0;
  try {
    color = pling::settings::TextToColor(text);
  } catch (const pling::runtime::EConvertError&) {
    return 0;
  }
  if (pling::settings::TextToColor(pling::settings::ColorToText(color)) != color) std::abort();
  return 0;
}
