// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/main_thread.h"

#include <iostream>
#include <mutex>
#include <utility>

namespace pling::runtime {
namespace {

struct TMainThreadState {
  std::mutex lock;
  std::shared_ptr<IMainThread> mainThread;
  TApplicationErrorHandler errorHandler;
};

TMainThreadState& State() {
  // Never destroyed: worker threads may still ask for the main thread while the
  // process exits.
  static TMainThreadState* const state = new TMainThreadState();
  return *state;
}

void PrintApplicationException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
  } catch (...) {
    std::cerr << "Unknown exception\n";
  }
}

}  // namespace

void SetMainThread(std::shared_ptr<IMainThread> mainThread) {
  std::shared_ptr<IMainThread> previous;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    previous = std::exchange(State().mainThread, std::move(mainThread));
  }
  // `previous` may be the last reference; it is released outside the lock.
}

std::shared_ptr<IMainThread> MainThread() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().mainThread;
}

void SetApplicationErrorHandler(TApplicationErrorHandler handler) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().errorHandler = std::move(handler);
}

void HandleApplicationException(std::exception_ptr error) {
  if (!error) return;
  TApplicationErrorHandler handler;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    handler = State().errorHandler;
  }
  if (handler) {
    handler(std::move(error));
  } else {
    PrintApplicationException(error);
  }
}

}  // namespace pling::runtime
