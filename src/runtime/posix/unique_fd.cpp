// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/unique_fd.h"

#include <unistd.h>

namespace pling::runtime {

void TUniqueFd::Reset() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

}  // namespace pling::runtime
