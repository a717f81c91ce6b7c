#include "platform/posix/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace pling::platform {
namespace {

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
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

int ReadFileContents(const std::string& path, std::string& contents) {
  contents.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    contents.reserve(static_cast<std::size_t>(info.st_size));
  }
  char chunk[65536];
  int error = 0;
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (got == 0) break;
    contents.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (error != 0) contents.clear();
  return error;
}

FileLock::~FileLock() {
  if (FFd >= 0) ::close(FFd);  // closing the only descriptor releases the lock
}

int FileLock::Lock(const std::string& path) {
  if (FFd >= 0) return EBUSY;
  if (const int error = CreateFolders(FolderOf(path))) return error;
  const std::string lockPath = path + ".lock";
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    return error;
  }
  FFd = fd;
  FPath = path;
  return 0;
}

int ReplaceFileContents(const FileLock& lock, std::string_view contents) {
  const std::string& path = lock.path();
  if (path.empty()) return EBADF;
  const std::string temporary = TemporaryPathOf(path);
  mode_t mode = 0600;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
    // The rename needs only the folder's permission: a file that may not be
    // written (no write bit at all, as a file made read-only on purpose, or none
    // for this user) is refused here instead of being replaced.
    if ((mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) return EACCES;
  }

  // Made anew, never followed: a link planted under the temporary name in a
  // shared folder cannot redirect the write.
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) return errno;
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int error = WriteAll(fd, contents);
  if (error == 0 && ::fchmod(fd, mode) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  SyncFolder(FolderOf(path));
  return 0;
}

DWORD ErrorFromErrno(int error) {
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
      return ERROR_CANTWRITE;
  }
}

}  // namespace pling::platform
