// SPDX-License-Identifier: GPL-3.0-or-later
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
// How often RunUntil looks at its condition while no call arrives.
constexpr milliseconds kDoneCheck(5);
}  // namespace

TEventLoop::TEventLoop() = default;

TEventLoop::~TEventLoop() {
  Shutdown();
}

void TEventLoop::QueueLocked(const std::shared_ptr<TSyncCall>& call) {
  FQueue.push_back(call);
}

void TEventLoop::Queued() {
  // Outside the lock: the main thread, woken, takes the call at once. (A wake
  // for a call it took already only has it look at an empty queue.)
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
  std::deque<std::shared_ptr<TSyncCall>> pending;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FShutdown = true;
    pending.swap(FQueue);
    FWake.Reset();
  }
  for (const auto& call : pending) call->Refuse();
}

// Runs one waiting call, waiting up to `timeout` for one; false when none ran
// because the time-out passed or Quit() was asked.
bool TEventLoop::RunOne(milliseconds timeout) {
  const TDeadline deadline(timeout);
  for (;;) {
    std::shared_ptr<TSyncCall> call;
    {
      std::lock_guard<std::mutex> guard(FLock);
      while (!call && !FQueue.empty()) {
        std::shared_ptr<TSyncCall> next = std::move(FQueue.front());
        FQueue.pop_front();
        if (next->Claim(TSyncCall::Running))
          call = std::move(next);  // else cancelled by its caller
      }
      if (FQueue.empty()) FWake.Reset();
    }
    if (call) {
      call->Run();
      return true;
    }
    if (QuitRequested() || deadline.Passed()) return false;
    WaitForEvents({&FWake, &FQuit}, deadline.Remaining());
  }
}

}  // namespace pling::runtime
