// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The workgroup this machine belongs to: the `workgroup` of the [global] section
// of the Samba configuration when there is one, else "WORKGROUP".
#include <string>
#include <string_view>

namespace pling::net {

inline constexpr std::string_view kDefaultWorkgroup = "WORKGROUP";
inline constexpr const char* kSambaConfigPath = "/etc/samba/smb.conf";

// The value of `parameter` in the [global] section of a Samba configuration's
// text, as written (case kept); empty when it is not set. Only the [global]
// section (and lines before any section) count; parameter names ignore case,
// spaces and underscores; ';' and '#' start comments; a line ending in '\'
// continues on the next; the last setting wins.
std::string ParseGlobalParameter(std::string_view configText, std::string_view parameter);

// The workgroup named in the text of a Samba configuration file, as written
// (case kept); empty when it names none. Only the [global] section (and lines
// before any section) count; ';' and '#' start comments; a line ending in '\'
// continues on the next.
std::string ParseWorkgroup(std::string_view configText);

// ParseWorkgroup of the file at `path`, or kDefaultWorkgroup when the file cannot
// be read or names none.
std::string ReadWorkgroup(const std::string& path);

// Whether the Samba configuration at `path` hands the session messages its file
// server takes to this program: its `message command` runs `pling-cli deliver`.
bool SambaDeliversMessages(const std::string& path);

}  // namespace pling::net
