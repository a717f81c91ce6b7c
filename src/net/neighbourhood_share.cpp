// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/neighbourhood_share.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>

#include "net/local_socket.h"

namespace pling::net {

namespace {

// More than 10,000 machines with their people take.
constexpr std::size_t kMaxListBytes = 16 << 20;

}  // namespace

runtime::TUniqueFd ListenForNeighbourhood(std::string_view name) {
  return ListenLocal(name);
}

void ServeNeighbourhood(int listener, std::string_view encoded) {
  for (;;) {
    runtime::TUniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.Valid()) {
      if (errno == EINTR) continue;
      return;  // none waits any more (or no descriptor left: it tries again)
    }
    const timeval most{1, 0};
    ::setsockopt(client.Get(), SOL_SOCKET, SO_SNDTIMEO, &most, sizeof most);
    std::string_view rest = encoded;
    while (!rest.empty()) {
      const ssize_t sent = ::send(client.Get(), rest.data(), rest.size(), MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) break;
      rest.remove_prefix(static_cast<std::size_t>(sent));
    }
  }
}

std::optional<std::vector<TMachine>> FetchNeighbourhood(std::chrono::milliseconds timeout,
                                                        std::string_view name) {
  runtime::TUniqueFd fd = ConnectLocal(name);
  if (!fd.Valid()) return std::nullopt;
  const auto end = std::chrono::steady_clock::now() + timeout;
  std::string bytes;
  std::array<char, 65536> buffer;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd readable{fd.Get(), POLLIN, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    const ssize_t got = ::recv(fd.Get(), buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    bytes.append(buffer.data(), static_cast<std::size_t>(got));
    if (bytes.size() > kMaxListBytes) return std::nullopt;
  }
  return DecodeMachines(bytes);
}

}  // namespace pling::net
