// SPDX-License-Identifier: GPL-3.0-or-later
// The version reader over blocks built by the build's own generator, placed in
// small ELF files the way the linker places the program's block.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/VerInfo.h"
#include "platform/codepage.h"
#include "platform/version_resource.h"

namespace pling::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBlock(const std::string& name) {
  std::ifstream in(std::string(PLING_VERSION_BLOCKS) + "/" + name + ".bin", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Put(Bytes& out, std::size_t at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A little-endian 64-bit ELF file with the sections null, `section` (holding
// `data`) and .shstrtab.
Bytes ElfWith(const Bytes& data, const std::string& section = std::string(kVersionSectionName)) {
  const std::string names = std::string(1, '\0') + section + '\0' + ".shstrtab" + '\0';
  const std::size_t dataAt = 64;
  const std::size_t namesAt = dataAt + data.size();
  const std::size_t tableAt = (namesAt + names.size() + 7) & ~std::size_t{7};
  Bytes file(tableAt + 3 * 64, 0);
  std::memcpy(file.data(),
              "\x7F"
              "ELF\x02\x01\x01",
              7);
  Put(file, 16, 2, 2);        // executable
  Put(file, 18, 62, 2);       // x86-64
  Put(file, 20, 1, 4);        // version
  Put(file, 40, tableAt, 8);  // e_shoff
  Put(file, 52, 64, 2);       // e_ehsize
  Put(file, 58, 64, 2);       // e_shentsize
  Put(file, 60, 3, 2);        // e_shnum
  Put(file, 62, 2, 2);        // e_shstrndx
  std::copy(data.begin(), data.end(), file.begin() + static_cast<std::ptrdiff_t>(dataAt));
  std::copy(names.begin(), names.end(), file.begin() + static_cast<std::ptrdiff_t>(namesAt));
  const auto header = [&](std::size_t index, std::size_t name, std::uint32_t type,
                          std::size_t offset, std::size_t size) {
    const std::size_t at = tableAt + 64 * index;
    Put(file, at, name, 4);
    Put(file, at + 4, type, 4);
    Put(file, at + 24, offset, 8);
    Put(file, at + 32, size, 8);
  };
  header(1, 1, 1, dataAt, data.size());                     // PROGBITS
  header(2, 2 + section.size(), 3, namesAt, names.size());  // STRTAB
  return file;
}

class VersionFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("pling-version-" + std::to_string(getpid()));
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = FDir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  fs::path FDir;
};

TEST_F(VersionFileTest, OneTranslationGivesItsStringsAndTheFixedVersion) {
  SelectCodePages(1252);
  const TVersionInfo info(Write("one", ElfWith(ReadBlock("one"))));
  ASSERT_TRUE(info.Valid());
  EXPECT_EQ(info.Translation(), "040904E4");
  EXPECT_EQ(info.FileVersion(), "1.0.4.5");
  EXPECT_EQ(info.StringValue("productname"), "Pling");  // names match without case
  EXPECT_EQ(info.StringValue("Comments"),
            "Gr\xFC\xDF"
            "e aus K\xF6ln");  // in the ANSI page
  EXPECT_EQ(info.StringValue("Missing"), "");

  DWORD handle = 7;
  const DWORD size = GetFileVersionInfoSizeA(info.FileName().c_str(), &handle);
  EXPECT_EQ(handle, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(info.FileName().c_str(), handle, size, data.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed{};
  std::memcpy(&fixed, value, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, VS_FFI_SIGNATURE);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00040005u);
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(length, 4u);
  ASSERT_TRUE(
      VerQueryValueA(data.data(), "\\StringFileInfo\\040904e4\\FileVersion", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "1.0.4.5");
  EXPECT_EQ(length, 8u);
}

TEST_F(VersionFileTest, OnlyTheFirstOfSeveralTranslationsIsUsedWithItsLeadingZeros) {
  const TVersionInfo info(Write("several", ElfWith(ReadBlock("several"))));
  ASSERT_TRUE(info.Valid());
  EXPECT_EQ(info.Translation(), "000704B0");
  EXPECT_EQ(info.FileVersion(), "7.0.0.1");
  EXPECT_EQ(info.StringValue("OnlyInSecond"), "");
}

TEST_F(VersionFileTest, WithoutTranslationNothingIsFound) {
  const TVersionInfo info(Write("none", ElfWith(ReadBlock("notranslation"))));
  EXPECT_TRUE(info.Valid());
  EXPECT_EQ(info.Translation(), "");
  EXPECT_EQ(info.FileVersion(), "");
}

TEST_F(VersionFileTest, FilesWithoutABlockGiveAnInvalidReader) {
  // This test program carries no version block.
  const TVersionInfo self(ProgramFileName());
  EXPECT_FALSE(self.Valid());
  EXPECT_EQ(self.Size(), 0u);
  EXPECT_EQ(self.FileVersion(), "");
  DWORD handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeA(ProgramFileName().c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);

  const std::string text = Write("text", Bytes{'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(GetFileVersionInfoSizeA(text.c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
  EXPECT_EQ(GetFileVersionInfoSizeA((FDir / "absent").c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(TVersionInfo((FDir / "absent").string()).Valid());

  // A section too short for a block, and one with another name.
  EXPECT_EQ(GetFileVersionInfoSizeA(Write("short", ElfWith(Bytes{4, 0, 0})).c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
  EXPECT_FALSE(TVersionInfo(Write("other", ElfWith(ReadBlock("one"), ".pling.versio"))).Valid());
}

// Offsets within one.bin's string table, found by walking it.
std::size_t FindUtf16(const Bytes& block, const std::u16string& text) {
  for (std::size_t i = 0; i + 2 * text.size() <= block.size(); i += 2) {
    bool same = true;
    for (std::size_t k = 0; k < text.size() && same; ++k) {
      same = block[i + 2 * k] == (text[k] & 0xFF) && block[i + 2 * k + 1] == (text[k] >> 8);
    }
    if (same) return i;
  }
  return std::string::npos;
}

TEST_F(VersionFileTest, MalformedBlocksGiveEmptyResultsWithoutReadingOutside) {
  const Bytes good = ReadBlock("one");
  const std::size_t fileVersionKey = FindUtf16(good, u"FileVersion");
  const std::size_t translationKey = FindUtf16(good, u"Translation");
  ASSERT_NE(fileVersionKey, std::string::npos);
  ASSERT_NE(translationKey, std::string::npos);

  // The FileVersion node claims to run past its table.
  Bytes longNode = good;
  Put(longNode, fileVersionKey - 6, 0xFFF0, 2);
  const TVersionInfo a(Write("long", ElfWith(longNode)));
  EXPECT_EQ(a.Translation(), "040904E4");
  EXPECT_EQ(a.FileVersion(), "");

  // A string value longer than its node.
  Bytes longValue = good;
  Put(longValue, fileVersionKey - 4, 0x7FFF, 2);
  EXPECT_EQ(TVersionInfo(Write("value", ElfWith(longValue))).FileVersion(), "");

  // The translation key without its terminator up to the end of the block.
  Bytes openKey = good;
  for (std::size_t i = translationKey; i < openKey.size(); ++i) openKey[i] = 'x';
  const TVersionInfo b(Write("open", ElfWith(openKey)));
  EXPECT_EQ(b.Translation(), "");
  EXPECT_EQ(b.FileVersion(), "");

  // A block cut short in its section: what is left still answers.
  Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(fileVersionKey + 40));
  const TVersionInfo c(Write("cut", ElfWith(cut)));
  EXPECT_TRUE(c.Valid());
  EXPECT_EQ(c.FileVersion(), "");
  void* value = nullptr;
  UINT length = 0;
  std::vector<char> data(VersionBufferSize(cut.size()));
  ASSERT_TRUE(LoadVersionBuffer(cut, data.data(), static_cast<DWORD>(data.size())));
  EXPECT_TRUE(VerQueryValueA(data.data(), "\\", &value, &length));

  // A buffer too small for the block keeps a prefix; strings need the room
  // after the block, so they fail instead of being written past the buffer.
  std::vector<char> small(good.size() / 2);
  ASSERT_TRUE(LoadVersionBuffer(good, small.data(), static_cast<DWORD>(small.size())));
  EXPECT_FALSE(
      VerQueryValueA(small.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value, &length));
  std::vector<char> exact(good.size());
  ASSERT_TRUE(LoadVersionBuffer(good, exact.data(), static_cast<DWORD>(exact.size())));
  EXPECT_TRUE(VerQueryValueA(exact.data(), "\\", &value, &length));
  EXPECT_FALSE(
      VerQueryValueA(exact.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value, &length));
}

TEST_F(VersionFileTest, SectionsAreFoundOnlyWithinTheFile) {
  const Bytes block = ReadBlock("one");
  Bytes file = ElfWith(block);
  const auto found = FindElfSection(file, kVersionSectionName);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, 64u);
  EXPECT_EQ(found->size, block.size());
  // The section header table cut off, then a section that runs past the end.
  EXPECT_FALSE(FindElfSection(std::span(file).first(file.size() - 10), kVersionSectionName));
  const std::size_t tableAt = file.size() - 3 * 64;
  Put(file, tableAt + 64 + 32, file.size(), 8);
  EXPECT_FALSE(FindElfSection(file, kVersionSectionName));
}

}  // namespace
}  // namespace pling::platform
