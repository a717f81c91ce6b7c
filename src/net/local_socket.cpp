// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/local_socket.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstddef>
#include <utility>

namespace pling::net {

namespace {

// The name after the leading zero byte that marks the abstract namespace; cut to
// what the address holds.
std::pair<sockaddr_un, socklen_t> Address(std::string_view name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  name = name.substr(0, sizeof address.sun_path - 1);
  std::copy(name.begin(), name.end(), address.sun_path + 1);
  return {address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())};
}

}  // namespace

runtime::TUniqueFd ListenLocal(std::string_view name) {
  runtime::TUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return fd;
  const auto [address, length] = Address(name);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd.Get(), 16) != 0) {
    fd.Reset();
  }
  return fd;
}

runtime::TUniqueFd ConnectLocal(std::string_view name) {
  runtime::TUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return fd;
  const auto [address, length] = Address(name);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) fd.Reset();
  return fd;
}

}  // namespace pling::net
