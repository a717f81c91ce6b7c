// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/QtMainThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <utility>

#include "runtime/sync_call.h"

#if defined(__SANITIZE_THREAD__)
#define PLING_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PLING_TSAN 1
#endif
#endif
#ifdef PLING_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace pling::app {

namespace {

// The hand-over of a call through Qt's event queue is ordered by locks inside
// Qt, which the thread checker cannot see; these mark that order for it.
void HandOver([[maybe_unused]] void* what) {
#ifdef PLING_TSAN
  __tsan_release(what);
#endif
}
void TakeOver([[maybe_unused]] void* what) {
#ifdef PLING_TSAN
  __tsan_acquire(what);
#endif
}

QEvent::Type CallEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

// A queued call: posted by the waiting thread, run by the receiver on the main
// thread, freed by Qt after that.
class TCallEvent : public QEvent {
 public:
  explicit TCallEvent(std::function<void()> run) : QEvent(CallEventType()), FRun(std::move(run)) {}
  void Run() const { FRun(); }

 private:
  std::function<void()> FRun;
};

}  // namespace

// Lives on the main thread and runs the calls posted to it.
class TQtMainThread::TReceiver : public QObject {
 public:
  bool event(QEvent* e) override {
    TakeOver(e);
    if (e->type() == CallEventType()) {
      static_cast<TCallEvent*>(e)->Run();
      return true;
    }
    return QObject::event(e);
  }
};

TQtMainThread::TQtMainThread() : FReceiver(std::make_unique<TReceiver>()) {}

TQtMainThread::~TQtMainThread() {
  Shutdown();
}

void TQtMainThread::QueueLocked(const std::shared_ptr<runtime::TSyncCall>& call) {
  FPending.insert(call);
  // Queued to the receiver, which lives on the main thread. The functor holds
  // the call only weakly through `self`: once shut down, nothing runs.
  std::weak_ptr<TQtMainThread> self = weak_from_this();
  auto* event = new TCallEvent([self, call] {
    if (auto owner = self.lock()) owner->Run(call);
  });
  HandOver(event);
  QCoreApplication::postEvent(FReceiver.get(), event);  // Qt owns the event now
}

void TQtMainThread::ForgetLocked(const std::shared_ptr<runtime::TSyncCall>& call) {
  FPending.erase(call);
}

void TQtMainThread::Run(const std::shared_ptr<runtime::TSyncCall>& call) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FPending.erase(call);
  }
  if (call->Claim(runtime::TSyncCall::Running)) call->Run();  // else cancelled or refused meanwhile
}

void TQtMainThread::Shutdown() {
  std::set<std::shared_ptr<runtime::TSyncCall>> pending;
  std::unique_ptr<TReceiver> receiver;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FShutdown = true;
    pending.swap(FPending);
    receiver = std::move(FReceiver);
  }
  // The receiver belongs to the main thread; its queued calls go with it. When
  // the last owner lets go on another thread, the main thread deletes it later.
  if (receiver) {
    if (std::this_thread::get_id() == FOwner) {
      receiver.reset();
    } else {
      receiver.release()->deleteLater();
    }
  }
  for (const auto& call : pending) call->Refuse();
}

}  // namespace pling::app
