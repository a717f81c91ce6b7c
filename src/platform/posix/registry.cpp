// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
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

using runtime::TResult;

constexpr std::size_t kMaxSubKeyLength = 255;

// Open keys: handle -> key path below HKEY_CLASSES_ROOT. Handles are never
// reused, so a stale handle cannot reach another key.
std::mutex gMutex;
std::map<HKEY, std::string> gHandles;
HKEY gNextHandle = 0x1000;

// A hive with the lines of its file that could not be read as they stand, as
// its parse found them; not known for a version this process wrote.
struct TParsedHive {
  THive hive;
  std::optional<std::vector<TLineProblem>> problems;
};

// The hive as last read or written, while the file stays as it was.
TFileCache<TParsedHive> gHiveCache;

std::shared_ptr<const TParsedHive> ParseHiveText(std::string_view text) {
  auto parsed = std::make_shared<TParsedHive>();
  parsed->problems.emplace();
  parsed->hive = ParseHive(text, &*parsed->problems);
  return parsed;
}

// The parsed hive at `path`, from the cache when the file is unchanged (a
// missing file is an empty hive).
TResult<TFileCache<TParsedHive>::TEntry> LoadParsedHive(const std::string& path,
                                                        bool forChange = false) {
  // Names are folded in the code page of the hive's making: another page, another parse.
  const auto sameCodePage = [page = ActiveCodePages().ansi](const TParsedHive& kept) {
    return kept.hive.keys.key_comp().codePage == page;
  };
  return gHiveCache.Load(path, ParseHiveText, sameCodePage, forChange);
}

TResult<std::shared_ptr<const THive>> LoadHive(const std::string& path, bool forChange = false) {
  auto entry = LoadParsedHive(path, forChange);
  if (!entry) return entry.Error();
  const std::shared_ptr<const TParsedHive>& parsed = entry.Value().parsed;
  return std::shared_ptr<const THive>(parsed, &parsed->hive);
}

std::string_view AsCString(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

LONG Result(DWORD error) {
  return static_cast<LONG>(error);
}

// What a Win32-shaped call returns for `result`.
template <typename T>
LONG Result(const TResult<T>& result) {
  return Result(result ? ERROR_SUCCESS : result.Error().code);
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

bool HasLineBreak(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
}

// A subkey path: at most 255 characters, no empty parts, no line breaks (a key
// name with one could not be written as REGEDIT4 text).
bool IsValidSubKey(std::string_view subKey) {
  if (subKey.empty()) return true;
  if (subKey.size() > kMaxSubKeyLength) return false;
  if (HasLineBreak(subKey)) return false;
  return subKey.front() != '\\' && subKey.back() != '\\' &&
         subKey.find("\\\\") == std::string_view::npos;
}

// Full name of the key `subKey` below the handle's key. Caller holds gMutex.
TResult<std::string> ResolveKeyName(HKEY key, std::string_view subKey) {
  std::string path;
  if (!PathOfHandle(key, path)) return ArgumentError(ERROR_INVALID_HANDLE);
  if (!IsValidSubKey(subKey)) return ArgumentError();
  if (!subKey.empty()) {
    if (!path.empty()) path.push_back('\\');
    path.append(subKey);
  }
  return ClassesRootKeyName(path);
}

// Reads the hive under the file lock, lets `change` modify it (it returns whether
// it did) and writes it back atomically. `unchanged` may tell first, from the hive
// as read, that `change` would change nothing: then the hive is not copied (a
// copy of a large hive costs more than the check). Caller holds gMutex.
template <typename Change, typename Unchanged>
TResult<void> ChangeHive(Change change, Unchanged unchanged) {
  const std::string path = RegistryHivePath();
  TFileLock lock;
  if (auto locked = lock.Lock(path); !locked) return locked;
  // Under the lock, so that what another process wrote meanwhile is kept.
  const auto current = LoadHive(lock.path(), true);
  if (!current) return current.Error();
  if (unchanged(*current.Value())) return {};
  auto written = std::make_shared<TParsedHive>();
  written->hive = *current.Value();
  if (!change(written->hive)) return {};
  std::string text = SerializeHive(written->hive);
  TFileIdentity identity;
  if (auto replaced = ReplaceFileContents(lock, text, &identity); !replaced) return replaced;
  const std::shared_ptr<const TParsedHive> hive = std::move(written);
  const auto kept = std::make_shared<const std::string>(std::move(text));
  if (path != lock.path()) gHiveCache.Store(path, identity, hive, kept);
  gHiveCache.Store(lock.path(), identity, hive, kept);
  return {};
}

template <typename Change>
TResult<void> ChangeHive(Change change) {
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

// Whether the key `name` has the default value `data`, as SetDefaultValue would
// leave it (no default value line of another type besides).
bool IsSetAs(const THive& hive, std::string_view name, std::string_view data) {
  const THiveKey* found = FindHiveKey(hive, name);
  if (found == nullptr || found->defaultValue != data) return false;
  if (found->otherLines.empty()) return true;
  THiveKey set = *found;
  SetHiveDefaultValue(set, data);
  return set == *found;
}

// Whether `data` can be written as a REG_SZ default value; `data` is cut at a NUL.
bool IsWritableValue(std::string_view& data) {
  // The value is a C string; a line break cannot be written as REGEDIT4 text, so
  // such a value is refused rather than breaking the file.
  data = AsCString(data);
  return !HasLineBreak(data);
}

}  // namespace

runtime::TResult<HKEY> CreateRegKey(HKEY key, std::string_view subKey) {
  std::lock_guard guard(gMutex);
  const TResult<std::string> name = ResolveKeyName(key, AsCString(subKey));
  if (!name) return name.Error();
  // A key that exists needs no write (the folder may well be read-only).
  const auto current = LoadHive(RegistryHivePath());
  const bool exists = current && FindHiveKey(*current.Value(), name.Value()) != nullptr;
  if (name.Value() != kClassesRootName && !exists) {
    const TResult<void> made = ChangeHive([&](THive& hive) {
      bool added = false;
      AddHiveKey(hive, name.Value(), &added);
      return added;
    });
    if (!made) return made.Error();
  }
  const HKEY handle = gNextHandle++;
  gHandles.emplace(handle, name.Value().size() > kClassesRootName.size()
                               ? name.Value().substr(kClassesRootName.size() + 1)
                               : std::string());
  return handle;
}

namespace {

// The default value of the subkey path below `key` as the hive holds it (a NUL in
// it included), or nothing when the subkey is missing.
TResult<std::optional<std::string>> ReadDefaultValue(HKEY key, std::string_view subKey) {
  std::lock_guard guard(gMutex);
  const TResult<std::string> name = ResolveKeyName(key, AsCString(subKey));
  if (!name) return name.Error();
  // Every query looks at the file (other processes may have changed it), but
  // parses it only when it changed.
  const auto hive = LoadHive(RegistryHivePath());
  if (!hive) return hive.Error();
  const THiveKey* found = FindHiveKey(*hive.Value(), name.Value());
  if (found == nullptr && name.Value() != kClassesRootName) return std::optional<std::string>();
  // A key without a default value reads as the empty string.
  if (found == nullptr || !found->defaultValue) return std::optional<std::string>(std::string());
  return std::optional<std::string>(HiveValueAsAnsi(*hive.Value(), *found->defaultValue));
}

}  // namespace

runtime::TResult<std::optional<std::string>> QueryRegValue(HKEY key, std::string_view subKey) {
  TResult<std::optional<std::string>> read = ReadDefaultValue(key, subKey);
  if (read && read.Value()) read.Value()->resize(AsCString(*read.Value()).size());
  return read;
}

std::vector<std::string> QueryRegList(HKEY key, std::string_view base) {
  std::lock_guard guard(gMutex);
  std::vector<std::string> values;
  base = AsCString(base);
  const TResult<std::string> root = ResolveKeyName(key, base);
  if (!root || base.empty()) return values;
  const auto hive = LoadHive(RegistryHivePath());
  if (!hive) return values;
  std::string name = root.Value();
  const std::size_t length = name.size();
  for (int i = 0;; ++i) {
    const std::string index = std::to_string(i);
    if (base.size() + index.size() > kMaxSubKeyLength) break;
    name.resize(length);
    name.append(index);
    const THiveKey* found = FindHiveKey(*hive.Value(), name);
    if (found == nullptr || !found->defaultValue) break;
    std::string value = HiveValueAsAnsi(*hive.Value(), *found->defaultValue);
    value.resize(AsCString(value).size());
    if (value.empty()) break;
    values.push_back(std::move(value));
  }
  return values;
}

runtime::TResult<void> SetRegValues(HKEY key, std::span<const TRegValue> values) {
  std::lock_guard guard(gMutex);
  std::vector<std::pair<std::string, std::string_view>> changes;
  changes.reserve(values.size());
  for (const TRegValue& value : values) {
    std::string_view data = value.data;
    if (!IsWritableValue(data)) return ArgumentError();
    TResult<std::string> name = ResolveKeyName(key, AsCString(value.subKey));
    if (!name) return name.Error();
    changes.emplace_back(std::move(name.Value()), data);
  }
  if (changes.empty()) return {};
  return ChangeHive(
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
          return IsSetAs(hive, change.first, change.second);
        });
      });
}

bool RegValuesSet(HKEY key, std::span<const TRegValue> values) {
  std::lock_guard guard(gMutex);
  const TResult<std::string> root = ResolveKeyName(key, "");
  if (!root) return false;
  const auto hive = LoadHive(RegistryHivePath());
  if (!hive) return false;
  std::string name = root.Value();
  const std::size_t rootLength = name.size();
  for (const TRegValue& value : values) {
    std::string_view data = value.data;
    const std::string_view subKey = AsCString(value.subKey);
    if (!IsWritableValue(data) || subKey.empty() || !IsValidSubKey(subKey)) return false;
    name.resize(rootLength);
    name.append("\\").append(subKey);
    if (!IsSetAs(*hive.Value(), name, data)) return false;
  }
  return true;
}

std::shared_ptr<const void> RegistryHiveVersion() {
  std::lock_guard guard(gMutex);
  auto entry = LoadParsedHive(RegistryHivePath());
  if (!entry) return nullptr;
  return entry.Value().parsed;
}

LONG RegCreateKey(HKEY key, std::string_view subKey, HKEY* result) {
  if (result == nullptr) return Result(ERROR_INVALID_PARAMETER);
  const TResult<HKEY> created = CreateRegKey(key, subKey);
  if (created) *result = created.Value();
  return Result(created);
}

LONG RegQueryValue(HKEY key, std::string_view subKey, char* data, LONG* size) {
  if (size == nullptr) return Result(ERROR_INVALID_PARAMETER);
  const TResult<std::optional<std::string>> read = ReadDefaultValue(key, subKey);
  if (!read) return Result(read);
  if (!read.Value()) return Result(ERROR_FILE_NOT_FOUND);
  const std::string& value = *read.Value();
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
  const TRegValue value{std::string(subKey), std::string(AsCString(data))};
  return Result(SetRegValues(key, std::span(&value, 1)));
}

LONG RegSetValues(HKEY key, std::span<const TRegValue> values) {
  return Result(SetRegValues(key, values));
}

bool IsWritableRegValue(std::string_view subKey, std::string_view data) {
  return IsValidSubKey(AsCString(subKey)) && IsWritableValue(data);
}

std::vector<std::string> RegistryHiveProblems() {
  const std::string path = RegistryHivePath();
  // The parse that reading the values made serves while the file is as it was
  // (at the start, the values were read just before, in the same read hold).
  const auto entry = LoadParsedHive(path);
  if (!entry) return {"Cannot read " + entry.Error().text};
  if (!entry.Value().exists) return {};
  if (const auto& problems = entry.Value().parsed->problems)
    return FileLineProblems(path, *problems);
  return FileProblems(path, [](const std::string& text) {
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
