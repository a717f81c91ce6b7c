// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/posix/passwd_entry.h"

namespace pling::platform {
namespace {

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  const std::optional<TPasswdEntry> entry = EffectiveUserEntry();
  return entry ? entry->home : std::string();
}

// `path` without trailing slashes; the root becomes empty, so that appending "/name" works.
std::string WithoutTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ConfigDirectory() {
  // The environment is read at every call: it may change while the program runs.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = WithoutTrailingSlashes(xdg);
  } else {
    base = WithoutTrailingSlashes(HomeDirectory()) + "/.config";
  }
  return base + "/pling";
}

std::string WindowsDirectory() {
  return ConfigDirectory();
}

std::string RegistryHivePath() {
  return ConfigDirectory() + "/registry.reg";
}

std::string SessionDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/')
    return std::string(runtime) + "/pling";
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
  return base + "/pling-" + std::to_string(::geteuid());
}

bool PrivateFolder(const std::string& path, std::string& problem) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    problem = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 0077) != 0) {
    problem = path + " is not a folder of this user's that only this user can enter";
    return false;
  }
  return true;
}

}  // namespace pling::platform
