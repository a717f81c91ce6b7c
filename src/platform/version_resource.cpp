// SPDX-License-Identifier: GPL-3.0-or-later
// The version block and the ELF section that carries it: the parts that work on
// bytes, whatever the file system.
#include "platform/version_resource.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "platform/codepage.h"

namespace pling::platform {
namespace {

// Marks a buffer whose spare room for ANSI strings follows the block.
constexpr std::array<std::uint8_t, 4> kAnsiTag = {'P', 'V', 'A', '1'};

constexpr std::size_t Align4(std::size_t value) {
  return (value + 3) & ~std::size_t{3};
}

std::uint16_t Word(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// One node of a version block: header (wLength, wValueLength, wType), key,
// padding, value, padding, children. All offsets are from the block's start.
struct TNode {
  std::size_t offset = 0;
  std::size_t end = 0;  // offset + wLength
  std::size_t keyOffset = 0;
  std::size_t keyChars = 0;  // without the terminator
  std::size_t valueOffset = 0;
  std::size_t valueBytes = 0;
  std::uint16_t valueLength = 0;  // as stored: characters for text, bytes otherwise
  bool text = false;
  std::size_t childrenOffset = 0;
};

// The node at `offset`, which must lie within `limit`; nullopt when its
// lengths leave that room or its key has no terminator.
std::optional<TNode> ReadNode(const std::uint8_t* block, std::size_t offset, std::size_t limit) {
  if (offset > limit || limit - offset < 6) return std::nullopt;
  TNode node;
  node.offset = offset;
  const std::size_t length = Word(block + offset);
  if (length < 6 || length > limit - offset) return std::nullopt;
  node.end = offset + length;
  node.valueLength = Word(block + offset + 2);
  node.text = Word(block + offset + 4) == 1;
  node.keyOffset = offset + 6;
  std::size_t p = node.keyOffset;
  while (true) {
    if (node.end - p < 2) return std::nullopt;
    if (Word(block + p) == 0) break;
    p += 2;
  }
  node.keyChars = (p - node.keyOffset) / 2;
  node.valueOffset = Align4(p + 2);
  node.valueBytes = node.text ? std::size_t{node.valueLength} * 2 : node.valueLength;
  if (node.valueBytes > 0 &&
      (node.valueOffset > node.end || node.valueBytes > node.end - node.valueOffset)) {
    return std::nullopt;
  }
  node.childrenOffset = Align4(node.valueOffset + node.valueBytes);
  return node;
}

char16_t FoldAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool KeyMatches(const std::uint8_t* block, const TNode& node, std::string_view name) {
  if (node.keyChars != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char32_t wanted = AnsiToUnicode(static_cast<unsigned char>(name[i]));
    const char16_t have = Word(block + node.keyOffset + 2 * i);
    if (wanted > 0xFFFF) return false;
    if (FoldAscii(static_cast<char16_t>(wanted)) != FoldAscii(have)) return false;
  }
  return true;
}

std::optional<TNode> FindChild(const std::uint8_t* block, const TNode& parent,
                               std::string_view name) {
  std::size_t offset = parent.childrenOffset;
  while (offset < parent.end) {
    const std::optional<TNode> child = ReadNode(block, offset, parent.end);
    if (!child) return std::nullopt;
    if (KeyMatches(block, *child, name)) return child;
    offset = Align4(child->end);
  }
  return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The ANSI form of `units` UTF-16 code units, up to the first zero; one byte
// at most per code unit.
std::string Utf16ToAnsi(const std::uint8_t* text, std::size_t units) {
  std::string utf8;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = Word(text + 2 * i);
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      const char32_t low = Word(text + 2 * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = U'?';  // a lone surrogate
    AppendUtf8(utf8, c);
  }
  return Utf8ToAnsi(utf8);
}

}  // namespace

DWORD VersionBufferSize(std::size_t blockLength) {
  // The block, the tag, and as much room again for the ANSI strings.
  return static_cast<DWORD>(2 * Align4(blockLength) + kAnsiTag.size() + 4);
}

bool LoadVersionBuffer(std::span<const std::uint8_t> block, void* data, DWORD size) {
  if (block.size() < 6 || Word(block.data()) < 6) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  // The block is followed by the tag's place at least, so that a look-up can
  // always tell whether the room for ANSI strings is there.
  if (data == nullptr || size < 12) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  // A block that claims more than there is keeps what there is; a buffer too
  // small for the whole block keeps what fits before the tag's place.
  const std::size_t length = std::min<std::size_t>(Word(block.data()), block.size());
  std::size_t copied = length;
  if (size < Align4(length) + kAnsiTag.size()) copied = (size - kAnsiTag.size()) & ~std::size_t{3};
  auto* out = static_cast<std::uint8_t*>(data);
  std::memset(out, 0, size);
  std::memcpy(out, block.data(), copied);
  out[0] = static_cast<std::uint8_t>(copied & 0xFF);
  out[1] = static_cast<std::uint8_t>(copied >> 8);
  if (size >= VersionBufferSize(copied)) {
    std::memcpy(out + Align4(copied), kAnsiTag.data(), kAnsiTag.size());
  }
  return true;
}

bool VerQueryValueA(void* block, const char* subBlock, void** buffer, UINT* length) {
  if (buffer != nullptr) *buffer = nullptr;
  if (length != nullptr) *length = 0;
  if (block == nullptr || subBlock == nullptr) return false;
  auto* bytes = static_cast<std::uint8_t*>(block);
  const std::size_t blockLength = Word(bytes);
  std::optional<TNode> node = ReadNode(bytes, 0, blockLength);
  if (!node) return false;
  std::string_view path(subBlock);
  while (!path.empty()) {
    const std::size_t slash = path.find('\\');
    const std::string_view part = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (part.empty()) continue;
    node = FindChild(bytes, *node, part);
    if (!node) return false;
  }
  if (!node->text) {
    if (buffer != nullptr) *buffer = bytes + node->valueOffset;
    if (length != nullptr) *length = node->valueLength;
    return true;
  }
  // Text: its ANSI form goes to the spare room after the block, at the same
  // distance from that room's start as the text has from the block's start.
  const std::size_t room = Align4(blockLength);
  if (std::memcmp(bytes + room, kAnsiTag.data(), kAnsiTag.size()) != 0) return false;
  const std::size_t units = std::min<std::size_t>(
      node->valueLength, (node->end - std::min(node->end, node->valueOffset)) / 2);
  const std::string ansi = Utf16ToAnsi(bytes + node->valueOffset, units);
  char* target = reinterpret_cast<char*>(bytes + room + kAnsiTag.size() + node->valueOffset);
  // ansi.size() <= units and valueOffset + 2 * units <= blockLength <= room, so
  // the text and its terminator fit in the room of room + 4 bytes.
  std::memcpy(target, ansi.data(), ansi.size());
  target[ansi.size()] = '\0';
  if (buffer != nullptr) *buffer = target;
  if (length != nullptr) *length = static_cast<UINT>(ansi.size() + 1);
  return true;
}

// --- ELF ---------------------------------------------------------------------

namespace {

constexpr std::uint32_t kSectionNoBits = 8;            // SHT_NOBITS: no bytes in the file
constexpr std::uint32_t kSectionIndexEscape = 0xFFFF;  // SHN_XINDEX
constexpr std::uint64_t kMaxSections = 1u << 16;

struct TElfReader {
  TReadAt read;
  void* context;
  std::uint64_t fileSize;
  bool wide = false;  // 64 bit
  bool bigEndian = false;

  std::uint64_t Number(const std::uint8_t* p, std::size_t bytes) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
      const std::size_t at = bigEndian ? i : bytes - 1 - i;
      value = (value << 8) | p[at];
    }
    return value;
  }

  bool Read(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (offset > fileSize || size > fileSize - offset) return false;
    return read(context, offset, buffer, size);
  }
};

struct TSectionHeader {
  std::uint32_t name = 0;
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint32_t link = 0;
};

bool ReadSectionHeader(const TElfReader& elf, std::uint64_t tableOffset, std::uint64_t entrySize,
                       std::uint64_t index, TSectionHeader& header) {
  std::array<std::uint8_t, 64> raw{};
  const std::size_t used = elf.wide ? 64 : 40;
  if (index > (elf.fileSize / std::max<std::uint64_t>(entrySize, 1))) return false;
  if (!elf.Read(tableOffset + index * entrySize, raw.data(), used)) return false;
  const std::uint8_t* p = raw.data();
  header.name = static_cast<std::uint32_t>(elf.Number(p, 4));
  header.type = static_cast<std::uint32_t>(elf.Number(p + 4, 4));
  if (elf.wide) {
    header.offset = elf.Number(p + 24, 8);
    header.size = elf.Number(p + 32, 8);
    header.link = static_cast<std::uint32_t>(elf.Number(p + 40, 4));
  } else {
    header.offset = elf.Number(p + 16, 4);
    header.size = elf.Number(p + 20, 4);
    header.link = static_cast<std::uint32_t>(elf.Number(p + 24, 4));
  }
  return true;
}

bool ReadMemory(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  const auto* image = static_cast<const std::span<const std::uint8_t>*>(context);
  if (offset > image->size() || size > image->size() - offset) return false;
  std::memcpy(buffer, image->data() + offset, size);
  return true;
}

}  // namespace

std::optional<TElfSection> FindElfSection(TReadAt read, void* context, std::uint64_t fileSize,
                                          std::string_view name) {
  TElfReader elf{read, context, fileSize};
  std::array<std::uint8_t, 64> header{};
  if (!elf.Read(0, header.data(), 52) || header[0] != 0x7F || header[1] != 'E' ||
      header[2] != 'L' || header[3] != 'F' || (header[4] != 1 && header[4] != 2) ||
      (header[5] != 1 && header[5] != 2)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return std::nullopt;
  }
  elf.wide = header[4] == 2;
  elf.bigEndian = header[5] == 2;
  if (elf.wide && !elf.Read(0, header.data(), 64)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return std::nullopt;
  }
  const std::uint8_t* h = header.data();
  const std::uint64_t tableOffset = elf.wide ? elf.Number(h + 40, 8) : elf.Number(h + 32, 4);
  const std::uint64_t entrySize = elf.Number(h + (elf.wide ? 58 : 46), 2);
  std::uint64_t count = elf.Number(h + (elf.wide ? 60 : 48), 2);
  std::uint64_t namesIndex = elf.Number(h + (elf.wide ? 62 : 50), 2);
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  if (tableOffset == 0 || tableOffset > fileSize || entrySize < (elf.wide ? 64u : 40u))
    return std::nullopt;
  // Many sections: the real count and name table index stand in section 0.
  TSectionHeader first;
  if (!ReadSectionHeader(elf, tableOffset, entrySize, 0, first)) return std::nullopt;
  if (count == 0) count = first.size;
  if (namesIndex == kSectionIndexEscape) namesIndex = first.link;
  if (count > kMaxSections || namesIndex >= count) return std::nullopt;
  TSectionHeader names;
  if (!ReadSectionHeader(elf, tableOffset, entrySize, namesIndex, names)) return std::nullopt;
  if (names.offset > fileSize || names.size > fileSize - names.offset) return std::nullopt;
  std::string candidate(name.size() + 1, '\0');
  for (std::uint64_t i = 1; i < count; ++i) {
    TSectionHeader section;
    if (!ReadSectionHeader(elf, tableOffset, entrySize, i, section)) return std::nullopt;
    if (section.name >= names.size || names.size - section.name < candidate.size()) continue;
    if (!elf.Read(names.offset + section.name, candidate.data(), candidate.size())) continue;
    if (candidate.back() != '\0' || std::string_view(candidate.data(), name.size()) != name) {
      continue;
    }
    if (section.type == kSectionNoBits || section.offset > fileSize ||
        section.size > fileSize - section.offset) {
      return std::nullopt;
    }
    SetLastError(ERROR_SUCCESS);
    return TElfSection{section.offset, section.size};
  }
  return std::nullopt;
}

std::optional<TElfSection> FindElfSection(std::span<const std::uint8_t> image,
                                          std::string_view name) {
  return FindElfSection(&ReadMemory, &image, image.size(), name);
}

}  // namespace pling::platform
