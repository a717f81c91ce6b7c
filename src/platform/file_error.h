// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The cause of the last failure of a settings-file function (profile files and
// the registry hive) on the calling thread, for messages: the file's path and the
// system's text for the cause, such as
// "/home/ann/.config/pling/registry.reg: Permission denied". Empty when the last
// such call succeeded or failed for a reason that concerns no file (a bad
// argument). GetLastError() gives the matching error code.
#include <string>

#include "platform/types.h"
#include "runtime/result.h"

namespace pling::platform {

std::string LastFileErrorText();

// The error code the platform reports for an errno value of a file operation, the
// one map for every file the program reads or writes (what a socket's errno means
// is the mailslot service's own). `otherwise` is the code of an errno value the
// map does not name: ERROR_CANTWRITE for the settings files, ERROR_CANTOPEN for a
// file that is only opened to be read.
DWORD FileErrorFromErrno(int error, DWORD otherwise = ERROR_CANTWRITE);

// The failure of the settings-file call that has just returned `code` on this
// thread, taken at once for a result to carry: the code and LastFileErrorText().
inline runtime::TError FileFailure(DWORD code) {
  return runtime::TError{code, LastFileErrorText()};
}

}  // namespace pling::platform
