#pragma once
// A per-user registry hive of keys with default values (HKEY_CLASSES_ROOT only),
// kept in one REGEDIT4 text file at RegistryHivePath(), written atomically and
// under a file lock so that processes writing at once lose nothing. Key names are
// matched without regard to case.
#include <string_view>

#include "platform/types.h"

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

}  // namespace pling::platform
