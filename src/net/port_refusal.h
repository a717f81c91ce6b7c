// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ports receiving needs that could not be taken (UDP 137 and 138, TCP 139),
// and how the user is told: every one of them is named, in one sentence for the
// window's box and tooltip and for pling-cli, and in a few words for the status
// line and the announcement.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pling::net {

struct TPortRefusal {
  bool tcp = false;  // TCP; else UDP
  std::uint16_t port = 0;
  int error = 0;  // what the bind said (errno)
  bool operator==(const TPortRefusal&) const = default;
};

// Binds `port` for a moment and lets it go again: why it could not be had, or
// nothing when it is free. A TCP port is only bound, never listened on.
std::optional<TPortRefusal> ProbePort(bool tcp, std::uint16_t port);

// Why the ports could not be had, as the end of a sentence with its full stop:
// "another program (such as a NetBIOS name server) holds UDP ports 137 and 138
// and TCP port 139." Ports refused for different reasons are named with each.
// `groupHelper` names the installed helper that may bind them where only the
// members of a group may start it (then the refusal says so), else is empty.
std::string RefusalText(const std::vector<TPortRefusal>& refused,
                        const std::string& groupHelper = {});

// The same in a few words: "UDP 137 and 138, TCP 139 in use".
std::string RefusalBrief(const std::vector<TPortRefusal>& refused);

}  // namespace pling::net
