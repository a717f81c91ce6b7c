// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one owner of a file descriptor (socket, epoll, inotify): closes it when it
// goes, unless it was released.
#include <utility>

namespace pling::runtime {

class TUniqueFd {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) : FFd(fd) {}
  ~TUniqueFd() { Reset(); }
  TUniqueFd(TUniqueFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      FFd = std::exchange(other.FFd, -1);
    }
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Closes the descriptor (if any); the owner holds none afterwards.
  void Reset();
  // Hands the descriptor over to the caller, who closes it.
  int Release() { return std::exchange(FFd, -1); }

 private:
  int FFd = -1;
};

}  // namespace pling::runtime
