// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The blocking "run this on the main thread" call that worker threads use, and the
// application's error handler. The GUI implements the call with a queued Qt
// invocation; the command line and the tests with TEventLoop.
#include <exception>
#include <functional>
#include <memory>

#include "runtime/event.h"

namespace pling::runtime {

class IMainThread {
 public:
  virtual ~IMainThread() = default;
  // Runs `fn` on the main thread, in line with its other work, and blocks until it
  // has returned. When `cancel` is set before `fn` started, or the main thread no
  // longer serves calls, `fn` never runs and the result is false. Called from the
  // main thread itself, `fn` runs at once. Exceptions from `fn` reach the caller.
  virtual bool Synchronize(const std::function<void()>& fn, const TEvent* cancel) = 0;
  // Runs `fn` on the main thread later, in line with its other work (calls from
  // one thread in the order they were made), without waiting for it; false when
  // the main thread no longer serves calls (it never runs then). What it raises
  // goes to the application's error handler.
  virtual bool Post(std::function<void()> fn) = 0;
};

// The process's main thread, as the GUI or the command line installed it.
void SetMainThread(std::shared_ptr<IMainThread> mainThread);
std::shared_ptr<IMainThread> MainThread();

// Reports an error that reached the application without a caller to take it (a
// failing event handler run for a worker thread). The default prints the message
// to standard error; the GUI shows it in a message box. Runs on the main thread.
using TApplicationErrorHandler = std::function<void(std::exception_ptr)>;
void SetApplicationErrorHandler(TApplicationErrorHandler handler);
void HandleApplicationException(std::exception_ptr error);

}  // namespace pling::runtime
