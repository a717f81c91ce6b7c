// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/inherited_sockets.h"

namespace pling::net {

runtime::TUniqueFd OpenUdpSocket(std::uint16_t port, bool broadcast) {
  const int on = 1;
  // A socket the service manager bound for this process (inherited_sockets.h).
  if (runtime::TUniqueFd inherited =
          port != 0 ? InheritedSocket(SOCK_DGRAM, port) : runtime::TUniqueFd();
      inherited.Valid()) {
    if (broadcast) ::setsockopt(inherited.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    return inherited;
  }
  runtime::TUniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return fd;
  if (broadcast && ::setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    return runtime::TUniqueFd();
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    fd.Reset();
    errno = error;
  }
  return fd;
}

bool SendTo(int fd, std::string_view payload, std::uint32_t address, std::uint16_t port,
            bool waitForRoom) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(port);
  for (;;) {
    const ssize_t sent = ::sendto(fd, payload.data(), payload.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitForRoom) {
      // The send buffer is full: wait a little for room, once.
      pollfd writable{fd, POLLOUT, 0};
      if (::poll(&writable, 1, 200) > 0) {
        const ssize_t again = ::sendto(fd, payload.data(), payload.size(), MSG_NOSIGNAL,
                                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return again >= 0 && static_cast<std::size_t>(again) == payload.size();
      }
      return false;
    }
    return sent >= 0 && static_cast<std::size_t>(sent) == payload.size();
  }
}

}  // namespace pling::net
