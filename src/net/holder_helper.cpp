// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/holder_helper.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "net/inherited_sockets.h"
#include "net/port_holder.h"
#include "net/socket.h"

#ifndef PLING_HOLDER_HELPER_PATH
#define PLING_HOLDER_HELPER_PATH ""
#endif

namespace pling::net {

std::string HolderHelperPath() {
  if (const char* path = std::getenv("PLING_HOLDER_HELPER")) return path;
  return PLING_HOLDER_HELPER_PATH;
}

bool IsHolderHelper(const std::string& path) {
  struct stat status {};
  return !path.empty() && path.front() == '/' && ::stat(path.c_str(), &status) == 0 &&
         S_ISREG(status.st_mode) && ::getxattr(path.c_str(), "security.capability", nullptr, 0) > 0;
}

bool HelperRunnable(const std::string& path) {
  return IsHolderHelper(path) && ::access(path.c_str(), X_OK) == 0;
}

runtime::TUniqueFd StartHolderHelper(const std::string& path) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  const runtime::TUniqueFd readEnd(ends[0]);
  runtime::TUniqueFd writeEnd(ends[1]);
  const runtime::TUniqueFd nothing(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!nothing.Valid() || readEnd.Get() <= STDERR_FILENO || nothing.Get() <= STDERR_FILENO) {
    return {};
  }
  // Made before the fork: between fork and exec the child of a process with
  // threads calls only what is safe there.
  std::string program = path;
  char bind[] = "--bind";
  char* const argv[] = {program.data(), bind, nullptr};
  const pid_t child = ::fork();
  if (child < 0) return {};
  if (child == 0) {
    // A session of its own, and a grandchild that the system adopts, so that
    // nobody has to wait for the helper's end.
    if (::setsid() < 0) ::_exit(1);
    const pid_t helper = ::fork();
    if (helper != 0) ::_exit(helper < 0 ? 1 : 0);
    if (::dup2(readEnd.Get(), STDIN_FILENO) < 0 || ::dup2(nothing.Get(), STDOUT_FILENO) < 0) {
      ::_exit(127);
    }
    // Nothing else of this process goes with it.
    ::close_range(3, ~0U, 0);
    ::execve(argv[0], argv, environ);
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return {};
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return writeEnd;
}

bool HelperRunning(int lifeline) {
  // A pipe's write end reports an error once nobody has its read end open.
  pollfd fd{lifeline, 0, 0};
  return lifeline >= 0 && ::poll(&fd, 1, 0) >= 0 && (fd.revents & (POLLERR | POLLNVAL)) == 0;
}

std::string BindHolderPorts(std::uint16_t namePort, std::uint16_t datagramPort,
                            std::uint16_t sessionPort) {
  for (const std::uint16_t port : {namePort, datagramPort}) {
    runtime::TUniqueFd fd = OpenUdpSocket(port, true);
    if (!fd.Valid()) {
      const int error = errno;
      const std::string number = std::to_string(port);
      if (error == EADDRINUSE) {
        return CannotReceive("another program (such as a NetBIOS name server) holds UDP port " +
                             number + ".");
      }
      if (error == EACCES || error == EPERM) {
        return CannotReceive("this helper may not use UDP port " + number +
                             ": it lacks the capability cap_net_bind_service (see pling(1)).");
      }
      return CannotReceive("UDP port " + number + " cannot be opened (" + std::strerror(error) +
                           ").");
    }
    AdoptSockets(fd.Release(), 1);
  }
  if (sessionPort == 0) return {};
  runtime::TUniqueFd session(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(sessionPort);
  if (session.Valid() &&
      ::setsockopt(session.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
      ::bind(session.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::listen(session.Get(), 64) == 0) {
    AdoptSockets(session.Release(), 1);
  }
  return {};
}

bool DropCapabilities() {
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3]{};
  if (::syscall(SYS_capset, &header, none) != 0) return false;
  // Nor can it gain any again.
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

}  // namespace pling::net
