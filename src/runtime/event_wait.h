// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting on several events at once, with a time-out that may mean "forever".
#include <chrono>
#include <initializer_list>
#include <span>

#include "runtime/event.h"

namespace pling::runtime {

// The moment a wait with a time-out ends. Time-outs of a hundred years or more
// (such as milliseconds::max()) wait forever; negative ones do not wait.
class TDeadline {
 public:
  explicit TDeadline(std::chrono::milliseconds timeout);
  bool Forever() const { return FForever; }
  bool Passed() const;
  // What is left, rounded up to whole milliseconds; milliseconds::max() when forever.
  std::chrono::milliseconds Remaining() const;

 private:
  std::chrono::steady_clock::time_point FEnd;
  bool FForever = false;
};

// Waits until one of `events` is set or the time-out passes; null entries are
// ignored. Returns the index of a set event, or -1 when the time-out passed.
// At most eight events.
int WaitForEvents(std::initializer_list<const TEvent*> events, std::chrono::milliseconds timeout);
// The same for readable descriptors; negative entries are ignored.
int WaitForDescriptors(std::span<const int> descriptors, std::chrono::milliseconds timeout);

}  // namespace pling::runtime
