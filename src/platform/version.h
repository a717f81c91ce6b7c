// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <string_view>

#include "platform/types.h"

namespace pling::platform {

// The Windows-equivalent version of the platform: the major version in the low
// byte, the minor version in the next byte. It tells callers which generation of
// the system's services to expect, not the kernel's version: this platform has a
// registry (the hive file), so it reports a fixed version of a generation that
// has one, 6.2, whatever kernel it runs on.
inline constexpr DWORD kPlatformVersion = 6u | (2u << 8);
DWORD GetVersion();
// The kernel's version in the same form, from a release text such as
// "6.1.0-13-amd64" (each part at most 255); for reports only.
DWORD VersionFromRelease(std::string_view release);

}  // namespace pling::platform
