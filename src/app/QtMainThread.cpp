#include "app/QtMainThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <utility>

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

// One call on its way to the main thread. Its state leaves Pending exactly once,
// by compare-and-swap: to Running (the main thread took it), Cancelled (the
// caller gave up first) or Refused (shut down), so a call never both runs and
// reports that it did not.
struct TQtMainThread::TCall {
  enum : int { Pending, Running, Done, Cancelled, Refused };

  const std::function<void()>* fn = nullptr;  // lives on the waiting caller's stack
  std::atomic<int> state{Pending};
  std::exception_ptr error;
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

TQtMainThread::TQtMainThread()
    : FOwner(std::this_thread::get_id()), FReceiver(std::make_unique<TReceiver>()) {}

TQtMainThread::~TQtMainThread() {
  Shutdown();
}

bool TQtMainThread::Synchronize(const std::function<void()>& fn, const platform::TEvent* cancel) {
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

  std::unique_lock<std::mutex> waiting(call->lock);
  if (cancel == nullptr) {
    call->ended.wait(waiting, [&] { return call->Ended(); });
  } else {
    while (!call->ended.wait_for(waiting, kCancelCheck, [&] { return call->Ended(); })) {
      // Once the main thread runs the call, a cancel can no longer win: wait for
      // its end (it may show a modal box for minutes) without waking.
      if (call->state.load(std::memory_order_acquire) != TCall::Pending) {
        call->ended.wait(waiting, [&] { return call->Ended(); });
        break;
      }
      if (!cancel->IsSet()) continue;
      if (call->Claim(TCall::Cancelled)) {
        waiting.unlock();
        std::lock_guard<std::mutex> guard(FLock);
        FPending.erase(call);
        return false;
      }
      call->ended.wait(waiting, [&] { return call->Ended(); });
      break;
    }
  }
  waiting.unlock();
  if (call->state.load(std::memory_order_acquire) != TCall::Done) return false;  // refused
  if (std::exception_ptr error = std::exchange(call->error, nullptr)) {
    std::rethrow_exception(error);
  }
  return true;
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
