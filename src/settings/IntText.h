// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Integer text as the settings store reads it: optional leading blanks, then an
// optional "+" or "-" and decimal digits, or "$" and hexadecimal digits. The value
// must fit 32 bits: decimal text within the signed range, hexadecimal text within
// 0 to $FFFFFFFF, read as the 32-bit pattern ($FFFFFFFF is -1). Nothing may follow
// the digits.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pling::settings {

// The value of `text`, or nothing when it is not valid integer text.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// The value of `text`; runtime::EConvertError "'<text>' is not a valid integer
// value" when it is not valid integer text.
std::int32_t StrToInt(std::string_view text);

// Decimal text, with a leading "-" when negative.
std::string IntToStr(std::int32_t value);

}  // namespace pling::settings
