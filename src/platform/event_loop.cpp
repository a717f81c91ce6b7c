#include "platform/event_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <utility>

#include "platform/event_wait.h"

namespace pling::platform {

using std::chrono::milliseconds;

namespace {
// How often a caller waiting for a call that has not started yet looks at its
// cancel event. Only while such a call waits; an idle loop wakes nobody.
constexpr milliseconds kCancelCheck(5);
// How often RunUntil looks at its condition while no call arrives.
constexpr milliseconds kDoneCheck(5);
}  // namespace

// One call waiting for the main thread. A synchronised call points at the
// caller's function, which lives while the caller waits; a posted call owns its
// function. The state moves from Pending to Running (main thread) or to Cancelled
// (the caller gave up) or Refused (Shutdown) exactly once, by compare-and-swap,
// so a call never both runs and reports that it did not.
struct TEventLoop::TCall {
  enum : int { Pending, Running, Done, Cancelled, Refused };

  std::function<void()> owned;
  const std::function<void()>* borrowed = nullptr;
  std::atomic<int> state{Pending};
  std::exception_ptr error;
  // The caller of a synchronised call waits here for Done or Refused. (A
  // condition variable rather than a descriptor: a call costs no file handle.)
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
};

TEventLoop::TEventLoop() : FOwner(std::this_thread::get_id()) {}

TEventLoop::~TEventLoop() {
  Shutdown();
}

bool TEventLoop::Synchronize(const std::function<void()>& fn, const TEvent* cancel) {
  if (cancel != nullptr && cancel->IsSet()) return false;
  if (std::this_thread::get_id() == FOwner) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FShutdown) return false;
    }
    fn();
    return true;
  }

  auto call = std::make_shared<TCall>();
  call->borrowed = &fn;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FShutdown) return false;
    FQueue.push_back(call);
    FWake.Set();
  }

  std::unique_lock<std::mutex> waiting(call->lock);
  if (cancel == nullptr) {
    call->ended.wait(waiting, [&] { return call->Ended(); });
  } else {
    // The cancel event is looked at while the call has not started; once it has,
    // it is waited for to the end (`fn` lives on this thread's stack).
    while (!call->ended.wait_for(waiting, kCancelCheck, [&] { return call->Ended(); })) {
      // Once the main thread runs the call, a cancel can no longer win: wait for
      // the end without waking (a delivery may show a modal box for minutes).
      if (call->state.load(std::memory_order_acquire) != TCall::Pending) {
        call->ended.wait(waiting, [&] { return call->Ended(); });
        break;
      }
      if (!cancel->IsSet()) continue;
      if (call->Claim(TCall::Cancelled)) return false;
      call->ended.wait(waiting, [&] { return call->Ended(); });
      break;
    }
  }
  waiting.unlock();
  if (call->state.load(std::memory_order_acquire) != TCall::Done) return false;  // refused
  // Taken out of the call, so that the exception is released on this thread only.
  if (std::exception_ptr error = std::exchange(call->error, nullptr)) {
    std::rethrow_exception(error);
  }
  return true;
}

void TEventLoop::Post(std::function<void()> fn) {
  auto call = std::make_shared<TCall>();
  call->owned = std::move(fn);
  std::lock_guard<std::mutex> guard(FLock);
  if (FShutdown) return;
  FQueue.push_back(std::move(call));
  FWake.Set();
}

void TEventLoop::Run() {
  while (!QuitRequested()) RunOne(milliseconds::max());
}

bool TEventLoop::RunUntil(const std::function<bool()>& done, milliseconds timeout) {
  const TDeadline deadline(timeout);
  for (;;) {
    if (done()) return true;
    // `done` may also turn true on another thread, without a call: it is looked
    // at again after a short while without calls too.
    if (!RunOne(std::min(deadline.Remaining(), kDoneCheck)) &&
        (deadline.Passed() || QuitRequested())) {
      return done();
    }
  }
}

void TEventLoop::ProcessEvents(milliseconds timeout) {
  if (!RunOne(timeout)) return;
  // Only what is waiting now: work that re-posts itself cannot keep this going.
  std::size_t waiting = 0;
  {
    std::lock_guard<std::mutex> guard(FLock);
    waiting = FQueue.size();
  }
  while (waiting-- > 0 && RunOne(milliseconds(0))) {
  }
}

std::size_t TEventLoop::PendingCalls() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FQueue.size();
}

void TEventLoop::Quit() {
  FQuit.Set();
}

bool TEventLoop::QuitRequested() const {
  return FQuit.IsSet();
}

void TEventLoop::Shutdown() {
  std::deque<std::shared_ptr<TCall>> pending;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FShutdown = true;
    pending.swap(FQueue);
    FWake.Reset();
  }
  for (const auto& call : pending) {
    if (call->Claim(TCall::Refused)) call->End(TCall::Refused);
  }
}

// Runs one waiting call, waiting up to `timeout` for one; false when none ran
// because the time-out passed or Quit() was asked.
bool TEventLoop::RunOne(milliseconds timeout) {
  const TDeadline deadline(timeout);
  for (;;) {
    std::shared_ptr<TCall> call;
    {
      std::lock_guard<std::mutex> guard(FLock);
      while (!call && !FQueue.empty()) {
        std::shared_ptr<TCall> next = std::move(FQueue.front());
        FQueue.pop_front();
        if (next->Claim(TCall::Running)) call = std::move(next);  // else cancelled by its caller
      }
      if (FQueue.empty()) FWake.Reset();
    }
    if (call) {
      try {
        if (call->borrowed != nullptr) {
          (*call->borrowed)();
        } else {
          call->owned();
        }
      } catch (...) {
        if (call->borrowed != nullptr) {
          call->error = std::current_exception();
        } else {
          HandleApplicationException(std::current_exception());
        }
      }
      call->End(TCall::Done);
      return true;
    }
    if (QuitRequested() || deadline.Passed()) return false;
    WaitForEvents({&FWake, &FQuit}, deadline.Remaining());
  }
}

}  // namespace pling::platform
