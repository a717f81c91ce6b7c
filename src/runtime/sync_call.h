#pragma once
// One call handed from a worker thread to the main thread, which its caller waits
// for. The state leaves Pending exactly once, by compare-and-swap: to Running (the
// main thread took it), Cancelled (the caller gave up first) or Refused (the main
// thread no longer serves calls), so a call never both runs and reports that it
// did not. The main-thread loops (the command line's and the GUI's) share it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>

#include "runtime/event.h"

namespace pling::runtime {

struct TSyncCall {
  enum : int { Pending, Running, Done, Cancelled, Refused };

  std::atomic<int> state{Pending};
  std::exception_ptr error;  // what the call raised, for its caller
  // The caller waits here for Done or Refused. (A condition variable rather than
  // a descriptor: a call costs no file handle.)
  std::mutex lock;
  std::condition_variable ended;

  bool Claim(int newState) {
    int expected = Pending;
    return state.compare_exchange_strong(expected, newState, std::memory_order_acq_rel);
  }
  bool Ended() const {
    const int current = state.load(std::memory_order_acquire);
    return current == Done || current == Refused;
  }
  void End(int finalState) {
    {
      std::lock_guard<std::mutex> guard(lock);
      state.store(finalState, std::memory_order_release);
    }
    ended.notify_all();
  }

  // The caller's side: waits until the call has ended. While it has not started,
  // `cancel` is looked at every `cancelCheck`, and a cancel that wins the call
  // returns false at once; once the main thread runs the call it is waited for to
  // the end without waking (a delivery may show a modal box for minutes). True
  // when the call ran; what it raised is raised again here, on the caller's thread.
  bool Wait(const TEvent* cancel, std::chrono::milliseconds cancelCheck) {
    std::unique_lock<std::mutex> waiting(lock);
    const auto hasEnded = [this] { return Ended(); };
    if (cancel == nullptr) {
      ended.wait(waiting, hasEnded);
    } else {
      while (!ended.wait_for(waiting, cancelCheck, hasEnded)) {
        if (state.load(std::memory_order_acquire) != Pending) {
          ended.wait(waiting, hasEnded);
          break;
        }
        if (!cancel->IsSet()) continue;
        if (Claim(Cancelled)) return false;
        ended.wait(waiting, hasEnded);
        break;
      }
    }
    waiting.unlock();
    if (state.load(std::memory_order_acquire) != Done) return false;  // refused
    if (std::exception_ptr raised = std::exchange(error, nullptr)) {
      std::rethrow_exception(raised);
    }
    return true;
  }
};

}  // namespace pling::runtime
