// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/posix/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/file_error.h"
#include "runtime/unique_fd.h"

namespace pling::platform {
namespace {

using runtime::TError;
using runtime::TResult;

TFileIdentity IdentityOf(const struct stat& info) {
  TFileIdentity identity;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = info.st_size;
  identity.modifiedSeconds = info.st_mtim.tv_sec;
  identity.modifiedNanoseconds = info.st_mtim.tv_nsec;
  return identity;
}

// What a settings file must not be, in words; nullptr for a regular file.
const char* NotARegularFile(mode_t mode) {
  if (S_ISREG(mode)) return nullptr;
  if (S_ISDIR(mode)) return "a folder, not a file";
  if (S_ISFIFO(mode)) return "a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
  if (S_ISSOCK(mode)) return "a socket, not a regular file";
  return "not a regular file";
}

// The error value for a file that is not a regular one: a folder is EISDIR, any
// other kind EINVAL (the recorded text says which kind it is).
int NotARegularFileError(mode_t mode) {
  return S_ISDIR(mode) ? EISDIR : EINVAL;
}

std::string LinkTargetOf(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

// The failure for `path` (or what it links to) being of a kind that `mode` tells
// and no regular file.
TError NotRegular(const std::string& path, mode_t mode) {
  std::string cause = NotARegularFile(mode);
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    cause = "a link to " + LinkTargetOf(path) + ", " + cause;
  } else {
    cause = "is " + cause;
  }
  return FileError(path, NotARegularFileError(mode), cause);
}

TError TooLarge(const std::string& path) {
  return FileError(path, EFBIG,
                   "File too large (a settings file holds at most " +
                       std::to_string(kMaxSettingsFileSize >> 20) + " MiB)");
}

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// The temporary file sits next to the target, hidden. Its name is fixed: only the
// holder of the lock writes it, and a file left by a writer that died is simply
// overwritten by the next one.
std::string TemporaryPathOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "." + path + ".tmp";
  return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".tmp";
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Some file systems cannot sync a folder; the rename itself has happened then.
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

int CreateFolders(const std::string& folder) {
  if (folder.empty()) return 0;
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  std::size_t end = folder.find_last_not_of('/');
  if (end == std::string::npos) return 0;  // the root
  const std::size_t slash = folder.rfind('/', end);
  if (slash != std::string::npos && slash > 0) {
    if (const int error = CreateFolders(folder.substr(0, slash))) return error;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  return 0;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string WriteTargetOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  const std::string target = LinkTargetOf(path);
  return target.empty() ? path : target;
}

int IdentifyFile(const std::string& path, TFileIdentity& identity) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno;
  identity = IdentityOf(info);
  return 0;
}

TResult<std::string> ReadFileContents(const std::string& path, TFileIdentity* identity) {
  // Without blocking: a FIFO in place of the file must not hang the reader.
  const runtime::TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) return FileError(path, errno);
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return FileError(path, errno);
  if (NotARegularFile(info.st_mode) != nullptr) return NotRegular(path, info.st_mode);
  if (static_cast<std::size_t>(info.st_size) > kMaxSettingsFileSize) return TooLarge(path);
  if (identity != nullptr) *identity = IdentityOf(info);
  std::string contents;
  if (info.st_size > 0) contents.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return FileError(path, errno);
    }
    if (got == 0) return contents;
    // A file that grows while it is read is still held to the limit.
    if (contents.size() + static_cast<std::size_t>(got) > kMaxSettingsFileSize) {
      return TooLarge(path);
    }
    contents.append(chunk, static_cast<std::size_t>(got));
  }
}

bool FileHoldsExactly(const std::string& path, std::string_view expected, TFileIdentity& identity) {
  const runtime::TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || NotARegularFile(info.st_mode) != nullptr) return false;
  identity = IdentityOf(info);
  if (static_cast<std::size_t>(info.st_size) != expected.size()) return false;
  char chunk[65536];
  std::size_t at = 0;
  for (;;) {
    const ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return at == expected.size();
    const auto size = static_cast<std::size_t>(got);
    if (size > expected.size() - at || std::memcmp(chunk, expected.data() + at, size) != 0) {
      return false;
    }
    at += size;
  }
}

TFileLock::~TFileLock() {
  if (FFd < 0) return;
  // The lock file goes while it is still held, so that nothing is left beside the
  // settings; whoever waits on it sees at Lock that it is no longer under its
  // name and takes the one that is. Closing the only descriptor releases the lock.
  ::unlink(FLockPath.c_str());
  ::close(FFd);
}

TResult<void> TFileLock::Lock(const std::string& path) {
  if (FFd >= 0) return FileError(path, EBUSY);
  // What the write will replace: the file a link leads to, which must be a
  // regular file when it exists. Refused before anything is created.
  const std::string target = WriteTargetOf(path);
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0 && NotARegularFile(info.st_mode) != nullptr) {
    return NotRegular(path, info.st_mode);
  }
  if (const int error = CreateFolders(FolderOf(path))) return FileError(FolderOf(path), error);
  // Beside the name as given, so in the settings folder even when the file
  // itself lives elsewhere.
  const std::string lockPath = path + ".lock";
  for (;;) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return FileError(lockPath, errno);
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return FileError(lockPath, error);
    }
    // The holder before may have removed the file as it let go (see the
    // destructor): a lock on a file no longer under the name guards nothing.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      FFd = fd;
      FPath = target;
      FLockPath = lockPath;
      return {};
    }
    ::close(fd);
  }
}

namespace {

// Whether the file at `path` may be replaced, and the permissions the new file
// takes from it (`mode` stays as it is when there is no file yet).
TResult<void> CheckReplaceable(const std::string& path, mode_t& mode) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  if (NotARegularFile(info.st_mode) != nullptr) return NotRegular(path, info.st_mode);
  mode = info.st_mode & 07777;
  // The rename needs only the folder's permission: a file that may not be
  // written (no write bit at all, as a file made read-only on purpose, or none
  // for this user) is refused here instead of being replaced.
  if ((mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) return FileError(path, EACCES);
  return {};
}

// Writes `contents` to the new temporary file `fd`, gives it `mode` (unless
// negative), flushes it to the disk, closes it and renames it over `path`. Every
// step is checked: on failure the temporary file goes, `path` is untouched and
// the failure names `path`, the file the user knows.
TResult<void> CommitTemporary(int fd, const std::string& temporary, const std::string& path,
                              std::string_view contents, int mode, struct stat* written) {
  int error = WriteAll(fd, contents);
  if (error == 0 && mode >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  // The identity survives the rename: same file, same size and modification time.
  if (error == 0 && written != nullptr && ::fstat(fd, written) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return FileError(path, error);
  }
  SyncFolder(FolderOf(path));
  return {};
}

}  // namespace

TResult<void> ReplaceFileContents(const TFileLock& lock, std::string_view contents,
                                  TFileIdentity* identity) {
  const std::string& path = lock.path();
  if (path.empty()) return ArgumentError(ERROR_INVALID_HANDLE);
  const std::string temporary = TemporaryPathOf(path);
  mode_t mode = 0600;
  if (contents.size() > kMaxSettingsFileSize) return TooLarge(path);
  if (auto replaceable = CheckReplaceable(path, mode); !replaceable) return replaceable;

  // Made anew, never followed: a link planted under the temporary name in a
  // shared folder cannot redirect the write.
  // Errors name the file being replaced, which is the one the user knows.
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) return FileError(path, errno);
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return FileError(path, errno);
  struct stat written {};
  if (auto committed = CommitTemporary(fd, temporary, path, contents, static_cast<int>(mode),
                                       identity != nullptr ? &written : nullptr);
      !committed)
    return committed;
  if (identity != nullptr) *identity = IdentityOf(written);
  return {};
}

TResult<void> SaveFileContents(const std::string& path, std::string_view contents) {
  const std::string target = WriteTargetOf(path);
  mode_t kept = 0;
  if (auto replaceable = CheckReplaceable(target, kept); !replaceable) return replaceable;
  // A new file gets the permissions the user's umask gives (the temporary file is
  // made with them); one that is replaced keeps its own.
  struct stat info {};
  const int mode = ::stat(target.c_str(), &info) == 0 ? static_cast<int>(kept) : -1;
  // A name of its own for each save: saves of one file from several windows do
  // not write into each other's temporary file.
  static std::atomic<unsigned> counter{0};
  const std::string stem = TemporaryPathOf(target);
  for (int attempt = 0;; ++attempt) {
    const std::string temporary =
        stem + "." + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int error = errno;
      if (error == EEXIST && attempt < 100) continue;
      return FileError(path, error);
    }
    return CommitTemporary(fd, temporary, target, contents, mode, nullptr);
  }
}

DWORD FileErrorFromErrno(int error, DWORD otherwise) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EINVAL:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EIO:
      return ERROR_WRITE_FAULT;
    default:
      return otherwise;
  }
}

TError FileError(const std::string& path, int error) {
  return FileError(path, error, std::strerror(error));
}

TError FileError(const std::string& path, int error, const std::string& cause) {
  return TError{FileErrorFromErrno(error), path + ": " + cause};
}

std::vector<std::string> FileProblems(
    const std::string& path,
    const std::function<std::vector<TLineProblem>(const std::string& text)>& lineProblems) {
  std::vector<std::string> problems;
  const TResult<std::string> text = ReadFileContents(path);
  if (!text) {
    if (!IsMissingFile(text.Error())) problems.push_back("Cannot read " + text.Error().text);
    return problems;
  }
  return FileLineProblems(path, lineProblems(text.Value()));
}

std::vector<std::string> FileLineProblems(const std::string& path,
                                          const std::vector<TLineProblem>& lines) {
  std::vector<std::string> problems;
  problems.reserve(lines.size());
  for (const TLineProblem& line : lines) {
    problems.push_back(path + ", line " + std::to_string(line.line) + ": " + line.text);
  }
  return problems;
}

}  // namespace pling::platform
