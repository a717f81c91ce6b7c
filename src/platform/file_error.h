#pragma once
// The cause of the last failure of a settings-file function (profile files and
// the registry hive) on the calling thread, for messages: the file's path and the
// system's text for the cause, such as
// "/home/ann/.config/pling/registry.reg: Permission denied". Empty when the last
// such call succeeded or failed for a reason that concerns no file (a bad
// argument). GetLastError() gives the matching error code.
#include <string>

namespace pling::platform {

std::string LastFileErrorText();

}  // namespace pling::platform
