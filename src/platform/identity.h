#pragma once
// Who and where the program runs: the user's name and this computer's name, as
// 8-bit strings in the ANSI code page.
#include <string>

#include "platform/types.h"

namespace pling::platform {

// The effective user's login name from the password database.
std::string GetUserName();
// The host name's first label, upper-cased, at most 15 characters, as NetBIOS
// names are.
std::string GetComputerName();
// Whether `machine` names this computer: "." or its name, in any case.
bool IsLocalMachine(std::string_view machine);

}  // namespace pling::platform
