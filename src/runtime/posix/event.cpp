// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "runtime/event_wait.h"

namespace pling::runtime {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEvent::TEvent() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (FFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TEvent::~TEvent() {
  ::close(FFd);
}

void TEvent::Set() {
  // Only write(2) here, and errno kept, so that a signal handler may call it.
  const int savedErrno = errno;
  const std::uint64_t one = 1;
  // EAGAIN means the counter is already (very) high: the event is set either way.
  while (::write(FFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
  errno = savedErrno;
}

void TEvent::Reset() {
  std::uint64_t value = 0;
  // One read takes the whole counter; EAGAIN means it was not set.
  while (::read(FFd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool TEvent::IsSet() const {
  return WaitForEvents({this}, milliseconds(0)) == 0;
}

bool TEvent::Wait(milliseconds timeout) const {
  return WaitForEvents({this}, timeout) == 0;
}

TDeadline::TDeadline(milliseconds timeout) {
  constexpr auto kForever = std::chrono::hours(24 * 365 * 100);
  if (timeout >= kForever) {
    FForever = true;
    return;
  }
  FEnd = steady_clock::now() + std::max(timeout, milliseconds(0));
}

bool TDeadline::Passed() const {
  return !FForever && steady_clock::now() >= FEnd;
}

milliseconds TDeadline::Remaining() const {
  if (FForever) return milliseconds::max();
  const auto left = FEnd - steady_clock::now();
  if (left <= steady_clock::duration::zero()) return milliseconds(0);
  return std::chrono::ceil<milliseconds>(left);
}

int WaitForEvents(std::initializer_list<const TEvent*> events, milliseconds timeout) {
  std::array<int, 8> descriptors{};
  if (events.size() > descriptors.size()) {
    throw std::invalid_argument("WaitForEvents: too many events");
  }
  std::size_t count = 0;
  for (const TEvent* event : events) {
    descriptors[count++] = event != nullptr ? event->NativeHandle() : -1;
  }
  return WaitForDescriptors(std::span<const int>(descriptors.data(), count), timeout);
}

int WaitForDescriptors(std::span<const int> descriptors, milliseconds timeout) {
  std::array<pollfd, 8> fds{};
  if (descriptors.size() > fds.size()) {
    throw std::invalid_argument("WaitForDescriptors: too many descriptors");
  }
  nfds_t count = 0;
  for (const int descriptor : descriptors) {
    // poll() skips negative descriptors, which keeps the indexes of the others.
    fds[count++] = pollfd{descriptor, POLLIN, 0};
  }
  const TDeadline deadline(timeout);
  for (;;) {
    const milliseconds left = deadline.Remaining();
    const int pollTimeout =
        deadline.Forever() ? -1
                           : static_cast<int>(std::min<milliseconds::rep>(left.count(), INT_MAX));
    const int ready = ::poll(fds.data(), count, pollTimeout);
    if (ready > 0) {
      for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents != 0) return static_cast<int>(i);
      }
    } else if (ready < 0 && errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "poll");
    } else if (ready == 0 && deadline.Passed()) {
      return -1;
    }
  }
}

}  // namespace pling::runtime
