// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
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

std::shared_ptr<const TParsedProfile> ParseProfile(std::string text) {
  return std::make_shared<const TParsedProfile>(std::move(text));
}

// Writes `writes` (all writable) to the file at `path` under its lock; 0 or an
// errno value.
int ChangeProfile(const std::string& path, std::span<const TProfileWrite> writes) {
  TFileLock lock;
  if (const int error = lock.Lock(path)) return error;
  // Under the lock, so that a concurrent writer's change is not lost.
  TFileCache<TParsedProfile>::TEntry current;
  if (const int error = gProfileCache.Load(lock.path(), ParseProfile, current, true)) return error;
  std::string changed = SetProfileValues(current.parsed->Text(), writes);
  if (current.exists && changed == current.parsed->Text()) return 0;
  TFileIdentity identity;
  if (const int error = ReplaceFileContents(lock, changed, &identity)) return error;
  auto parsed = std::make_shared<const TParsedProfile>(std::move(changed));
  if (path != lock.path()) gProfileCache.Store(path, identity, parsed, parsed->Text());
  gProfileCache.Store(lock.path(), identity, parsed, parsed->Text());
  return 0;
}

}  // namespace

DWORD GetPrivateProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, DWORD size,
                              std::string_view fileName) {
  if (buffer == nullptr || size == 0) return 0;
  fileName = AsCString(fileName);
  std::string_view result = AsCString(defaultValue);
  ClearFileError();
  TFileCache<TParsedProfile>::TEntry file;
  if (fileName.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else if (const int error = gProfileCache.Load(ProfilePath(fileName), ParseProfile, file);
             error != 0) {
    SetLastError(FileErrorFromErrno(error));
  } else if (!file.exists) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  } else if (auto value = file.parsed->Index().Find(AsCString(section), AsCString(key))) {
    result = AsCString(*value);
  }
  const std::size_t count = std::min<std::size_t>(result.size(), size - 1);
  std::memcpy(buffer, result.data(), count);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view fileName) {
  section = AsCString(section);
  key = AsCString(key);
  value = AsCString(value);
  fileName = AsCString(fileName);
  // A line break in a name or value would turn into lines of their own and change
  // the file's meaning: such a write is refused rather than corrupting the file.
  if (fileName.empty() || !IsWritableProfileEntry(section, key, value)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  ClearFileError();
  const TProfileWrite write{section, key, value};
  if (const int error = ChangeProfile(ProfilePath(fileName), std::span(&write, 1))) {
    SetLastError(FileErrorFromErrno(error));
    return false;
  }
  return true;
}

bool WritePrivateProfileStrings(std::span<const TProfileValue> values, std::string_view fileName) {
  fileName = AsCString(fileName);
  ClearFileError();
  std::vector<TProfileWrite> writes;
  writes.reserve(values.size());
  for (const TProfileValue& entry : values) {
    const TProfileWrite write{AsCString(entry.section), AsCString(entry.key),
                              AsCString(entry.value)};
    if (!IsWritableProfileEntry(write.section, write.key, write.value)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    writes.push_back(write);
  }
  if (fileName.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (writes.empty()) return true;
  if (const int error = ChangeProfile(ProfilePath(fileName), writes)) {
    SetLastError(FileErrorFromErrno(error));
    return false;
  }
  return true;
}

runtime::TResult<std::optional<std::string>> ReadProfileValue(std::string_view section,
                                                              std::string_view key,
                                                              std::string_view fileName) {
  fileName = AsCString(fileName);
  if (fileName.empty()) return std::optional<std::string>();
  ClearFileError();
  TFileCache<TParsedProfile>::TEntry file;
  if (const int error = gProfileCache.Load(ProfilePath(fileName), ParseProfile, file)) {
    return FileFailure(FileErrorFromErrno(error));
  }
  if (!file.exists) return std::optional<std::string>();
  if (auto value = file.parsed->Index().Find(AsCString(section), AsCString(key))) {
    return std::optional<std::string>(std::string(AsCString(*value)));
  }
  return std::optional<std::string>();
}

runtime::TResult<void> WriteProfileValue(std::string_view section, std::string_view key,
                                         std::string_view value, std::string_view fileName) {
  if (WritePrivateProfileString(section, key, value, fileName)) return {};
  return FileFailure(GetLastError());
}

runtime::TResult<void> WriteProfileValues(std::span<const TProfileValue> values,
                                          std::string_view fileName) {
  if (WritePrivateProfileStrings(values, fileName)) return {};
  return FileFailure(GetLastError());
}

std::vector<std::string> ProfileFileProblems(std::string_view fileName) {
  fileName = AsCString(fileName);
  if (fileName.empty()) return {};
  return FileProblems(ProfilePath(fileName),
                      [](const std::string& text) { return ProfileProblems(text); });
}

}  // namespace pling::platform
