// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Profile (INI) files, as the Windows profile-string functions treat them:
// section and key matched without regard to ASCII case, whitespace around names
// and values ignored, a value in matching quotes unquoted on read, CRLF and LF
// line ends read alike; a write keeps every other line (comments, blank lines,
// other sections) as it is and creates file, section and key on demand. A file
// name without a folder refers to a file in WindowsDirectory(). Every write
// replaces the file atomically.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "runtime/result.h"

namespace pling::platform {

// Copies the value (or `defaultValue` when absent) into `buffer`, at most size-1
// characters and a terminating NUL; returns the number of characters copied.
DWORD GetPrivateProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, DWORD size,
                              std::string_view fileName);

// Sets section/key to `value`; false (and GetLastError) when the file cannot be
// written, in which case the file on disk is unchanged.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view fileName);

// One key to set, for WritePrivateProfileStrings.
struct TProfileValue {
  std::string section;
  std::string key;
  std::string value;
};

// Sets every entry as WritePrivateProfileString would, in order, as one change of
// the file (one lock, one read, one replacement), merged with what other
// processes wrote before. Every entry is checked first: when one could not be
// written, nothing is and the result is false with ERROR_INVALID_PARAMETER.
bool WritePrivateProfileStrings(std::span<const TProfileValue> values, std::string_view fileName);

// The functions above with their failure carried in the result, as they are made
// (the functions above only pass its code on to GetLastError): the error code
// and, when the file failed, "<file>: <cause>" (platform/file_error.h); a refusal
// of the arguments names no file.
// ReadProfileValue gives the value, or nothing when the entry or the file is not
// there (or no file is named); an error only when the file cannot be read.
runtime::TResult<std::optional<std::string>> ReadProfileValue(std::string_view section,
                                                              std::string_view key,
                                                              std::string_view fileName);
runtime::TResult<void> WriteProfileValue(std::string_view section, std::string_view key,
                                         std::string_view value, std::string_view fileName);
runtime::TResult<void> WriteProfileValues(std::span<const TProfileValue> values,
                                          std::string_view fileName);

// What stands in the way of reading the profile file, for a report at start: why
// the file cannot be read ("Cannot read <file>: <cause>"), or each line of it that cannot be
// read as it stands ("<file>, line 7: ..."; see ProfileProblems). Empty when the
// file reads cleanly or does not exist.
std::vector<std::string> ProfileFileProblems(std::string_view fileName);

// Reads look at the file each time (a stat), but parse it only when it changed:
// its parsed form is kept while the file stays as it is.

}  // namespace pling::platform
