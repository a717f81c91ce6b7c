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
// How often a caller whose call has not started yet looks at its cancel event.
constexpr std::chrono::milliseconds kCancelCheck(5);

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

// One call on its way to the main thread.
struct TQtMainThread::TCall : runtime::TSyncCall {
  const std::function<void()>* fn = nullptr;  // lives on the waiting caller's stack
};

TQtMainThread::TQtMainThread()
    : FOwner(std::this_thread::get_id()), FReceiver(std::make_unique<TReceiver>()) {}

TQtMainThread::~TQtMainThread() {
  Shutdown();
}

bool TQtMainThread::Synchronize(const std::function<void()>& fn, const runtime::TEvent* cancel) {
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
  call->fn = &fn;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FShutdown) return false;
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

  if (call->Wait(cancel, kCancelCheck)) return true;
  // Cancelled or refused: it no longer waits for the main thread.
  std::lock_guard<std::mutex> guard(FLock);
  FPending.erase(call);
  return false;
}

void TQtMainThread::Run(const std::shared_ptr<TCall>& call) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FPending.erase(call);
  }
  if (!call->Claim(TCall::Running)) return;  // cancelled or refused meanwhile
  try {
    (*call->fn)();
  } catch (...) {
    call->error = std::current_exception();
  }
  call->End(TCall::Done);
}

void TQtMainThread::Shutdown() {
  std::set<std::shared_ptr<TCall>> pending;
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
  for (const auto& call : pending) {
    if (call->Claim(TCall::Refused)) call->End(TCall::Refused);
  }
}

}  // namespace pling::app
