// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A manual-reset event that a thread can wait on together with other file
// descriptors (it is an eventfd underneath). Set() is async-signal-safe.
#include <chrono>

namespace pling::runtime {

class TEvent {
 public:
  TEvent();
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();  // signalled until Reset(); safe from any thread and from a signal handler
  void Reset();
  bool IsSet() const;
  // Waits until the event is set or the time-out passes; true when set.
  bool Wait(std::chrono::milliseconds timeout) const;
  int NativeHandle() const { return FFd; }  // readable while the event is set

 private:
  int FFd = -1;
};

}  // namespace pling::runtime
