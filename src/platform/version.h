#pragma once
#include "platform/types.h"

namespace pling::platform {

// The running kernel's version: the major version in the low byte, the minor
// version in the next byte.
DWORD GetVersion();

}  // namespace pling::platform
