// SPDX-License-Identifier: GPL-3.0-or-later
// Version blocks and the ELF files that carry them: any bytes, taken as a
// block or as a program file, give answers or empty results and are never
// read or written outside their buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "platform/version_resource.h"

namespace {

using namespace pling::platform;

const char* const kPaths[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904E4\\FileVersion",
    "\\StringFileInfo\\\\FileVersion",
    "\\StringFileInfo\\040904e4\\ProductName",
    "StringFileInfo\\000704B0\\Comments\\",
    "\\\\\\",
};

void Query(std::span<const std::uint8_t> block, std::size_t bufferSize) {
  std::vector<char> buffer(bufferSize);
  if (!LoadVersionBuffer(block, buffer.data(), static_cast<DWORD>(buffer.size()))) return;
  for (const char* path : kPaths) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(buffer.data(), path, &value, &length)) continue;
    const char* at = static_cast<const char*>(value);
    if (at < buffer.data() || at > buffer.data() + buffer.size()) std::abort();
    // Text ends within the buffer; binary values lie within it.
    if (std::strcmp(path, "\\") != 0 && std::strstr(path, "Translation") == nullptr) {
      if (std::memchr(at, 0, static_cast<std::size_t>(buffer.data() + buffer.size() - at)) ==
          nullptr) {
        std::abort();
      }
    } else if (length > static_cast<std::size_t>(buffer.data() + buffer.size() - at)) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  // As a block, in a buffer of the full size and in ones too small for it.
  Query(bytes, VersionBufferSize(size));
  Query(bytes, size);
  Query(bytes, size / 2 + 12);
  // As a program file.
  if (const auto section = FindElfSection(bytes, kVersionSectionName)) {
    if (section->offset > size || section->size > size - section->offset) std::abort();
    const auto block = bytes.subspan(static_cast<std::size_t>(section->offset),
                                     static_cast<std::size_t>(section->size));
    Query(block, VersionBufferSize(block.size()));
  }
  return 0;
}
