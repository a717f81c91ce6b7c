// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program that changes the stored comment this machine announces (the window
// or `pling-cli settings set`) tells the process that holds the ports, which
// announces it at once. The holder listens on an abstract Unix socket; a
// connection is the whole message ("read your comment again"): nothing is sent
// either way, so there is nothing to parse. Only connections from the holder's
// own user count; the holder then reads its own settings, never anything the
// caller hands over.
#include <string_view>

#include "runtime/unique_fd.h"

namespace pling::net {

inline constexpr std::string_view kCommentChangeSocket = "pling\\browse-comment";

// The listening socket (non-blocking); invalid when it cannot be had.
runtime::TUniqueFd ListenForCommentChange(std::string_view name = kCommentChangeSocket);
// Takes every connection waiting on `listener` and closes it; whether one of
// them came from a process of this process's user.
bool TakeCommentChanges(int listener);
// Tells the holder of the ports that the comment changed; false when none
// listens.
bool TellCommentChanged(std::string_view name = kCommentChangeSocket);

}  // namespace pling::net
