// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/posix/passwd_entry.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace pling::platform {

std::optional<TPasswdEntry> EffectiveUserEntry() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
  passwd entry{};
  passwd* result = nullptr;
  int error;
  while ((error = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || result == nullptr) return std::nullopt;
  TPasswdEntry found;
  if (result->pw_name != nullptr) found.name = result->pw_name;
  if (result->pw_dir != nullptr) found.home = result->pw_dir;
  return found;
}

}  // namespace pling::platform
