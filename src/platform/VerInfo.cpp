// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/VerInfo.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/version_resource.h"

namespace pling::platform {

TVersionInfo::TVersionInfo(std::string fileName) : FFileName(std::move(fileName)) {
  FSize = GetFileVersionInfoSizeA(FFileName.c_str(), &FHandle);
  if (FSize == 0) return;
  FBuffer = std::make_unique<std::uint8_t[]>(FSize);
  FValid = GetFileVersionInfoA(FFileName.c_str(), FHandle, FSize, FBuffer.get());
}

std::string TVersionInfo::Translation() const {
  if (!FValid) return std::string();
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(FBuffer.get(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) {
    return std::string();
  }
  const auto* entry = static_cast<const std::uint8_t*>(value);
  const auto language = static_cast<unsigned>(entry[0] | (entry[1] << 8));
  const auto codePage = static_cast<unsigned>(entry[2] | (entry[3] << 8));
  char text[9];
  std::snprintf(text, sizeof text, "%04X%04X", language, codePage);
  return text;
}

std::string TVersionInfo::StringValue(const std::string& key) const {
  if (!FValid) return std::string();
  const std::string path = "\\StringFileInfo\\" + Translation() + "\\" + key;
  // The look-up path has room for 255 characters.
  if (path.size() > 255) return std::string();
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(FBuffer.get(), path.c_str(), &value, &length) || length == 0) {
    return std::string();
  }
  const char* text = static_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
}

std::string ProgramFileVersion() {
  return TVersionInfo(ProgramFileName()).FileVersion();
}

}  // namespace pling::platform
