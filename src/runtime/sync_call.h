// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One call handed from a worker thread to the main thread, which its caller waits
// for. The state leaves Pending exactly once, by compare-and-swap: to Running (the
// main thread took it), Cancelled (the caller gave up first) or Refused (the main
// thread no longer serves calls), so a call never both runs and reports that it
// did not. The main-thread loops (the command line's and the GUI's) share it,
// and TCallServer, the caller's side of their Synchronize.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "runtime/event.h"
#include "runtime/main_thread.h"

namespace pling::runtime {

struct TSyncCall {
  enum : int { Pending, Running, Done, Cancelled, Refused };

  std::atomic<int> state{Pending};
  std::exception_ptr error;  // what the call raised, for its caller
  // A synchronised call runs its caller's function, which lives while the caller
  // waits; a posted call (nobody waits for it) owns its function.
  const std::function<void()>* fn = nullptr;
  std::function<void()> owned;
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

  // The main thread's side, once Claim(Running) won: runs the function. What it
  // raises goes to the waiting caller, or for a posted call to the application's
  // error handler.
  void Run() {
    try {
      if (fn != nullptr) {
        (*fn)();
      } else {
        owned();
      }
    } catch (...) {
      if (fn != nullptr) {
        error = std::current_exception();
      } else {
        HandleApplicationException(std::current_exception());
      }
    }
    End(Done);
  }
  // The main thread no longer serves calls: one still pending ends unrun.
  void Refuse() {
    if (Claim(Refused)) End(Refused);
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

// The caller's side of a main-thread loop: Synchronize runs a call at once on the
// main thread itself, else hands it to the loop (QueueLocked) and waits for it. A
// loop runs what it was handed with TSyncCall::Run and, once shut down, refuses
// the rest.
class TCallServer : public IMainThread {
 public:
  bool Synchronize(const std::function<void()>& fn, const TEvent* cancel) final {
    if (cancel != nullptr && cancel->IsSet()) return false;
    if (std::this_thread::get_id() == FOwner) {
      {
        std::lock_guard<std::mutex> guard(FLock);
        if (FShutdown) return false;
      }
      fn();
      return true;
    }
    auto call = std::make_shared<TSyncCall>();
    call->fn = &fn;
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FShutdown) return false;
      QueueLocked(call);
    }
    Queued();
    if (call->Wait(cancel, kCancelCheck)) return true;
    // Cancelled or refused: it no longer waits for the main thread.
    std::lock_guard<std::mutex> guard(FLock);
    ForgetLocked(call);
    return false;
  }

  bool Post(std::function<void()> fn) final {
    auto call = std::make_shared<TSyncCall>();
    call->owned = std::move(fn);
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FShutdown) return false;
      QueueLocked(call);
    }
    Queued();
    return true;
  }

 protected:
  TCallServer()
      : FOwner(std::this_thread::get_id()) {}  // the constructing thread is the main thread

  // Hands `call` to the main thread. Under FLock, and only while not shut down.
  virtual void QueueLocked(const std::shared_ptr<TSyncCall>& call) = 0;
  // After QueueLocked, with FLock released: a loop that wakes its main thread
  // here does not wake it into a lock still held.
  virtual void Queued() {}
  // Its caller gave up on `call` (cancelled, or refused). Under FLock.
  virtual void ForgetLocked(const std::shared_ptr<TSyncCall>& /*call*/) {}

  // How often a caller whose call has not started yet looks at its cancel event;
  // only while such a call waits, so an idle loop wakes nobody.
  static constexpr std::chrono::milliseconds kCancelCheck{5};

  const std::thread::id FOwner;
  mutable std::mutex FLock;
  bool FShutdown = false;  // under FLock
};

}  // namespace pling::runtime
