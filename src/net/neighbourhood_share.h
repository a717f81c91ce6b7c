// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The neighbourhood lives in the process that holds the ports (only it hears the
// browse frames); other processes on this machine (the command line while the
// window holds them, say) read it from there. The holder listens on an abstract
// Unix socket; whoever connects gets the list (EncodeMachines) and the end of
// the connection.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/neighbourhood.h"
#include "runtime/unique_fd.h"

namespace pling::net {

inline constexpr std::string_view kNeighbourhoodSocket = "pling\\neighbourhood";

// The listening socket (non-blocking); invalid when it cannot be had.
runtime::TUniqueFd ListenForNeighbourhood(std::string_view name = kNeighbourhoodSocket);
// Hands `encoded` to each process waiting on `listener`, waiting at most a
// second for one that does not read.
void ServeNeighbourhood(int listener, std::string_view encoded);
// The list from the process that holds the ports; nullopt when none answers
// within `timeout` or what came is not a list.
std::optional<std::vector<TMachine>> FetchNeighbourhood(
    std::chrono::milliseconds timeout = std::chrono::seconds(2),
    std::string_view name = kNeighbourhoodSocket);

}  // namespace pling::net
