// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_cache.h"
#include "platform/file_error.h"
#include "platform/paths.h"
#include "platform/posix/atomic_file.h"
#include "platform/profile_parser.h"

namespace pling::platform {
namespace {

// The callers pass C strings: a NUL ends the text.
std::string_view AsCString(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// A name without a folder is a file in the Windows directory; any other path is
// used as given.
std::string ProfilePath(std::string_view fileName) {
  if (fileName.find('/') != std::string_view::npos) return std::string(fileName);
  return WindowsDirectory() + "/" + std::string(fileName);
}

// A profile file's text with its index.
class TParsedProfile {
 public:
  explicit TParsedProfile(std::string text) : FText(std::move(text)), FIndex(FText) {}
  TParsedProfile(const TParsedProfile&) = delete;
  TParsedProfile& operator=(const TParsedProfile&) = delete;
  const std::string& Text() const { return FText; }
  const TProfileIndex& Index() const { return FIndex; }

 private:
  std::string FText;
  TProfileIndex FIndex;
};

TFileCache<TParsedProfile> gProfileCache;

std::shared_ptr<const TParsedProfile> ParseProfile(std::string_view text) {
  return std::make_shared<const TParsedProfile>(std::string(text));
}

// Writes `writes` (all writable) to the file at `path` under its lock.
runtime::TResult<void> ChangeProfile(const std::string& path,
                                     std::span<const TProfileWrite> writes) {
  TFileLock lock;
  if (auto locked = lock.Lock(path); !locked) return locked;
  // Under the lock, so that a concurrent writer's change is not lost.
  const auto current = gProfileCache.Load(lock.path(), ParseProfile, true);
  if (!current) return current.Error();
  const TParsedProfile& was = *current.Value().parsed;
  std::string changed = SetProfileValues(was.Text(), writes);
  if (current.Value().exists && changed == was.Text()) return {};
  TFileIdentity identity;
  if (auto replaced = ReplaceFileContents(lock, changed, &identity); !replaced) return replaced;
  auto parsed = std::make_shared<const TParsedProfile>(std::move(changed));
  if (path != lock.path()) gProfileCache.Store(path, identity, parsed, parsed->Text());
  gProfileCache.Store(lock.path(), identity, parsed, parsed->Text());
  return {};
}

// The parsed file `fileName` names (not empty).
runtime::TResult<TFileCache<TParsedProfile>::TEntry> LoadProfile(std::string_view fileName) {
  return gProfileCache.Load(ProfilePath(fileName), ParseProfile);
}

// The code a Win32-shaped call reports for `result`, set as the last error on failure.
template <typename T>
bool Reported(const runtime::TResult<T>& result) {
  if (!result) SetLastError(result.Error().code);
  return result.HasValue();
}

}  // namespace

runtime::TResult<std::optional<std::string>> ReadProfileValue(std::string_view section,
                                                              std::string_view key,
                                                              std::string_view fileName) {
  fileName = AsCString(fileName);
  if (fileName.empty()) return std::optional<std::string>();
  const auto file = LoadProfile(fileName);
  if (!file) return file.Error();
  if (!file.Value().exists) return std::optional<std::string>();
  if (auto value = file.Value().parsed->Index().Find(AsCString(section), AsCString(key))) {
    return std::optional<std::string>(std::string(AsCString(*value)));
  }
  return std::optional<std::string>();
}

runtime::TResult<void> WriteProfileValue(std::string_view section, std::string_view key,
                                         std::string_view value, std::string_view fileName) {
  const TProfileValue entry{std::string(section), std::string(key), std::string(value)};
  return WriteProfileValues(std::span(&entry, 1), fileName);
}

runtime::TResult<void> WriteProfileValues(std::span<const TProfileValue> values,
                                          std::string_view fileName) {
  fileName = AsCString(fileName);
  std::vector<TProfileWrite> writes;
  writes.reserve(values.size());
  for (const TProfileValue& entry : values) {
    const TProfileWrite write{AsCString(entry.section), AsCString(entry.key),
                              AsCString(entry.value)};
    // A line break in a name or value would turn into lines of their own and
    // change the file's meaning: such a write is refused rather than corrupting
    // the file.
    if (!IsWritableProfileEntry(write.section, write.key, write.value)) return ArgumentError();
    writes.push_back(write);
  }
  if (fileName.empty()) return ArgumentError();
  if (writes.empty()) return {};
  return ChangeProfile(ProfilePath(fileName), writes);
}

DWORD GetPrivateProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, DWORD size,
                              std::string_view fileName) {
  if (buffer == nullptr || size == 0) return 0;
  fileName = AsCString(fileName);
  std::string_view result = AsCString(defaultValue);
  runtime::TResult<TFileCache<TParsedProfile>::TEntry> file = ArgumentError();
  if (!fileName.empty()) file = LoadProfile(fileName);
  if (!file) {
    SetLastError(file.Error().code);
  } else if (!file.Value().exists) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  } else if (auto value = file.Value().parsed->Index().Find(AsCString(section), AsCString(key))) {
    result = AsCString(*value);
  }
  const std::size_t count = std::min<std::size_t>(result.size(), size - 1);
  std::memcpy(buffer, result.data(), count);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view fileName) {
  return Reported(WriteProfileValue(section, key, value, fileName));
}

bool WritePrivateProfileStrings(std::span<const TProfileValue> values, std::string_view fileName) {
  return Reported(WriteProfileValues(values, fileName));
}

std::vector<std::string> ProfileFileProblems(std::string_view fileName) {
  fileName = AsCString(fileName);
  if (fileName.empty()) return {};
  return FileProblems(ProfilePath(fileName),
                      [](const std::string& text) { return ProfileProblems(text); });
}

}  // namespace pling::platform
