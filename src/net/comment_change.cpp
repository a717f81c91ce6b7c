// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/comment_change.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <utility>

namespace pling::net {

namespace {

std::pair<sockaddr_un, socklen_t> Address(std::string_view name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  name = name.substr(0, sizeof address.sun_path - 1);
  std::copy(name.begin(), name.end(), address.sun_path + 1);
  return {address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())};
}

}  // namespace

runtime::TUniqueFd ListenForCommentChange(std::string_view name) {
  runtime::TUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return fd;
  const auto [address, length] = Address(name);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd.Get(), 16) != 0) {
    fd.Reset();
  }
  return fd;
}

bool TakeCommentChanges(int listener) {
  bool ours = false;
  for (;;) {
    runtime::TUniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.Valid()) {
      if (errno == EINTR) continue;
      return ours;  // none waits any more (or no descriptor left: it comes again)
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(client.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
        size == sizeof peer && peer.uid == ::geteuid()) {
      ours = true;
    }
  }
}

bool TellCommentChanged(std::string_view name) {
  runtime::TUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return false;
  const auto [address, length] = Address(name);
  return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

}  // namespace pling::net
