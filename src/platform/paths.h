// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the program's files live: $XDG_CONFIG_HOME/pling (default ~/.config/pling).
// This folder plays the role of the Windows directory for profile files, and it
// holds the registry hive.
#include <string>

namespace pling::platform {

std::string ConfigDirectory();   // created on demand by the writers
std::string WindowsDirectory();  // the same folder, for profile files
std::string RegistryHivePath();  // ConfigDirectory() + "/registry.reg"

}  // namespace pling::platform
