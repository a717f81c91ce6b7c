#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

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

}  // namespace

DWORD GetPrivateProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, DWORD size,
                              std::string_view fileName) {
  if (buffer == nullptr || size == 0) return 0;
  fileName = AsCString(fileName);
  std::string_view result = AsCString(defaultValue);
  std::string text;
  if (fileName.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else if (const int error = ReadFileContents(ProfilePath(fileName), text); error != 0) {
    SetLastError(ErrorFromErrno(error));
  } else if (auto value = FindProfileValue(text, AsCString(section), AsCString(key))) {
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
  FileLock lock;
  int error = lock.Lock(WriteTargetOf(ProfilePath(fileName)));
  std::string text;
  if (error == 0) {
    // Under the lock, so that a concurrent writer's change is not lost.
    error = ReadFileContents(lock.path(), text);
    const bool exists = error == 0;
    if (error == ENOENT) error = 0;
    if (error == 0) {
      std::string changed = SetProfileValue(text, section, key, value);
      if (!exists || changed != text) error = ReplaceFileContents(lock, changed);
    }
  }
  if (error != 0) {
    SetLastError(ErrorFromErrno(error));
    return false;
  }
  return true;
}

}  // namespace pling::platform
