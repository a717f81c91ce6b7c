// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/thread_name.h"

#include <pthread.h>

#include <string>

namespace pling::runtime {

void SetThreadName(std::string_view name) {
  // The kernel holds 15 characters and the terminating zero.
  const std::string cut(name.substr(0, 15));
  pthread_setname_np(pthread_self(), cut.c_str());
}

}  // namespace pling::runtime
