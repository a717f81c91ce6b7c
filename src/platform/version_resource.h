// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's version resource. The build places a standard version block
// (VS_VERSIONINFO: UTF-16 keys and strings, children aligned to 32 bits; the
// root's value is the fixed file information) in the ELF section
// ".pling.version" of each executable. These functions find that block in a
// program file and look values up in it as the Windows version functions do:
//
//   DWORD handle = 0;
//   DWORD size = GetFileVersionInfoSizeA(path, &handle);
//   std::vector<char> data(size);
//   GetFileVersionInfoA(path, handle, size, data.data());
//   VerQueryValueA(data.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value, &length);
//
// A block that is malformed (lengths out of range, keys without terminator)
// makes the look-ups that touch the broken part fail; nothing is read outside
// the block.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace pling::platform {

using UINT = std::uint32_t;

inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

inline constexpr std::string_view kVersionSectionName = ".pling.version";

// VS_FIXEDFILEINFO, the value of the root ("\").
struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // 0xFEEF04BD
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
inline constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;

// The full path of the running program's file; empty when it cannot be told.
std::string ProgramFileName();

// The size of the buffer GetFileVersionInfoA needs for the file's version
// block (the block and room for the ANSI form of its strings), or 0 with the
// last error set: ERROR_FILE_NOT_FOUND (and other file errors),
// ERROR_BAD_EXE_FORMAT (not an ELF file), ERROR_RESOURCE_TYPE_NOT_FOUND (no
// version section) or ERROR_RESOURCE_DATA_NOT_FOUND (a section too short to
// hold a block). `handle` is set to 0.
DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle);
// Reads the file's version block into `data` (`size` bytes). A buffer smaller
// than GetFileVersionInfoSizeA asked for receives as much of the block as fits,
// and look-ups of strings then fail for want of room to convert them. False
// with the last error set when the file has no block.
bool GetFileVersionInfoA(const char* fileName, DWORD handle, DWORD size, void* data);
// Looks `subBlock` up in a buffer filled by GetFileVersionInfoA (or
// LoadVersionBuffer):
//  "\"                           the VS_FIXEDFILEINFO; `length` is its size;
//  "\VarFileInfo\Translation"    the translation entries, each 32 bits (language
//                                in the low word, code page in the high word);
//                                `length` in bytes;
//  "\StringFileInfo\<lang><cp>\KEY"  the string, zero-terminated, in the ANSI
//                                code page (converted into the buffer's spare
//                                room); `length` in characters with the
//                                terminator.
// Names match without regard to case; empty path parts are skipped. False when
// the path is not in the block.
bool VerQueryValueA(void* block, const char* subBlock, void** buffer, UINT* length);

// The pieces the functions above are made of, for callers that hold the bytes.

// The buffer size for a block of `blockLength` bytes.
DWORD VersionBufferSize(std::size_t blockLength);
// Fills `data` (`size` bytes) from the block bytes, as GetFileVersionInfoA does;
// false (nothing written) when the bytes hold no block.
bool LoadVersionBuffer(std::span<const std::uint8_t> block, void* data, DWORD size);

// Where a section lies in an ELF file.
struct TElfSection {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};
// Reads `size` bytes at `offset` of the file into `buffer`; false when they are
// not all there.
using TReadAt = bool (*)(void* context, std::uint64_t offset, void* buffer, std::size_t size);
// Finds the section `name` of an ELF file (32 or 64 bit, either byte order),
// reading the file through `read`. The section lies within `fileSize` bytes.
// nullopt with the last error set when the file is not ELF or lacks the section.
std::optional<TElfSection> FindElfSection(TReadAt read, void* context, std::uint64_t fileSize,
                                          std::string_view name);
// The same over a file image in memory.
std::optional<TElfSection> FindElfSection(std::span<const std::uint8_t> image,
                                          std::string_view name);

}  // namespace pling::platform
