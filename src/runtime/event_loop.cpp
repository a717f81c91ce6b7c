#include "runtime/event_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <utility>

#include "runtime/event_wait.h"
#include "runtime/sync_call.h"

namespace pling::runtime {

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
// function.
struct TEventLoop::TCall : TSyncCall {
  std::function<void()> owned;
  const std::function<void()>* borrowed = nullptr;
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

  return call->Wait(cancel, kCancelCheck);
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

}  // namespace pling::runtime
