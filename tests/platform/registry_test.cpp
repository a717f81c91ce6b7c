// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_error.h"
#include "platform/hive_parser.h"
#include "platform/paths.h"
#include "temp_config.h"

namespace pling::platform {
namespace {

namespace fs = std::filesystem;

// Puts the active code pages back after each test (some select another).
class RegistryTest : public pling::testing::TempConfigTest {
 protected:
  void SetUp() override {
    TempConfigTest::SetUp();
    FSavedPages = ActiveCodePages();
  }
  void TearDown() override {
    SelectCodePages(FSavedPages.ansi);
    TempConfigTest::TearDown();
  }
  static std::string HiveText() { return FileText(RegistryHivePath()); }
  static void SetHiveText(const std::string& text) {
    fs::create_directories(fs::path(RegistryHivePath()).parent_path());
    std::ofstream(RegistryHivePath(), std::ios::binary) << text;
  }

  // Queries with a 256-byte buffer, as the settings back end does.
  static LONG Query(HKEY key, const std::string& subKey, std::string& value, LONG& size) {
    char buffer[256];
    size = sizeof buffer;
    const LONG result = RegQueryValue(key, subKey, buffer, &size);
    value = result == ERROR_SUCCESS ? std::string(buffer) : std::string();
    return result;
  }
  static std::string QueryText(HKEY key, const std::string& subKey) {
    std::string value;
    LONG size = 0;
    const LONG result = Query(key, subKey, value, size);
    return result == ERROR_SUCCESS ? value : "<error " + std::to_string(result) + ">";
  }

 private:
  TCodePages FSavedPages{};
};

TEST_F(RegistryTest, SetValueWritesRegedit4TextAndReadsBack) {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  ASSERT_NE(key, 0);
  // The key exists in the file as soon as it is created.
  EXPECT_EQ(HiveText(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling]\r\n\r\n");

  ASSERT_EQ(RegSetValue(key, "Settings\\Split", REG_SZ, "89"), ERROR_SUCCESS);
  EXPECT_EQ(HiveText(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings\\Split]\r\n"
            "@=\"89\"\r\n\r\n");

  std::string value;
  LONG size = 0;
  ASSERT_EQ(Query(key, "Settings\\Split", value, size), ERROR_SUCCESS);
  EXPECT_EQ(value, "89");
  EXPECT_EQ(size, 3);
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Settings\\Split"), "89");
  // A key without a default value reads as empty; a missing key is not found.
  ASSERT_EQ(Query(key, "Settings", value, size), ERROR_SUCCESS);
  EXPECT_EQ(value, "");
  EXPECT_EQ(size, 1);
  EXPECT_EQ(Query(key, "Settings\\Missing", value, size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query(key, "Nothing\\Split", value, size), ERROR_FILE_NOT_FOUND);

  // Keys are sorted, a key before its subkeys; overwriting keeps one value line.
  ASSERT_EQ(RegSetValue(key, "Receivers\\NAME0", REG_SZ, "ALICE+"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "Settings\\Split", REG_SZ, "-120"), ERROR_SUCCESS);
  EXPECT_EQ(HiveText(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME0]\r\n"
            "@=\"ALICE+\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings\\Split]\r\n"
            "@=\"-120\"\r\n\r\n");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, KeyNamesMatchWithoutRegardToCaseAndKeepTheFirstSpelling) {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "Settings\\Split", REG_SZ, "89"), ERROR_SUCCESS);
  HKEY other = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "CORVID\\pling", &other), ERROR_SUCCESS);
  EXPECT_NE(other, key);
  EXPECT_EQ(QueryText(other, "settings\\SPLIT"), "89");
  ASSERT_EQ(RegSetValue(other, "SETTINGS\\split", REG_SZ, "90"), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, "Settings\\Split"), "90");
  const std::string text = HiveText();
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings\\Split]\r\n@=\"90\""),
            std::string::npos);
  EXPECT_EQ(text.find("SETTINGS"), std::string::npos);
  EXPECT_EQ(RegCloseKey(other), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ValueFitsWithItsNulOrReportsTheSizeNeeded) {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  const std::string longest(255, 'a');
  ASSERT_EQ(RegSetValue(key, "S\\Fits", REG_SZ, longest), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "S\\TooLong", REG_SZ, longest + "b"), ERROR_SUCCESS);

  std::string value;
  LONG size = 0;
  ASSERT_EQ(Query(key, "S\\Fits", value, size), ERROR_SUCCESS);
  EXPECT_EQ(value, longest);
  EXPECT_EQ(size, 256);
  EXPECT_EQ(Query(key, "S\\TooLong", value, size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 257);
  // Without a buffer only the size is reported.
  size = 0;
  EXPECT_EQ(RegQueryValue(key, "S\\TooLong", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 257);
  RegCloseKey(key);
}

TEST_F(RegistryTest, BackslashesAndQuotesAreEscapedAndReadBack) {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  const std::string tricky = "C:\\dir\\\"quoted\" \\\\ end\\";
  ASSERT_EQ(RegSetValue(key, "Font\\Face", REG_SZ, tricky), ERROR_SUCCESS);
  EXPECT_NE(HiveText().find("@=\"C:\\\\dir\\\\\\\"quoted\\\" \\\\\\\\ end\\\\\"\r\n"),
            std::string::npos)
      << HiveText();
  EXPECT_EQ(QueryText(key, "Font\\Face"), tricky);
  // A NUL ends the value, as the registry keeps C strings.
  ASSERT_EQ(RegSetValue(key, "Font\\Face", REG_SZ, std::string("before\0after", 12)),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, "Font\\Face"), "before");
  RegCloseKey(key);
}

TEST_F(RegistryTest, RejectsBadHandlesPathsTypesAndLineBreaks) {
  HKEY key = 0;
  EXPECT_EQ(RegCreateKey(static_cast<HKEY>(0x80000001), "Corvid", &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCreateKey(0, "Corvid", &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\\\Pling", &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "\\Corvid", &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\", &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, std::string(256, 'k'), &key), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(fs::exists(RegistryHivePath()));

  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "S\\K", REG_SZ, "old"), ERROR_SUCCESS);
  const std::string before = HiveText();
  EXPECT_EQ(RegSetValue(key, "S\\K", REG_SZ, "two\r\nlines"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValue(key, "S\\K", 4 /* a number type */, "1"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValue(key, "S\nX\\K", REG_SZ, "v"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValue(key, std::string(255, 'p'), REG_SZ, "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValue(key, std::string(256, 'p'), REG_SZ, "v"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(QueryText(key, "S\\K"), "old");

  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  std::string value;
  LONG size = 0;
  EXPECT_EQ(Query(key, "S\\K", value, size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValue(key, "S\\K", REG_SZ, "new"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\S\\K"), "old");
}

TEST_F(RegistryTest, AHiveThatCannotBeWrittenStillReadsAndKeepsItsValues) {
  HKEY app = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &app), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(app, "Settings\\Split", REG_SZ, "120"), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(app), ERROR_SUCCESS);
  const std::string before = HiveText();

  // No lock can be taken: opening a key that exists needs none.
  fs::remove(RegistryHivePath() + ".lock");
  fs::create_directory(RegistryHivePath() + ".lock");
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "corvid\\pling", &app), ERROR_SUCCESS);
  char value[256];
  LONG size = sizeof value;
  ASSERT_EQ(RegQueryValue(app, "Settings\\Split", value, &size), ERROR_SUCCESS);
  EXPECT_STREQ(value, "120");
  EXPECT_NE(RegSetValue(app, "Settings\\Split", REG_SZ, "7"), ERROR_SUCCESS);
  fs::remove(RegistryHivePath() + ".lock");

  // A hive file made read-only is not replaced.
  ::chmod(RegistryHivePath().c_str(), 0444);
  EXPECT_NE(RegSetValue(app, "Settings\\Split", REG_SZ, "7"), ERROR_SUCCESS);
  EXPECT_EQ(HiveText(), before);
  ::chmod(RegistryHivePath().c_str(), 0600);
  RegCloseKey(app);
}

TEST_F(RegistryTest, ReadsHandEditedFilesAndKeepsWhatItDoesNotUnderstand) {
  SetHiveText(
      "REGEDIT4\n"
      "; exported by hand\n"
      "[hkey_classes_root\\corvid\\pling\\Settings\\Split]\n"
      "@=\"89\"\n"
      "\"Named\"=\"kept\"\n"
      "@=hex(2):41,\\\n"
      "  42,00\n"
      "this line means nothing\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "@=\"not ours\"\n"
      "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings\\Beep]\n"
      "@=\"a\\b\\\"c\"\n");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Settings\\Split"), "89");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "CORVID\\Pling\\Settings\\Beep"), "a\\b\"c");
  // Parents of listed keys exist, as after an import.
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid"), "");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Software\\Other"),
            "<error " + std::to_string(ERROR_FILE_NOT_FOUND) + ">");

  // Every query reads the file afresh.
  std::string text = HiveText();
  const std::size_t at = text.find("@=\"89\"");
  text.replace(at, 6, "@=\"77\"");
  SetHiveText(text);
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Settings\\Split"), "77");

  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "Settings\\Split", REG_SZ, "90"), ERROR_SUCCESS);
  EXPECT_EQ(HiveText(),
            "REGEDIT4\r\n\r\n"
            "; exported by hand\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\corvid]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\corvid\\pling]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\corvid\\pling\\Settings]\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings\\Beep]\r\n"
            "@=\"a\\\\b\\\"c\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\corvid\\pling\\Settings\\Split]\r\n"
            "@=\"90\"\r\n"
            "\"Named\"=\"kept\"\r\n"
            "this line means nothing\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
            "@=\"not ours\"\r\n\r\n");
  RegCloseKey(key);
}

TEST_F(RegistryTest, QueriesSeeEveryChangeOfTheFile) {
  SetHiveText("REGEDIT4\n[HKEY_CLASSES_ROOT\\S\\K]\n@=\"11\"\n");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), "11");
  // Rewritten in place, same size: the modification time tells.
  SetHiveText("REGEDIT4\n[HKEY_CLASSES_ROOT\\S\\K]\n@=\"22\"\n");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), "22");
  // Replaced by another file of the same size and time: a new file.
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, RegistryHivePath().c_str(), times, 0), 0);
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), "22");
  const std::string other = RegistryHivePath() + ".new";
  std::ofstream(other, std::ios::binary) << "REGEDIT4\n[HKEY_CLASSES_ROOT\\S\\K]\n@=\"33\"\n";
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
  fs::rename(other, RegistryHivePath());
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), "33");
  fs::remove(RegistryHivePath());
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"),
            "<error " + std::to_string(ERROR_FILE_NOT_FOUND) + ">");
}

// A file rewritten in place within one tick keeps its identity (inode, size,
// time): while its time is recent, a query compares the text itself.
TEST_F(RegistryTest, AFileRewrittenWithinItsTickIsReadAgain) {
  timespec now{};
  ASSERT_EQ(::clock_gettime(CLOCK_REALTIME, &now), 0);
  const struct timespec times[2] = {now, now};
  fs::create_directories(fs::path(RegistryHivePath()).parent_path());
  for (const char* value : {"11", "22", "22", "33"}) {
    std::ofstream(RegistryHivePath(), std::ios::binary | std::ios::trunc)
        << "REGEDIT4\n[HKEY_CLASSES_ROOT\\S\\K]\n@=\"" << value << "\"\n";
    ASSERT_EQ(::utimensat(AT_FDCWD, RegistryHivePath().c_str(), times, 0), 0);
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), value);
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), value);
  }
}

TEST_F(RegistryTest, ManyValuesAreSetInOneReplacementMergedWithOtherWriters) {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "Settings\\Split", REG_SZ, "1"), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, "Settings\\Split"), "1");
  // Another program adds a key after this one read the file.
  std::string text = HiveText();
  text += "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings\\Other]\r\n@=\"theirs\"\r\n";
  SetHiveText(text);

  std::vector<TRegValue> values;
  for (int i = 0; i < 300; ++i) {
    values.push_back({"Receivers\\NAME" + std::to_string(i), "R" + std::to_string(i)});
  }
  values.push_back({"Settings\\Split", "89"});
  values.push_back({"receivers\\name0", "FIRST"});  // the later write wins
  ASSERT_EQ(RegSetValues(key, values), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, "Receivers\\NAME0"), "FIRST");
  EXPECT_EQ(QueryText(key, "Receivers\\NAME299"), "R299");
  EXPECT_EQ(QueryText(key, "Settings\\Split"), "89");
  EXPECT_EQ(QueryText(key, "Settings\\Other"), "theirs");
  EXPECT_EQ(SerializeHive(ParseHive(HiveText())), HiveText());

  // The same values again leave the file as it is; one changed among them is
  // written with the rest.
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(RegistryHivePath().c_str(), &before), 0);
  values.pop_back();
  values[0].data = "FIRST";
  // So the hive tells without a write, too (key names in any case).
  EXPECT_TRUE(RegValuesSet(key, values));
  EXPECT_TRUE(RegValuesSet(key, std::vector<TRegValue>{{"RECEIVERS\\name7", "R7"}}));
  ASSERT_EQ(RegSetValues(key, values), ERROR_SUCCESS);
  ASSERT_EQ(::stat(RegistryHivePath().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "an unchanged set does not replace the file";
  values[150].data = "CHANGED";
  EXPECT_FALSE(RegValuesSet(key, values));
  EXPECT_FALSE(RegValuesSet(key, std::vector<TRegValue>{{"Receivers\\NAME7", "r7"}}));
  EXPECT_FALSE(RegValuesSet(key, std::vector<TRegValue>{{"Receivers\\NAME999", ""}}));
  EXPECT_FALSE(RegValuesSet(key, std::vector<TRegValue>{{"Receivers\\NAME7", "R7\nx"}}));
  ASSERT_EQ(RegSetValues(key, values), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, "Receivers\\NAME150"), "CHANGED");
  EXPECT_EQ(QueryText(key, "Receivers\\NAME0"), "FIRST");

  // One bad entry: nothing is written.
  text = HiveText();
  values = {{"Settings\\Split", "2"}, {"Settings\\Bad", "two\nlines"}};
  EXPECT_EQ(RegSetValues(key, values), ERROR_INVALID_PARAMETER);
  values = {{"Settings\\Split", "2"}, {"Settings\\\\Bad", "x"}};
  EXPECT_EQ(RegSetValues(key, values), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(HiveText(), text);

  // A failure names the file and the cause.
  ::chmod(RegistryHivePath().c_str(), 0444);
  values = {{"Settings\\Split", "3"}};
  EXPECT_EQ(RegSetValues(key, values), ERROR_ACCESS_DENIED);
  const auto written = SetRegValues(key, values);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.Error().text, RegistryHivePath() + ": Permission denied");
  ::chmod(RegistryHivePath().c_str(), 0600);
  EXPECT_EQ(QueryText(key, "Settings\\Split"), "89");
  RegCloseKey(key);
}

// Text as UTF-16LE with the byte-order mark; `text` is UTF-8.
std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

TEST_F(RegistryTest, ReadsAndKeepsUnicodeRegistryFiles) {
  ASSERT_TRUE(SelectCodePages(1252));
  // As a Windows export writes it: UTF-16LE, its own signature, CRLF.
  const std::u16string exported =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME0]\r\n"
      u"@=\"Ren\u00e9+\"\r\n\r\n"
      u"[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME1]\r\n"
      u"@=\"\u5f20\u4f1f-\"\r\n\r\n"
      u"[HKEY_CLASSES_ROOT\\Other\\\u5f20]\r\n"
      u"@=\"\u4f1f\"\r\n\"Named\"=\"\u00e9\u4f1f\"\r\n\r\n";
  SetHiveText(Utf16File(exported));
  // Strings come in the ANSI code page; what it cannot hold reads as "?".
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Receivers\\NAME0"), "Ren\xE9+");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Receivers\\NAME1"), "?\?-");

  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "Receivers\\NAME2", REG_SZ, "Z\xFCri-"), ERROR_SUCCESS);
  RegCloseKey(key);
  // Still a Unicode file with its signature; every other character is as it was.
  const std::string text = HiveText();
  ASSERT_EQ(text.rfind(Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"), 0), 0u);
  for (const std::u16string& kept :
       {std::u16string(u"@=\"\u5f20\u4f1f-\"\r\n"),
        std::u16string(u"[HKEY_CLASSES_ROOT\\Other\\\u5f20]"),
        std::u16string(u"\"Named\"=\"\u00e9\u4f1f\""), std::u16string(u"@=\"Z\u00fcri-\"\r\n")}) {
    EXPECT_NE(text.find(Utf16File(kept).substr(2)), std::string::npos);
  }
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Receivers\\NAME2"), "Z\xFCri-");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Receivers\\NAME0"), "Ren\xE9+");
}

TEST_F(RegistryTest, KeyNamesFoldCaseInTheAnsiCodePage) {
  ASSERT_TRUE(SelectCodePages(1252));
  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key, "S\xE9\\k", REG_SZ, "1"), ERROR_SUCCESS);     // Sé
  ASSERT_EQ(RegSetValue(key, "S\xC9\\K", REG_SZ, "2"), ERROR_SUCCESS);     // SÉ: the same key
  ASSERT_EQ(RegSetValue(key, "\x8A\xFF\\x", REG_SZ, "3"), ERROR_SUCCESS);  // Šÿ
  EXPECT_EQ(QueryText(key, "s\xE9\\k"), "2");
  EXPECT_EQ(QueryText(key, "\x9A\x9F\\X"), "3");  // šŸ
  const std::string text = HiveText();
  EXPECT_EQ(text.find("S\xC9"), std::string::npos) << text;  // the first spelling stays
  // Other code pages fold their own letters: Cyrillic Я and я.
  ASSERT_TRUE(SelectCodePages(1251));
  ASSERT_EQ(RegSetValue(key, "\xDF\\k", REG_SZ, "4"), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, "\xFF\\K"), "4");
  RegCloseKey(key);
}

TEST_F(RegistryTest, AValueFollowedByACommentReadsAndKeepsTheComment) {
  SetHiveText(
      "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\S\\K]\r\n@=\"c\" ;note\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\S\\L]\r\n@=\"d\"  \r\n\r\n"
      "[HKEY_CLASSES_ROOT\\S\\M]\r\n@=\"e\" f\r\n\r\n");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), "c");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\L"), "d");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\M"), "");  // not a value line: no value
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "S\\K", REG_SZ, "new"), ERROR_SUCCESS);
  EXPECT_NE(HiveText().find("@=\"new\" ;note\r\n"), std::string::npos) << HiveText();
  EXPECT_NE(HiveText().find("@=\"e\" f\r\n"), std::string::npos) << HiveText();
}

TEST_F(RegistryTest, OnlyRegularFilesAreReadOrReplaced) {
  fs::create_directories(ConfigDir());
  const std::string hive = RegistryHivePath();
  const auto refused = [&](const std::string& what) {
    SCOPED_TRACE(what);
    HKEY key = 0;
    EXPECT_NE(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K").rfind("<error", 0), 0u);
    EXPECT_NE(RegSetValue(HKEY_CLASSES_ROOT, "S\\K", REG_SZ, "v"), ERROR_SUCCESS);
    // The result-returning forms carry the file and the cause with the failure.
    const auto created = CreateRegKey(HKEY_CLASSES_ROOT, "Corvid\\Pling");
    ASSERT_FALSE(created);
    EXPECT_EQ(created.Error().text.rfind(hive + ": ", 0), 0u) << created.Error().text;
    EXPECT_NE(created.Error().text.find(what), std::string::npos) << created.Error().text;
    const auto read = QueryRegValue(HKEY_CLASSES_ROOT, "S\\K");
    ASSERT_FALSE(read);
    EXPECT_NE(read.Error().text.find(what), std::string::npos) << read.Error().text;
    const TRegValue values[] = {{"S\\K", "v"}};
    const auto written = SetRegValues(HKEY_CLASSES_ROOT, values);
    ASSERT_FALSE(written);
    EXPECT_NE(written.Error().text.find(what), std::string::npos) << written.Error().text;
  };
  // Links to devices: neither replaced nor read, no lock file beside them.
  const bool nullLockBefore = fs::exists("/dev/null.lock");
  fs::create_symlink("/dev/null", hive);
  refused("a link to /dev/null, a device");
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  if (!nullLockBefore) {
    EXPECT_FALSE(fs::exists("/dev/null.lock"));
  }
  fs::remove(hive);
  fs::create_symlink("/dev/zero", hive);
  refused("a link to /dev/zero, a device");
  fs::remove(hive);
  // A FIFO does not block; a folder and a link to itself are named.
  ASSERT_EQ(::mkfifo(hive.c_str(), 0600), 0);
  refused("is a FIFO");
  fs::remove(hive);
  fs::create_directory(hive);
  refused("is a folder");
  fs::remove(hive);
  fs::create_symlink("registry.reg", hive);
  refused("Too many levels of symbolic links");
  fs::remove(hive);
  // Too large to be a settings file.
  { std::ofstream(hive, std::ios::binary) << "REGEDIT4\r\n"; }
  fs::resize_file(hive, (64u << 20) + 1);
  refused("File too large");
  fs::remove(hive);

  // A link to a regular file elsewhere: that file is replaced, the link stays,
  // and the lock file is made in the settings folder only.
  const fs::path elsewhere = fs::path(Root()) / "dotfiles";
  fs::create_directories(elsewhere);
  { std::ofstream(elsewhere / "registry.reg", std::ios::binary) << "REGEDIT4\r\n"; }
  fs::create_symlink(elsewhere / "registry.reg", hive);
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "S\\K", REG_SZ, "v"), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_symlink(hive));
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "S\\K"), "v");
  EXPECT_NE(FileText(elsewhere / "registry.reg").find("@=\"v\""), std::string::npos);
  EXPECT_FALSE(fs::exists(elsewhere / "registry.reg.lock"));
}

// A broken line costs only itself: the values after it still load into their own
// keys (not into the key before), each broken line is told by its number, and the
// next write of the file keeps everything.
TEST_F(RegistryTest, ABrokenLineCostsOnlyItselfAndIsToldByItsNumber) {
  SetHiveText(
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME0]\r\n"
      "@=\"Ann+\"\r\n"
      "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME1\r\n"  // line 5: no "]"
      "@=\"Bob-\"\r\n"
      "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME2]\r\n"
      "@=\"Carol+\r\n"  // line 8: no quote
      "garbage\r\n"     // line 9
      "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME3]\r\n"
      "@=\"say \"hi\"\" ;kept\r\n"  // line 11
      "\"Named\"=hex:01,\\\r\n"
      "  02\r\n");
  for (const auto& [key, value] : {std::pair{"NAME0", "Ann+"}, std::pair{"NAME1", "Bob-"},
                                   std::pair{"NAME2", "Carol+"}, std::pair{"NAME3", "say \"hi\""}})
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, std::string("Corvid\\Pling\\Receivers\\") + key), value)
        << key;
  const std::vector<std::string> problems = RegistryHiveProblems();
  ASSERT_EQ(problems.size(), 4u) << ::testing::PrintToString(problems);
  const std::string file = RegistryHivePath();
  EXPECT_EQ(problems[0].rfind(file + ", line 5: the key \"[HKEY_CLASSES_ROOT", 0), 0u)
      << problems[0];
  EXPECT_EQ(problems[1].rfind(file + ", line 8: the value \"@=\"Carol+\" has no closing quote", 0),
            0u)
      << problems[1];
  EXPECT_EQ(problems[2], file + ", line 9: \"garbage\" is not understood; kept as it is");
  EXPECT_EQ(problems[3].rfind(file + ", line 11: ", 0), 0u) << problems[3];

  // A write keeps every value, and the file then reads cleanly.
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Settings\\Split", REG_SZ, "90"),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Receivers\\NAME1"), "Bob-");
  EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "Corvid\\Pling\\Receivers\\NAME3"), "say \"hi\"");
  EXPECT_NE(HiveText().find("\"Named\"=hex:01,\\\r\n  02\r\n"), std::string::npos);
  const std::vector<std::string> after = RegistryHiveProblems();
  ASSERT_EQ(after.size(), 1u) << ::testing::PrintToString(after);
  EXPECT_NE(after[0].find(": \"garbage\" is not understood; kept as it is"), std::string::npos);

  // A file that cannot be read is told as such.
  fs::remove(RegistryHivePath());
  fs::create_directory(RegistryHivePath());
  ASSERT_EQ(RegistryHiveProblems().size(), 1u);
  EXPECT_EQ(RegistryHiveProblems()[0], "Cannot read " + file + ": is a folder, not a file");
}

// Keys ordered part by part without regard to case, compared eight bytes at a
// time; a file's keys come in that order and are added without a search. Random
// names (capitals, accented capitals, backslashes, empty parts) against a plain
// byte-by-byte comparison, and the hive of a file in order against the same keys
// added in another order.
TEST_F(RegistryTest, KeysInTheFilesOrderMakeTheHiveOfAnyOtherOrder) {
  ASSERT_TRUE(SelectCodePages(1252));
  const THiveKeyOrder order;
  const auto plain = [&order](std::string_view a, std::string_view b) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
      const auto x = order.rank[static_cast<unsigned char>(a[i])];
      const auto y = order.rank[static_cast<unsigned char>(b[i])];
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  };
  std::mt19937 random(7);
  const std::string letters = "abAB\\\xC9\xE9_0";
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) {
    std::string name = "HKEY_CLASSES_ROOT\\Corvid\\Pling\\";
    const std::size_t length = 1 + random() % 24;
    for (std::size_t k = 0; k < length; ++k) name += letters[random() % letters.size()];
    names.push_back(name);
  }
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    ASSERT_EQ(order(names[i], names[i + 1]), plain(names[i], names[i + 1]))
        << names[i] << " " << names[i + 1];
  }
  // Spelled one way each (a key keeps its first spelling, and a parent that of
  // the key that made it first).
  std::vector<std::string> folded;
  for (const std::string& name : names) folded.push_back(HiveKeyId(name));
  THive shuffled;
  for (const std::string& name : folded) AddHiveKey(shuffled, name);
  std::string text = "REGEDIT4\r\n";
  std::vector<std::string> sorted = folded;
  std::sort(sorted.begin(), sorted.end(), plain);
  for (const std::string& name : sorted) text += "\r\n[" + name + "]\r\n";
  EXPECT_EQ(ParseHive(text), shuffled);
}

TEST_F(RegistryTest, ArbitraryTextReachesAStableFormAfterOneRewrite) {
  for (const std::string& text :
       {std::string("garbage\r\n[\r\n]\r\n@=\"x\n[HKEY_CLASSES_ROOT\\a\\\\b]\n@ = \"v\"  \n"),
        std::string("[HKEY_CLASSES_ROOT]\n@=\"root\"\n[]\nREGEDIT4\n", 42),
        std::string("\xff\x00[\x00]\r\r\n@=\"a\x00z\"", 14)}) {
    const THive first = ParseHive(text);
    const std::string written = SerializeHive(first);
    EXPECT_EQ(written.rfind("REGEDIT4\r\n\r\n", 0), 0u);
    EXPECT_EQ(ParseHive(written), first);
    EXPECT_EQ(SerializeHive(ParseHive(written)), written);
  }
}

}  // namespace
}  // namespace pling::platform
