// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/inherited_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

namespace pling::net {

namespace {

struct TInherited {
  int fd;
  int type;
  std::uint16_t port;
};

std::mutex gLock;
std::vector<TInherited>& Sockets() {
  static auto* const sockets = new std::vector<TInherited>();  // lives as long as the process
  return *sockets;
}

bool ParseNumber(const char* text, long& value) {
  if (text == nullptr) return false;
  const std::string_view view(text);
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  return error == std::errc() && end == view.data() + view.size() && !view.empty();
}

}  // namespace

int AdoptSockets(int first, int count) {
  int taken = 0;
  std::lock_guard<std::mutex> guard(gLock);
  for (int fd = first; fd < first + count; ++fd) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    int type = 0;
    socklen_t typeLength = sizeof type;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    // Only IPv4 sockets are of use; anything else stays open, unused.
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
      continue;
    }
    Sockets().push_back(TInherited{fd, type, ntohs(address.sin_port)});
    ++taken;
  }
  return taken;
}

int AdoptInheritedSockets() {
  constexpr int kFirstHandedOver = 3;  // SD_LISTEN_FDS_START
  long pid = 0;
  long count = 0;
  const bool ours = ParseNumber(std::getenv("LISTEN_PID"), pid) && pid == ::getpid() &&
                    ParseNumber(std::getenv("LISTEN_FDS"), count) && count > 0 && count < 256;
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  return ours ? AdoptSockets(kFirstHandedOver, static_cast<int>(count)) : 0;
}

runtime::TUniqueFd InheritedSocket(int type, std::uint16_t port) {
  std::lock_guard<std::mutex> guard(gLock);
  for (const TInherited& socket : Sockets()) {
    if (socket.type != type || socket.port != port) continue;
    runtime::TUniqueFd copy(::fcntl(socket.fd, F_DUPFD_CLOEXEC, 0));
    if (copy.Valid()) {
      const int flags = ::fcntl(copy.Get(), F_GETFL);
      ::fcntl(copy.Get(), F_SETFL, flags | O_NONBLOCK);
    }
    return copy;
  }
  return {};
}

}  // namespace pling::net
