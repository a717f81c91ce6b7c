// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A per-user registry hive of keys with default values (HKEY_CLASSES_ROOT only),
// kept in one registry file at RegistryHivePath(), written atomically and under a
// file lock so that processes writing at once lose nothing. The file is REGEDIT4
// text, or a Unicode (UTF-16LE) registry file, which is read in the ANSI code page
// and kept Unicode (platform/hive_parser.h). Key names are matched without regard
// to case in the ANSI code page. The file, or what a link at its place leads to,
// must be a regular file of at most 64 MiB: anything else is refused, named.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "runtime/result.h"

namespace pling::platform {

using HKEY = std::intptr_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = static_cast<HKEY>(0x80000000);
inline constexpr DWORD REG_SZ = 1;

// Opens the key path below `key`, creating the missing keys; ERROR_SUCCESS or an
// error code.
LONG RegCreateKey(HKEY key, std::string_view subKey, HKEY* result);
// Copies the default value of the subkey path below `key` (the key itself when
// `subKey` is empty) with its NUL into `data`; `*size` is the buffer size on
// entry and the bytes needed (with the NUL) on return. ERROR_FILE_NOT_FOUND when
// the subkey is missing, ERROR_MORE_DATA when the value does not fit.
LONG RegQueryValue(HKEY key, std::string_view subKey, char* data, LONG* size);
// Creates the subkey path as needed and sets its default value to the text.
LONG RegSetValue(HKEY key, std::string_view subKey, DWORD type, std::string_view data);
LONG RegCloseKey(HKEY key);

// One default value to set: the subkey path below a key, and its REG_SZ text.
struct TRegValue {
  std::string subKey;
  std::string data;
};
// Sets the default values of several subkeys below `key` as one change of the
// hive (one lock, one read, one replacement of the file), merged with what other
// processes wrote before; later entries win over earlier ones for the same key.
// Every entry is checked first: when one could not be set by RegSetValue, nothing
// is written and the result is that entry's error code.
LONG RegSetValues(HKEY key, std::span<const TRegValue> values);
// Whether RegSetValue (on a valid handle) takes this subkey path and REG_SZ text.
bool IsWritableRegValue(std::string_view subKey, std::string_view data);

// The calls above with their failure carried in the result, as they are made
// (the calls above only pass their code on): the error code and, when the hive
// file failed, "<file>: <cause>" (platform/file_error.h). QueryRegValue gives the
// whole value up to its first NUL, or nothing when the subkey is missing.
runtime::TResult<HKEY> CreateRegKey(HKEY key, std::string_view subKey);
runtime::TResult<std::optional<std::string>> QueryRegValue(HKEY key, std::string_view subKey);
runtime::TResult<void> SetRegValues(HKEY key, std::span<const TRegValue> values);
// The values of the subkeys `base`0, `base`1, ... below `key` as QueryRegValue
// gives them, up to the first that is missing or empty (or cannot be read): one
// look at the file for a whole list.
std::vector<std::string> QueryRegList(HKEY key, std::string_view base);
// Whether the hive holds every one of `values` below `key` as SetRegValues would
// set it, so that setting them would change nothing; false as well when one could
// not be set, or the hive file cannot be read. One look at the file for all.
bool RegValuesSet(HKEY key, std::span<const TRegValue> values);

// The hive file's present version, as a token: two tokens share their owner
// exactly when they stand for one version of the file (one this process read or
// wrote and that is on disk unchanged). Empty when the file cannot be read. In a
// read hold, the version the hold reads.
std::shared_ptr<const void> RegistryHiveVersion();

// What stands in the way of reading the hive file, for a report at start: why
// the file cannot be read ("Cannot read <file>: <cause>"), or each line of it that cannot be
// read as it stands ("<file>, line 7: ..."; see ParseHive). Empty when the file
// reads cleanly or does not exist.
std::vector<std::string> RegistryHiveProblems();

// Reads and writes look at the hive file each time (a stat), but parse it only
// when it changed: its parsed form is kept while the file stays as it is.

}  // namespace pling::platform
