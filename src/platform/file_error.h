// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The failure of a file operation as a result carries it: the error code and,
// for messages, the file's path and the system's text for the cause, such as
// "/home/ann/.config/pling/registry.reg: Permission denied". The text is empty
// for a failure that concerns no file (a bad argument).
#include <string>

#include "platform/types.h"
#include "runtime/result.h"

namespace pling::platform {

// The error code the platform reports for an errno value of a file operation, the
// one map for every file the program reads or writes (what a socket's errno means
// is the mailslot service's own). `otherwise` is the code of an errno value the
// map does not name: ERROR_CANTWRITE for the settings files, ERROR_CANTOPEN for a
// file that is only opened to be read.
DWORD FileErrorFromErrno(int error, DWORD otherwise = ERROR_CANTWRITE);

// The failure of `path` for the errno value `error`: its code and
// "<path>: <strerror>", or "<path>: <cause>" when a cause in words is given.
runtime::TError FileError(const std::string& path, int error);
runtime::TError FileError(const std::string& path, int error, const std::string& cause);

// A failure that concerns no file: only its code.
inline runtime::TError ArgumentError(DWORD code = ERROR_INVALID_PARAMETER) {
  return runtime::TError{code, {}};
}

// Whether a failed read found no file at all (ENOENT), which a settings file
// treats as one without values.
inline bool IsMissingFile(const runtime::TError& error) {
  return error.code == ERROR_FILE_NOT_FOUND;
}

}  // namespace pling::platform
