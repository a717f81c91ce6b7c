#pragma once
// Reading and changing the text of a profile (INI) file, without any file access.
//
// A line is a section header ("[name]", the name taken up to the last "]"), a key
// line ("name=value", split at the first "="), a comment (first non-blank
// character ";" or "#"), or anything else, which is kept and never matches.
// Section and key names are matched without regard to ASCII case, with the
// whitespace around names and values ignored; the first matching section and,
// within it, the first matching key win. Lines end in LF or CRLF.
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace pling::platform
