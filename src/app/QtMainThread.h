#pragma once
// The main-thread call served by the Qt event loop: a worker thread's call is
// queued to the main thread and the worker waits for it to end.
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "runtime/main_thread.h"

namespace pling::app {

class TQtMainThread : public runtime::IMainThread,
                      public std::enable_shared_from_this<TQtMainThread> {
 public:
  // The constructing thread, which runs the Qt event loop, is the main thread.
  TQtMainThread();
  ~TQtMainThread() override;

  bool Synchronize(const std::function<void()>& fn, const runtime::TEvent* cancel) override;

  // From now on no call runs: calls still waiting and later ones return false.
  // Main thread; call it before the event loop's objects go away.
  void Shutdown();

  struct TCall;
  class TReceiver;

 private:
  void Run(const std::shared_ptr<TCall>& call);

  std::thread::id FOwner;
  std::unique_ptr<TReceiver> FReceiver;  // lives on the main thread; queued calls go to it
  std::mutex FLock;
  std::set<std::shared_ptr<TCall>> FPending;
  bool FShutdown = false;
};

}  // namespace pling::app
