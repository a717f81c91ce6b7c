// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/types.h"

namespace pling::platform {
namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() {
  return tLastError;
}

void SetLastError(DWORD code) {
  tLastError = code;
}

}  // namespace pling::platform
