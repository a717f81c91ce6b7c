#pragma once
// Settings files written so that a crash never leaves a half-written file behind:
// the new contents go to a temporary file in the same folder, are flushed to the
// disk, and replace the old file by rename. Writers of one file are serialised
// across processes by an advisory lock on a sidecar file "<file>.lock"; readers
// need no lock, as the rename is atomic.
#include <string>
#include <string_view>

#include "platform/types.h"

namespace pling::platform {

// Creates `folder` and its missing parents (mode 0700). 0 or an errno value.
int CreateFolders(const std::string& folder);

// The folder part of `path` ("." when it has none).
std::string FolderOf(const std::string& path);

// The file a write of `path` should replace: the final target when `path` is a
// symbolic link (so that the link survives), otherwise `path` itself.
std::string WriteTargetOf(const std::string& path);

// The whole contents of `path`. 0 or an errno value (ENOENT when it does not exist).
int ReadFileContents(const std::string& path, std::string& contents);

// An exclusive advisory lock on "<path>.lock", held until destruction. Threads
// and processes alike wait for each other.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates the folder and the lock file as needed and waits for the lock.
  // 0 or an errno value.
  int Lock(const std::string& path);
  const std::string& path() const { return FPath; }

 private:
  int FFd = -1;
  std::string FPath;
};

// Replaces the file that `lock` guards by `contents`, atomically and durably.
// On failure (an errno value is returned) the old file is unchanged.
int ReplaceFileContents(const FileLock& lock, std::string_view contents);

// The error code the platform reports for an errno value.
DWORD ErrorFromErrno(int error);

}  // namespace pling::platform
