// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading and changing the text of a profile (INI) file, without any file access.
//
// A line is a section header ("[name]", the name taken up to the last "]"; a
// header without its "]" is taken as if it had one), a key line ("name=value",
// split at the first "="), a comment (first non-blank character ";" or "#"), or
// anything else, which is kept and never matches.
// Section and key names are matched without regard to ASCII case, with the
// whitespace around names and values ignored; the first matching section and,
// within it, the first matching key win. Lines end in LF or CRLF.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/line_problem.h"

namespace pling::platform {

// The value of `key` in `section`, with its surrounding whitespace and matching
// quotes ('...' or "...") removed; nullopt when there is no such key.
std::optional<std::string_view> FindProfileValue(std::string_view text, std::string_view section,
                                                 std::string_view key);

// Whether section, key and value can be written as lines that read back as
// themselves and leave every other line's meaning alone: no line breaks
// anywhere, and a key without "=" that does not start with ";", "#" or "[".
bool IsWritableProfileEntry(std::string_view section, std::string_view key, std::string_view value);

// `text` with `key` of `section` set to `value` (which must be writable). The
// first matching key line gets the new value; a missing key is added after the
// last key line of the first matching section; a missing section is added at the
// end. Every other byte is kept. New lines end like the text's first line (LF for
// a text without line ends).
std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);

// The lines of a profile text that cannot be read as they stand: section headers
// without their "]", and lines that are neither a section, a key nor a comment.
std::vector<TLineProblem> ProfileProblems(std::string_view text);

// The value that a key line written with `value` reads back as (whitespace
// around it and matching quotes removed), as FindProfileValue gives it.
std::string_view ProfileValueAsRead(std::string_view value);

// The text to write on a key line so that it reads back as `value` (which must
// be writable): the value itself, or the value in double quotes when reading
// would lose blanks at its ends or a pair of quotes around it (the profile
// functions of every platform take those quotes off again).
std::string ProfileTextFor(std::string_view value);

// A text that is the same for two section and key pairs exactly when they name
// the same key.
std::string ProfileKeyId(std::string_view section, std::string_view key);

// One key to set, for SetProfileValues.
struct TProfileWrite {
  std::string_view section;
  std::string_view key;
  std::string_view value;
};

// `text` with every entry set in turn, exactly as SetProfileValue applied to each
// entry in order would leave it, but in one pass over the text.
std::string SetProfileValues(std::string_view text, std::span<const TProfileWrite> writes);

// The values of a profile text by section and key, for many look-ups without a
// walk over the text each: Find gives what FindProfileValue gives. The index
// refers into the text, which must outlive it.
class TProfileIndex {
 public:
  explicit TProfileIndex(std::string_view text);
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

 private:
  std::unordered_map<std::string, std::string_view> FValues;
};

}  // namespace pling::platform
