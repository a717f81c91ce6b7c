#pragma once
// Small helpers around the UDP and Unix sockets the transport uses.
#include <cstdint>
#include <string_view>
#include <utility>

namespace pling::net {

// Owns a file descriptor.
class TFd {
 public:
  TFd() = default;
  explicit TFd(int fd) : FFd(fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TFd& operator=(TFd&& other) noexcept {
    if (this != &other) {
      Reset();
      FFd = std::exchange(other.FFd, -1);
    }
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  void Reset();

 private:
  int FFd = -1;
};

// A non-blocking UDP socket bound to `port` (0: any free one) on every IPv4
// address, allowed to broadcast. Invalid on failure, with errno set.
TFd OpenUdpSocket(std::uint16_t port, bool broadcast);

// Sends one datagram to `address`:`port` (host byte order). False when the kernel
// did not take it whole. A full send buffer is waited for a little, unless
// `waitForRoom` is false.
bool SendTo(int fd, std::string_view payload, std::uint32_t address, std::uint16_t port,
            bool waitForRoom = true);

}  // namespace pling::net
