// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting, with a limit, for something another thread or process does.
#include <chrono>
#include <functional>
#include <thread>

namespace pling::testing {

// Asks `done` every `step` until it holds or `timeout` has passed; whether it held.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20),
                      std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(step);
  }
  return done();
}

}  // namespace pling::testing
