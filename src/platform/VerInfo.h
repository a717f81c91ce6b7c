// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TVersionInfo: loads the whole version block of a program file at
// construction and looks strings up in the string table of the block's first
// translation.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace pling::platform {

class TVersionInfo {
 public:
  // Copies the name and reads the block at once. A file without a block (or
  // one that cannot be read) gives an invalid reader whose look-ups are empty.
  explicit TVersionInfo(std::string fileName);

  const std::string& FileName() const { return FFileName; }
  bool Valid() const { return FValid; }
  DWORD Size() const { return FSize; }

  // The first translation entry as eight upper-case hex digits, language then
  // code page ("040904E4"); empty when invalid or there is no entry.
  std::string Translation() const;
  // The string stored under `key` in the first translation's table; empty when
  // invalid or absent.
  std::string StringValue(const std::string& key) const;
  std::string FileVersion() const { return StringValue("FileVersion"); }

 private:
  std::string FFileName;
  bool FValid = false;
  DWORD FSize = 0;
  std::unique_ptr<std::uint8_t[]> FBuffer;  // FSize bytes; absent when FSize is 0
  DWORD FHandle = 0;
};

// The "FileVersion" of the running program's own file; empty when it has none.
std::string ProgramFileVersion();

}  // namespace pling::platform
