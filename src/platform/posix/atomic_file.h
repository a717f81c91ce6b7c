// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Settings files written so that a crash never leaves a half-written file behind:
// the new contents go to a temporary file in the same folder, are flushed to the
// disk, and replace the old file by rename. Writers of one file are serialised
// across processes by an advisory lock on a sidecar file "<file>.lock"; readers
// need no lock, as the rename is atomic.
//
// Every function here that can fail returns its failure as a value: the error
// code and "<file>: <cause>" (platform/file_error.h).
#include <sys/types.h>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/line_problem.h"
#include "platform/types.h"
#include "runtime/result.h"

namespace pling::platform {

// Settings files larger than this are refused rather than read.
inline constexpr std::size_t kMaxSettingsFileSize = 64u << 20;

// What tells one version of a file from another without reading it: a write by
// replacement makes a new file (device and inode), a write in place changes the
// size or the modification time.
struct TFileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::time_t modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
  bool operator==(const TFileIdentity&) const = default;
};

// Creates `folder` and its missing parents (mode 0700). 0 or an errno value.
int CreateFolders(const std::string& folder);

// The folder part of `path` ("." when it has none).
std::string FolderOf(const std::string& path);

// The file a write of `path` should replace: the final target when `path` is a
// symbolic link (so that the link survives), otherwise `path` itself.
std::string WriteTargetOf(const std::string& path);

// The identity of the file at `path` (links followed). 0 or an errno value.
int IdentifyFile(const std::string& path, TFileIdentity& identity);

// The whole contents of `path`, and its identity when `identity` is given. A file
// that does not exist fails with ERROR_FILE_NOT_FOUND (IsMissingFile). Anything
// but a regular file (a FIFO, a device, a folder, also behind a link) is refused
// without blocking, and so is a file of more than kMaxSettingsFileSize bytes.
runtime::TResult<std::string> ReadFileContents(const std::string& path,
                                               TFileIdentity* identity = nullptr);

// Whether the file at `path` is a regular file whose contents are exactly
// `expected`, read and compared a piece at a time (no copy of the whole); its
// identity in `identity`. False as well when it cannot be read.
bool FileHoldsExactly(const std::string& path, std::string_view expected, TFileIdentity& identity);

// An exclusive advisory lock on "<path>.lock", held until destruction. Threads
// and processes alike wait for each other. The lock file sits beside `path` as
// named, and goes again when the lock is let go; what a write replaces (path())
// is the file a link at `path` leads to.
class TFileLock {
 public:
  TFileLock() = default;
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  // Creates the folder and the lock file as needed and waits for the lock;
  // refuses a file, or the target of a link, that exists and is no regular file,
  // before creating anything.
  runtime::TResult<void> Lock(const std::string& path);
  // The file to replace: WriteTargetOf(path).
  const std::string& path() const { return FPath; }

 private:
  int FFd = -1;
  std::string FPath;
  std::string FLockPath;
};

// Replaces the file that `lock` guards by `contents`, atomically and durably, and
// gives the new file's identity when `identity` is given. On failure the old
// file is unchanged. Contents that could not be read back (more than
// kMaxSettingsFileSize bytes) are refused.
runtime::TResult<void> ReplaceFileContents(const TFileLock& lock, std::string_view contents,
                                           TFileIdentity* identity = nullptr);

// Writes `contents` to the file at `path` (to the file a link there leads to) in
// place of what it held, as ReplaceFileContents does but without a lock file and
// for any size: a temporary file beside it, every write and the flush to the disk
// checked, then a rename. A new file gets the umask's permissions, a replaced one
// keeps its own; a file that may not be written is refused (access denied). On
// failure the old file is unchanged and no temporary file is left; the failure
// names the file (or the one a link leads to, when that is what failed).
runtime::TResult<void> SaveFileContents(const std::string& path, std::string_view contents);

// What is wrong with the settings file at `path`, in words for the user:
// "Cannot read ..." when it cannot be read, else "PATH, line N: TEXT" for each
// line `lineProblems` finds fault with in its text. A missing file has nothing
// wrong with it.
std::vector<std::string> FileProblems(
    const std::string& path,
    const std::function<std::vector<TLineProblem>(const std::string& text)>& lineProblems);
// The same for line problems already found in the text of the file at `path`.
std::vector<std::string> FileLineProblems(const std::string& path,
                                          const std::vector<TLineProblem>& lines);

}  // namespace pling::platform
