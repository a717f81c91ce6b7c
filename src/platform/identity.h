// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Who and where the program runs: the user's name and this computer's name, as
// 8-bit strings in the ANSI code page.
#include <string>
#include <string_view>

#include "platform/types.h"

namespace pling::platform {

// The effective user's login name from the password database.
std::string GetUserName();
// The host name's first label, upper-cased, at most 15 characters, as NetBIOS
// names are.
std::string GetComputerName();
// Whether `machine` names this computer: "." or its name, in any case.
bool IsLocalMachine(std::string_view machine);

// The computer name for a host name (UTF-8): the first label, upper-cased, in the ANSI
// code page, cut to 15 characters; "LOCALHOST" if that leaves nothing.
std::string ComputerNameFromHostName(std::string_view hostName);

}  // namespace pling::platform
