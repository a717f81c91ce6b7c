// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/samba_services.h"

#include <glob.h>
#include <sys/stat.h>

#include <array>
#include <string_view>

namespace pling::net {

namespace {

// Whether `service` starts at boot: a systemd unit enabled for some target (a
// link to a unit file that is there), or a System V start link in a multi-user
// run level.
bool Enabled(const std::string& root, std::string_view service) {
  const std::string name(service);
  const std::array<std::string, 2> patterns{
      root + "/etc/systemd/system/*.wants/" + name + ".service",
      root + "/etc/rc[2345].d/S[0-9][0-9]" + name};
  for (const std::string& pattern : patterns) {
    glob_t found{};
    const bool any = ::glob(pattern.c_str(), 0, nullptr, &found) == 0;
    bool there = false;
    for (std::size_t i = 0; any && i < found.gl_pathc && !there; ++i) {
      struct stat target {};
      there = ::stat(found.gl_pathv[i], &target) == 0;  // a dangling link: removed
    }
    ::globfree(&found);
    if (there) return true;
  }
  return false;
}

}  // namespace

TSambaServices EnabledSambaServices(const std::string& root) {
  TSambaServices services;
  if (Enabled(root, "samba-ad-dc")) {
    services.datagram = services.session = "samba-ad-dc";
    return services;
  }
  if (Enabled(root, "nmbd")) services.datagram = "nmbd";
  if (Enabled(root, "smbd")) services.session = "smbd";
  return services;
}

std::string SambaKeepsDatagramPorts(const std::string& service) {
  return "Samba's " + service +
         " is enabled on this computer and receives on UDP ports 137 and 138, which Pling "
         "leaves to it (see pling(1)).";
}

std::string SambaKeepsSessionPort(const std::string& service) {
  return "Samba's " + service +
         " is enabled on this computer and takes TCP port 139, which Pling leaves to it; "
         "messages sent as datagrams still arrive (see pling(1)).";
}

}  // namespace pling::net
