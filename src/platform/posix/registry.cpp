// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_cache.h"
#include "platform/file_error.h"
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

// The hive as last read or written, while the file stays as it was.
TFileCache<THive> gHiveCache;

std::shared_ptr<const THive> ParseHiveText(std::string text) {
  return std::make_shared<const THive>(ParseHive(text));
}

// The hive at `path`, from the cache when the file is unchanged. An errno value
// on failure (a missing file is an empty hive).
int LoadHive(const std::string& path, std::shared_ptr<const THive>& hive, bool forChange = false) {
  TFileCache<THive>::TEntry entry;
  // Names are folded in the code page of the hive's making: another page, another parse.
  const auto sameCodePage = [page = ActiveCodePages().Ansi](const THive& kept) {
    return kept.keys.key_comp().codePage == page;
  };
  if (const int error = gHiveCache.Load(path, ParseHiveText, sameCodePage, entry, forChange))
    return error;
  hive = std::move(entry.parsed);
  return 0;
}

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
// it did) and writes it back atomically. `unchanged` may tell first, from the hive
// as read, that `change` would change nothing: then the hive is not copied (a
// copy of a large hive costs more than the check). Caller holds gMutex.
template <typename Change, typename Unchanged>
DWORD ChangeHive(Change change, Unchanged unchanged) {
  const std::string path = RegistryHivePath();
  TFileLock lock;
  int error = lock.Lock(path);
  if (error != 0) return FileErrorFromErrno(error);
  // Under the lock, so that what another process wrote meanwhile is kept.
  std::shared_ptr<const THive> current;
  if ((error = LoadHive(lock.path(), current, true)) != 0) return FileErrorFromErrno(error);
  if (unchanged(*current)) return ERROR_SUCCESS;
  auto hive = std::make_shared<THive>(*current);
  if (!change(*hive)) return ERROR_SUCCESS;
  std::string text = SerializeHive(*hive);
  TFileIdentity identity;
  if ((error = ReplaceFileContents(lock, text, &identity)) != 0) return FileErrorFromErrno(error);
  if (path != lock.path()) gHiveCache.Store(path, identity, hive, text);
  gHiveCache.Store(lock.path(), identity, hive, std::move(text));
  return ERROR_SUCCESS;
}

template <typename Change>
DWORD ChangeHive(Change change) {
  return ChangeHive(change, [](const THive&) { return false; });
}

// Sets the default value of the key `name`; whether anything changed.
bool SetDefaultValue(THive& hive, const std::string& name, std::string_view data) {
  bool added = false;
  THiveKey& target = AddHiveKey(hive, name, &added);
  if (!added && target.defaultValue == data) {
    // Unchanged, unless a default value line of another type goes.
    const THiveKey before = target;
    SetHiveDefaultValue(target, data);
    return !(before == target);
  }
  SetHiveDefaultValue(target, data);
  return true;
}

// Whether `data` can be written as a REG_SZ default value; `data` is cut at a NUL.
bool IsWritableValue(std::string_view& data) {
  // The value is a C string; a line break cannot be written as REGEDIT4 text, so
  // such a value is refused rather than breaking the file.
  data = AsCString(data);
  return data.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

LONG RegCreateKey(HKEY key, std::string_view subKey, HKEY* result) {
  if (result == nullptr) return Result(ERROR_INVALID_PARAMETER);
  std::lock_guard guard(gMutex);
  ClearFileError();
  std::string name;
  if (const DWORD error = ResolveKeyName(key, AsCString(subKey), name)) return Result(error);
  // A key that exists needs no write (the folder may well be read-only).
  std::shared_ptr<const THive> current;
  const bool exists =
      LoadHive(RegistryHivePath(), current) == 0 && FindHiveKey(*current, name) != nullptr;
  if (name != kClassesRootName && !exists) {
    const DWORD error = ChangeHive([&](THive& hive) {
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
  ClearFileError();
  std::string name;
  if (const DWORD error = ResolveKeyName(key, AsCString(subKey), name)) return Result(error);
  // Every query looks at the file (other processes may have changed it), but
  // parses it only when it changed.
  std::shared_ptr<const THive> hive;
  if (const int error = LoadHive(RegistryHivePath(), hive))
    return Result(FileErrorFromErrno(error));
  const THiveKey* found = FindHiveKey(*hive, name);
  if (found == nullptr && name != kClassesRootName) return Result(ERROR_FILE_NOT_FOUND);
  // A key without a default value reads as the empty string.
  const std::string value = found != nullptr && found->defaultValue
                                ? HiveValueAsAnsi(*hive, *found->defaultValue)
                                : std::string();
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
  if (!IsWritableValue(data)) return Result(ERROR_INVALID_PARAMETER);
  std::lock_guard guard(gMutex);
  ClearFileError();
  std::string name;
  if (const DWORD error = ResolveKeyName(key, AsCString(subKey), name)) return Result(error);
  return Result(ChangeHive([&](THive& hive) { return SetDefaultValue(hive, name, data); }));
}

LONG RegSetValues(HKEY key, std::span<const TRegValue> values) {
  std::lock_guard guard(gMutex);
  ClearFileError();
  std::vector<std::pair<std::string, std::string_view>> changes;
  changes.reserve(values.size());
  for (const TRegValue& value : values) {
    std::string_view data = value.data;
    if (!IsWritableValue(data)) return Result(ERROR_INVALID_PARAMETER);
    std::string name;
    if (const DWORD error = ResolveKeyName(key, AsCString(value.subKey), name)) {
      return Result(error);
    }
    changes.emplace_back(std::move(name), data);
  }
  if (changes.empty()) return Result(ERROR_SUCCESS);
  return Result(ChangeHive(
      [&](THive& hive) {
        bool changed = false;
        for (const auto& [name, data] : changes)
          changed = SetDefaultValue(hive, name, data) || changed;
        return changed;
      },
      [&](const THive& hive) {
        // Every key there with its value as it would be set (the window's exit
        // writes every setting, most of them as they were).
        return std::all_of(changes.begin(), changes.end(), [&hive](const auto& change) {
          const THiveKey* found = FindHiveKey(hive, change.first);
          if (found == nullptr || found->defaultValue != change.second) return false;
          THiveKey set = *found;
          SetHiveDefaultValue(set, change.second);
          return set == *found;
        });
      }));
}

runtime::TResult<HKEY> CreateRegKey(HKEY key, std::string_view subKey) {
  HKEY result = 0;
  const auto error = static_cast<DWORD>(RegCreateKey(key, subKey, &result));
  if (error != ERROR_SUCCESS) return FileFailure(error);
  return result;
}

runtime::TResult<std::optional<std::string>> QueryRegValue(HKEY key, std::string_view subKey) {
  // Asked again with the size the query reports while the value does not fit
  // (another process may make it longer in between).
  std::string buffer(256, '\0');
  for (;;) {
    LONG size = static_cast<LONG>(buffer.size());
    const auto error = static_cast<DWORD>(RegQueryValue(key, subKey, buffer.data(), &size));
    if (error == ERROR_SUCCESS) {
      buffer.resize(strnlen(buffer.data(), buffer.size()));
      return std::optional<std::string>(std::move(buffer));
    }
    if (error == ERROR_MORE_DATA && size > static_cast<LONG>(buffer.size())) {
      buffer.assign(static_cast<std::size_t>(size), '\0');
      continue;
    }
    runtime::TError failure = FileFailure(error);
    if (error == ERROR_FILE_NOT_FOUND && failure.Text.empty()) return std::optional<std::string>();
    return failure;
  }
}

runtime::TResult<void> SetRegValues(HKEY key, std::span<const TRegValue> values) {
  const auto error = static_cast<DWORD>(RegSetValues(key, values));
  if (error != ERROR_SUCCESS) return FileFailure(error);
  return {};
}

bool IsWritableRegValue(std::string_view subKey, std::string_view data) {
  return IsValidSubKey(AsCString(subKey)) && IsWritableValue(data);
}

std::vector<std::string> RegistryHiveProblems() {
  return FileProblems(RegistryHivePath(), [](const std::string& text) {
    std::vector<TLineProblem> lines;
    ParseHive(text, &lines);
    return lines;
  });
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return Result(ERROR_SUCCESS);
  std::lock_guard guard(gMutex);
  return Result(gHandles.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

}  // namespace pling::platform
