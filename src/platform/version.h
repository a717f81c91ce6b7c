#pragma once
#include <string_view>

#include "platform/types.h"

namespace pling::platform {

// The running kernel's version: the major version in the low byte, the minor
// version in the next byte.
DWORD GetVersion();
// The same value for a kernel release text such as "6.1.0-13-amd64" (each part at most 255).
DWORD VersionFromRelease(std::string_view release);

}  // namespace pling::platform
