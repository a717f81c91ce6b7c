// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/comment_change.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <utility>

#include "net/local_socket.h"

namespace pling::net {

runtime::TUniqueFd ListenForCommentChange(std::string_view name) {
  return ListenLocal(name);
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
  return ConnectLocal(name).Valid();
}

}  // namespace pling::net
