// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/identity.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/codepage.h"
#include "platform/posix/passwd_entry.h"

namespace pling::platform {
namespace {

constexpr std::size_t kMaxComputerName = 15;

std::string_view FirstLabel(std::string_view hostName) {
  return hostName.substr(0, hostName.find('.'));
}

std::string HostName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (gethostname(buffer, sizeof buffer) != 0) return {};
  buffer[HOST_NAME_MAX] = '\0';  // a truncated name need not be terminated
  return buffer;
}

// The login name of the effective user from the password database, empty if it has none.
std::string PasswordDatabaseName() {
  const std::optional<TPasswdEntry> entry = EffectiveUserEntry();
  return entry ? entry->name : std::string();
}

}  // namespace

std::string ComputerNameFromHostName(std::string_view hostName) {
  std::string name = Utf8ToAnsi(FirstLabel(hostName));
  // Computer names are all capitals, accented letters included, as the name
  // service keeps them.
  AnsiUpperCase(name);
  if (name.size() > kMaxComputerName) name.resize(kMaxComputerName);
  if (name.empty()) name = "LOCALHOST";
  return name;
}

std::string GetUserName() {
  std::string name = PasswordDatabaseName();
  if (name.empty()) {
    const char* user = std::getenv("USER");
    if (user != nullptr) name = user;
  }
  if (name.empty()) return std::to_string(geteuid());
  return Utf8ToAnsi(name);
}

std::string GetComputerName() {
  return ComputerNameFromHostName(HostName());
}

bool IsLocalMachine(std::string_view machine) {
  if (machine == ".") return true;
  const std::string hostName = HostName();
  // Names are compared with their case folded in the ANSI page they are in.
  return AnsiEqualsIgnoreCase(machine, ComputerNameFromHostName(hostName)) ||
         AnsiEqualsIgnoreCase(machine, Utf8ToAnsi(FirstLabel(hostName)));
}

}  // namespace pling::platform
