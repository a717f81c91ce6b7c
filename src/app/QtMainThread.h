// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main-thread call served by the Qt event loop: a worker thread's call is
// queued to the main thread and the worker waits for it to end.
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "runtime/sync_call.h"

namespace pling::app {

class TQtMainThread : public runtime::TCallServer,
                      public std::enable_shared_from_this<TQtMainThread> {
 public:
  // The constructing thread, which runs the Qt event loop, is the main thread.
  TQtMainThread();
  ~TQtMainThread() override;

  // From now on no call runs: calls still waiting and later ones return false.
  // Main thread; call it before the event loop's objects go away.
  void Shutdown();

  class TReceiver;

 private:
  void QueueLocked(const std::shared_ptr<runtime::TSyncCall>& call) override;
  void ForgetLocked(const std::shared_ptr<runtime::TSyncCall>& call) override;
  void Run(const std::shared_ptr<runtime::TSyncCall>& call);

  std::unique_ptr<TReceiver> FReceiver;  // lives on the main thread; queued calls go to it
  std::set<std::shared_ptr<runtime::TSyncCall>> FPending;  // under FLock
};

}  // namespace pling::app
