// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/paths.h"

#include <cstdlib>
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

}  // namespace pling::platform
