#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/hive_parser.h"
#include "platform/paths.h"
#include "platform/posix/atomic_file.h"

namespace pling::platform {
namespace {

constexpr std::size_t kMaxSubKeyLength = 255;

// Open keys: handle -> key path below HKEY_CLASSES_ROOT. Handles are never
// reused, so a stale handle cannot reach another key.
std::mutex gMutex;
std::map<HKEY, std::string> gHandles;
HKEY gNextHandle = 0x1000;

std::string_view AsCString(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

LONG Result(DWORD error) {
  return static_cast<LONG>(error);
}

// The key path of an open handle or of HKEY_CLASSES_ROOT. Caller holds gMutex.
bool PathOfHandle(HKEY key, std::string& path) {
  if (key == HKEY_CLASSES_ROOT) {
    path.clear();
    return true;
  }
  const auto found = gHandles.find(key);
  if (found == gHandles.end()) return false;
  path = found->second;
  return true;
}

// A subkey path: at most 255 characters, no empty parts, no line breaks (a key
// name with one could not be written as REGEDIT4 text).
bool IsValidSubKey(std::string_view subKey) {
  if (subKey.empty()) return true;
  if (subKey.size() > kMaxSubKeyLength) return false;
  if (subKey.find_first_of("\r\n") != std::string_view::npos) return false;
  return subKey.front() != '\\' && subKey.back() != '\\' &&
         subKey.find("\\\\") == std::string_view::npos;
}

// Full name of the key `subKey` below the handle's key, or an error code.
DWORD ResolveKeyName(HKEY key, std::string_view subKey, std::string& name) {
  std::string path;
  if (!PathOfHandle(key, path)) return ERROR_INVALID_HANDLE;
  if (!IsValidSubKey(subKey)) return ERROR_INVALID_PARAMETER;
  if (!subKey.empty()) {
    if (!path.empty()) path.push_back('\\');
    path.append(subKey);
  }
  name = ClassesRootKeyName(path);
  return ERROR_SUCCESS;
}

// Reads the hive under the file lock, lets `change` modify it (it returns whether
// it did) and writes it back atomically.
template <typename Change>
DWORD ChangeHive(Change change) {
  FileLock lock;
  int error = lock.Lock(WriteTargetOf(RegistryHivePath()));
  if (error != 0) return ErrorFromErrno(error);
  std::string text;
  error = ReadFileContents(lock.path(), text);
  if (error != 0 && error != ENOENT) return ErrorFromErrno(error);
  Hive hive = ParseHive(text);
  if (!change(hive)) return ERROR_SUCCESS;
  return ErrorFromErrno(ReplaceFileContents(lock, SerializeHive(hive)));
}

}  // namespace

LONG RegCreateKey(HKEY key, std::string_view subKey, HKEY* result) {
  if (result == nullptr) return Result(ERROR_INVALID_PARAMETER);
  std::lock_guard guard(gMutex);
  std::string name;
  if (const DWORD error = ResolveKeyName(key, AsCString(subKey), name)) return Result(error);
  // A key that exists needs no write (the folder may well be read-only).
  std::string text;
  const int readError = ReadFileContents(RegistryHivePath(), text);
  const bool exists = readError == 0 && FindHiveKey(ParseHive(text), name) != nullptr;
  if (name != kClassesRootName && !exists) {
    const DWORD error = ChangeHive([&](Hive& hive) {
      bool added = false;
      AddHiveKey(hive, name, &added);
      return added;
    });
    if (error != ERROR_SUCCESS) return Result(error);
  }
  const HKEY handle = gNextHandle++;
  gHandles.emplace(handle, name.size() > kClassesRootName.size()
                               ? name.substr(kClassesRootName.size() + 1)
                               : std::string());
  *result = handle;
  return Result(ERROR_SUCCESS);
}

LONG RegQueryValue(HKEY key, std::string_view subKey, char* data, LONG* size) {
  if (size == nullptr) return Result(ERROR_INVALID_PARAMETER);
  std::lock_guard guard(gMutex);
  std::string name;
  if (const DWORD error = ResolveKeyName(key, AsCString(subKey), name)) return Result(error);
  // Every query reads the file: other processes may have changed it.
  std::string text;
  if (const int error = ReadFileContents(RegistryHivePath(), text); error != 0 && error != ENOENT) {
    return Result(ErrorFromErrno(error));
  }
  const Hive hive = ParseHive(text);
  const HiveKey* found = FindHiveKey(hive, name);
  if (found == nullptr && name != kClassesRootName) return Result(ERROR_FILE_NOT_FOUND);
  // A key without a default value reads as the empty string.
  const std::string_view value =
      found != nullptr && found->defaultValue ? std::string_view(*found->defaultValue) : "";
  const LONG needed = static_cast<LONG>(std::min<std::size_t>(value.size() + 1, INT32_MAX));
  const LONG available = *size;
  *size = needed;
  if (data == nullptr) return Result(ERROR_SUCCESS);
  if (available < needed) return Result(ERROR_MORE_DATA);
  std::memcpy(data, value.data(), value.size());
  data[value.size()] = '\0';
  return Result(ERROR_SUCCESS);
}

LONG RegSetValue(HKEY key, std::string_view subKey, DWORD type, std::string_view data) {
  if (type != REG_SZ) return Result(ERROR_INVALID_PARAMETER);
  // The value is a C string; a line break cannot be written as REGEDIT4 text, so
  // such a value is refused rather than breaking the file.
  data = AsCString(data);
  if (data.find_first_of("\r\n") != std::string_view::npos) return Result(ERROR_INVALID_PARAMETER);
  std::lock_guard guard(gMutex);
  std::string name;
  if (const DWORD error = ResolveKeyName(key, AsCString(subKey), name)) return Result(error);
  return Result(ChangeHive([&](Hive& hive) {
    bool added = false;
    HiveKey& target = AddHiveKey(hive, name, &added);
    const HiveKey before = target;
    SetHiveDefaultValue(target, data);
    return added || !(before == target);
  }));
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return Result(ERROR_SUCCESS);
  std::lock_guard guard(gMutex);
  return Result(gHandles.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

}  // namespace pling::platform
