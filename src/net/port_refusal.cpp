// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/port_refusal.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "runtime/unique_fd.h"

namespace pling::net {

namespace {

bool InUse(const TPortRefusal& refusal) {
  return refusal.error == EADDRINUSE;
}

bool NotAllowed(const TPortRefusal& refusal) {
  return refusal.error == EACCES || refusal.error == EPERM;
}

// "137", "137 and 138", "137, 138 and 139": the numbers in ascending order.
std::string Numbers(std::vector<std::uint16_t> ports) {
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  std::string text;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (i > 0) text += i + 1 == ports.size() ? " and " : ", ";
    text += std::to_string(ports[i]);
  }
  return text;
}

// The ports by protocol, UDP first: "UDP ports 137 and 138, and TCP port 139"
// in a sentence, "UDP 137 and 138, TCP 139" in a few words.
std::string Names(const std::vector<TPortRefusal>& refused, bool brief) {
  std::string text;
  for (const bool tcp : {false, true}) {
    std::vector<std::uint16_t> ports;
    for (const TPortRefusal& refusal : refused) {
      if (refusal.tcp == tcp) ports.push_back(refusal.port);
    }
    if (ports.empty()) continue;
    if (!text.empty()) text += brief ? ", " : ", and ";
    text += tcp ? "TCP " : "UDP ";
    if (!brief) text += ports.size() > 1 ? "ports " : "port ";
    text += Numbers(std::move(ports));
  }
  return text;
}

std::vector<TPortRefusal> Those(const std::vector<TPortRefusal>& refused,
                                bool (*which)(const TPortRefusal&)) {
  std::vector<TPortRefusal> those;
  std::copy_if(refused.begin(), refused.end(), std::back_inserter(those), which);
  return those;
}

}  // namespace

std::optional<TPortRefusal> ProbePort(bool tcp, std::uint16_t port) {
  runtime::TUniqueFd fd(::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return TPortRefusal{tcp, port, errno};
  if (tcp) {
    // As the session server binds it: a port whose last holder's connections
    // still linger is free.
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return TPortRefusal{tcp, port, errno};
  }
  return std::nullopt;
}

std::string RefusalText(const std::vector<TPortRefusal>& refused, const std::string& groupHelper) {
  std::vector<std::string> parts;
  if (const auto held = Those(refused, InUse); !held.empty()) {
    const bool udp = std::any_of(held.begin(), held.end(), [](auto& r) { return !r.tcp; });
    const bool tcp = std::any_of(held.begin(), held.end(), [](auto& r) { return r.tcp; });
    const char* example = udp && tcp ? "Samba"
                          : udp      ? "a NetBIOS name server"
                                     : "Samba's file server";
    parts.push_back(std::string("another program (such as ") + example + ") holds " +
                    Names(held, false));
  }
  if (const auto barred = Those(refused, NotAllowed); !barred.empty()) {
    parts.push_back(
        "this program may not use " + Names(barred, false) +
        (groupHelper.empty()
             ? std::string(" (the service pling-holder receives for every user of this computer "
                           "and is not running; see pling(1))")
             : ", and only members of the group \"pling\" may start " + groupHelper +
                   ", which may (see pling(1))"));
  }
  for (const TPortRefusal& refusal : refused) {
    if (InUse(refusal) || NotAllowed(refusal)) continue;
    parts.push_back(Names({refusal}, false) + " cannot be opened (" + std::strerror(refusal.error) +
                    ")");
  }
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text + ".";
}

std::string RefusalBrief(const std::vector<TPortRefusal>& refused) {
  const char* state = std::all_of(refused.begin(), refused.end(), InUse)        ? "in use"
                      : std::all_of(refused.begin(), refused.end(), NotAllowed) ? "not permitted"
                                                                                : "unavailable";
  return Names(refused, true) + " " + state;
}

}  // namespace pling::net
