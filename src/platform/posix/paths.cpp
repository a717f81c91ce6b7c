#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace pling::platform {
namespace {

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
  passwd entry{};
  passwd* result = nullptr;
  int error;
  while ((error = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || result == nullptr || result->pw_dir == nullptr) return {};
  return result->pw_dir;
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
