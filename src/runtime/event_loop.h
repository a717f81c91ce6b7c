// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A plain main-thread loop for programs without a GUI toolkit (the command line,
// tests, benchmarks): it serves synchronised calls from worker threads and runs
// posted work until asked to quit.
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/event.h"
#include "runtime/main_thread.h"
#include "runtime/sync_call.h"

namespace pling::runtime {

class TEventLoop : public TCallServer, public std::enable_shared_from_this<TEventLoop> {
 public:
  TEventLoop();  // the constructing thread is the loop's main thread
  ~TEventLoop() override;

  // Serves calls until Quit(). Returns at once if Quit() was already asked.
  void Run();
  // Serves calls until `done` returns true or the time-out passes; true when `done`
  // became true. `done` is checked before and after each call, and every few
  // milliseconds while no call comes (it may turn true on another thread). Once
  // Quit() was asked it no longer waits for calls. milliseconds::max() waits
  // without a time-out.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Serves whatever is waiting, waiting at most `timeout` for the first call (not
  // at all once Quit() was asked).
  void ProcessEvents(std::chrono::milliseconds timeout);

  // Calls waiting to be served (for tests that need a delivery under way).
  std::size_t PendingCalls() const;

  void Quit();  // async-signal-safe
  bool QuitRequested() const;
  // After Shutdown() no call is served any more: pending and later Synchronize
  // calls return false without running.
  void Shutdown();

 private:
  void QueueLocked(const std::shared_ptr<TSyncCall>& call) override;
  void Queued() override;
  bool RunOne(std::chrono::milliseconds timeout);

  std::deque<std::shared_ptr<TSyncCall>> FQueue;  // under FLock
  TEvent FWake;
  TEvent FQuit;
};

}  // namespace pling::runtime
