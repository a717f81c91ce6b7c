// SPDX-License-Identifier: GPL-3.0-or-later
// The version block of a program file on disk: the ELF section that holds it,
// read with pread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/file_error.h"
#include "platform/version_resource.h"

namespace pling::platform {
namespace {

class TFile {
 public:
  explicit TFile(const char* name)
      : FFd(name == nullptr ? -1 : ::open(name, O_RDONLY | O_CLOEXEC)) {
    if (name == nullptr) errno = ENOENT;
  }
  ~TFile() {
    if (FFd >= 0) ::close(FFd);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  bool IsOpen() const { return FFd >= 0; }
  std::uint64_t Size() const {
    struct stat info {};
    if (::fstat(FFd, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    return static_cast<std::uint64_t>(info.st_size);
  }
  static bool ReadAt(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
    const int fd = static_cast<TFile*>(context)->FFd;
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
      const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      size -= static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
    }
    return true;
  }

 private:
  int FFd;
};

// The bytes of the file's version section; false with the last error set.
bool ReadVersionSection(const char* fileName, std::vector<std::uint8_t>& bytes) {
  TFile file(fileName);
  if (!file.IsOpen()) {
    SetLastError(FileErrorFromErrno(errno, ERROR_CANTOPEN));
    return false;
  }
  const std::optional<TElfSection> section =
      FindElfSection(&TFile::ReadAt, &file, file.Size(), kVersionSectionName);
  if (!section) return false;
  // A block is at most 64 KiB long; more section than that is not block.
  const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(section->size, 0xFFFF));
  if (size < 6) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  bytes.resize(size);
  if (!TFile::ReadAt(&file, section->offset, bytes.data(), size)) {
    SetLastError(ERROR_READ_FAULT);
    return false;
  }
  const std::size_t length = static_cast<std::size_t>(bytes[0] | (bytes[1] << 8));
  if (length < 6) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  if (length < bytes.size()) bytes.resize(length);
  return true;
}

}  // namespace

std::string ProgramFileName() {
  std::vector<char> path(PATH_MAX);
  while (true) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < path.size()) {
      return std::string(path.data(), static_cast<std::size_t>(length));
    }
    path.resize(path.size() * 2);
  }
}

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle) {
  if (handle != nullptr) *handle = 0;
  std::vector<std::uint8_t> bytes;
  if (!ReadVersionSection(fileName, bytes)) return 0;
  SetLastError(ERROR_SUCCESS);
  return VersionBufferSize(bytes.size());
}

bool GetFileVersionInfoA(const char* fileName, DWORD /*handle*/, DWORD size, void* data) {
  std::vector<std::uint8_t> bytes;
  if (!ReadVersionSection(fileName, bytes)) return false;
  if (!LoadVersionBuffer(bytes, data, size)) return false;
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace pling::platform
