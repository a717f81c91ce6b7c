// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "runtime/unique_fd.h"

namespace pling::net {

// Stream sockets on a name in the abstract Unix namespace (no file; the name goes
// with the last socket that holds it), for the processes of this machine.
// A listening socket, non-blocking, or an invalid one when the name is taken.
runtime::TUniqueFd ListenLocal(std::string_view name);
// A blocking socket connected to the one listening on the name, or an invalid one
// when nobody listens there.
runtime::TUniqueFd ConnectLocal(std::string_view name);

}  // namespace pling::net
