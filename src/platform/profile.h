#pragma once
// Profile (INI) files, as the Windows profile-string functions treat them:
// section and key matched without regard to ASCII case, whitespace around names
// and values ignored, a value in matching quotes unquoted on read, CRLF and LF
// line ends read alike; a write keeps every other line (comments, blank lines,
// other sections) as it is and creates file, section and key on demand. A file
// name without a folder refers to a file in WindowsDirectory(). Every write
// replaces the file atomically.
#include <string_view>

#include "platform/types.h"

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

}  // namespace pling::platform
