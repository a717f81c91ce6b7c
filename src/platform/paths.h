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

// The folder of this user's session: $XDG_RUNTIME_DIR/pling, or, without that,
// a folder of the user's own in $TMPDIR (default /tmp). Not created here.
std::string SessionDirectory();
// Makes `path` a folder of this user's that nobody else can enter (made so when
// missing); whether it is one, else why not in `problem`.
bool PrivateFolder(const std::string& path, std::string& problem);

}  // namespace pling::platform
