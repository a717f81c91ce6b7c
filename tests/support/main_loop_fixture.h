// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A test fixture whose thread is the main thread: it installs a TEventLoop that
// serves the reader threads' deliveries while the test pumps it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "files.h"
#include "runtime/event_loop.h"
#include "runtime/main_thread.h"

namespace pling::testing {

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FLoop = std::make_shared<runtime::TEventLoop>();
    runtime::SetMainThread(FLoop);
  }
  void TearDown() override {
    runtime::SetMainThread(nullptr);
    FLoop->Shutdown();
  }

  // Serves deliveries until `done` holds; false if it did not within 10 s.
  bool PumpUntil(const std::function<bool()>& done) {
    return FLoop->RunUntil(done, std::chrono::seconds(10));
  }
  // Serves deliveries for a while (for checks that nothing more arrives).
  void PumpFor(std::chrono::milliseconds period) {
    const auto end = std::chrono::steady_clock::now() + period;
    while (std::chrono::steady_clock::now() < end)
      FLoop->ProcessEvents(std::chrono::milliseconds(5));
  }

  std::shared_ptr<runtime::TEventLoop> FLoop;
};

}  // namespace pling::testing
