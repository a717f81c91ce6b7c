// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file_cache.h"
#include "platform/file_error.h"
#include "platform/paths.h"
#include "platform/profile_parser.h"
#include "temp_config.h"

namespace pling::platform {
namespace {

namespace fs = std::filesystem;

// Each test works in a fresh folder that also serves as XDG_CONFIG_HOME.
class ProfileTest : public pling::testing::TempConfigTest {
 protected:
  void TearDown() override {
    // Gives the write permission back in case a test took it away.
    ::chmod(Root().c_str(), 0700);
    TempConfigTest::TearDown();
  }

  std::string Path(const std::string& name) const { return Root() + "/" + name; }

  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::string& section, const std::string& key,
                          const std::string& file, const std::string& fallback = "<none>") {
    char buffer[1024];
    const DWORD count =
        GetPrivateProfileString(section, key, fallback, buffer, sizeof buffer, file);
    return std::string(buffer, count);
  }
};

const char* const kHandWritten =
    "; settings of the messenger\r\n"
    "\r\n"
    "[Settings]\r\n"
    "Split=89\r\n"
    "  Beep  =   1   \r\n"
    "# Quoted='not a key'\r\n"
    "Title=\"  spaced out  \"\r\n"
    "Single='x'\r\n"
    "Mixed=\"half'\r\n"
    "NoEquals line\r\n"
    "Empty=\r\n"
    "\r\n"
    "[ Receivers ]\r\n"
    "NAME0=ALICE+\r\n"
    "name0=shadowed\r\n"
    "[settings]\r\n"
    "Split=shadowed section\r\n"
    "Late=only in the second\r\n";

TEST_F(ProfileTest, ReadsAHandWrittenFileAsTheProfileFunctionsDo) {
  const std::string file = Path("hand.ini");
  WriteFile(file, kHandWritten);

  EXPECT_EQ(Read("Settings", "Split", file), "89");
  EXPECT_EQ(Read("SETTINGS", "split", file), "89");
  EXPECT_EQ(Read(" Settings ", " Beep ", file), "1");
  EXPECT_EQ(Read("Settings", "Title", file), "  spaced out  ");
  EXPECT_EQ(Read("Settings", "Single", file), "x");
  EXPECT_EQ(Read("Settings", "Mixed", file), "\"half'");
  EXPECT_EQ(Read("Settings", "Empty", file), "");
  EXPECT_EQ(Read("receivers", "NAME0", file), "ALICE+");
  // Comments and lines without "=" never match; the first section and key win.
  EXPECT_EQ(Read("Settings", "# Quoted", file), "<none>");
  EXPECT_EQ(Read("Settings", "NoEquals line", file), "<none>");
  EXPECT_EQ(Read("Settings", "Late", file), "<none>");
  EXPECT_EQ(Read("Nowhere", "Split", file), "<none>");
  EXPECT_EQ(Read("Settings", "Split", Path("missing.ini"), "dflt"), "dflt");
}

TEST_F(ProfileTest, CopiesAtMostTheBufferLessOne) {
  const std::string file = Path("long.ini");
  const std::string value(2000, 'v');
  ASSERT_TRUE(WritePrivateProfileString("Long", "Value", value, file));
  EXPECT_EQ(Read("Long", "Value", file), value.substr(0, 1023));

  char small[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetPrivateProfileString("Long", "Value", "", small, 5, file), 4u);
  EXPECT_STREQ(small, "vvvv");
  EXPECT_EQ(GetPrivateProfileString("Long", "Missing", "default", small, 5, file), 4u);
  EXPECT_STREQ(small, "defa");
  EXPECT_EQ(GetPrivateProfileString("Long", "Value", "", small, 0, file), 0u);
}

TEST_F(ProfileTest, WriteKeepsEveryOtherLineByteForByte) {
  const std::string file = Path("hand.ini");
  WriteFile(file, kHandWritten);

  ASSERT_TRUE(WritePrivateProfileString("settings", "SPLIT", "120", file));
  ASSERT_TRUE(WritePrivateProfileString("Settings", "Beep", "0", file));
  ASSERT_TRUE(WritePrivateProfileString("Settings", "NewKey", "new", file));
  ASSERT_TRUE(WritePrivateProfileString("Receivers", "NAME1", "BOB-", file));
  ASSERT_TRUE(WritePrivateProfileString("TPlingFrm", "Left", "-30", file));

  EXPECT_EQ(FileText(file),
            "; settings of the messenger\r\n"
            "\r\n"
            "[Settings]\r\n"
            "Split=120\r\n"
            "  Beep=0\r\n"
            "# Quoted='not a key'\r\n"
            "Title=\"  spaced out  \"\r\n"
            "Single='x'\r\n"
            "Mixed=\"half'\r\n"
            "NoEquals line\r\n"
            "Empty=\r\n"
            "NewKey=new\r\n"
            "\r\n"
            "[ Receivers ]\r\n"
            "NAME0=ALICE+\r\n"
            "name0=shadowed\r\n"
            "NAME1=BOB-\r\n"
            "[settings]\r\n"
            "Split=shadowed section\r\n"
            "Late=only in the second\r\n"
            "\r\n"
            "[TPlingFrm]\r\n"
            "Left=-30\r\n");
  EXPECT_EQ(Read("Settings", "Split", file), "120");
  EXPECT_EQ(Read("TPlingFrm", "Left", file), "-30");
}

TEST_F(ProfileTest, KeepsLineFeedFilesAndAppendsToAnUnterminatedLastLine) {
  const std::string file = Path("lf.ini");
  WriteFile(file, "[A]\nx=1");
  ASSERT_TRUE(WritePrivateProfileString("A", "y", "2", file));
  EXPECT_EQ(FileText(file), "[A]\nx=1\ny=2\n");
  ASSERT_TRUE(WritePrivateProfileString("A", "x", "", file));
  EXPECT_EQ(FileText(file), "[A]\nx=\ny=2\n");
  EXPECT_EQ(Read("A", "x", file), "");
}

TEST_F(ProfileTest, NameWithoutFolderLivesInTheWindowsDirectory) {
  ASSERT_FALSE(fs::exists(WindowsDirectory()));
  ASSERT_TRUE(WritePrivateProfileString("Settings", "Split", "89", "Pling"));
  const std::string expected = WindowsDirectory() + "/Pling";
  EXPECT_EQ(expected, Root() + "/pling/Pling");
  EXPECT_EQ(FileText(expected), "[Settings]\nSplit=89\n");
  EXPECT_EQ(Read("Settings", "Split", "Pling"), "89");

  // A path with a folder is used as given, folders created as needed.
  const std::string nested = Path("a/b/c.ini");
  ASSERT_TRUE(WritePrivateProfileString("S", "K", "V", nested));
  EXPECT_EQ(FileText(nested), "[S]\nK=V\n");
}

TEST_F(ProfileTest, WritingThroughASymbolicLinkKeepsTheLink) {
  const std::string real = Path("real.ini");
  const std::string link = Path("link.ini");
  WriteFile(real, "[S]\nK=old\n");
  fs::create_symlink(real, link);
  ASSERT_TRUE(WritePrivateProfileString("S", "K", "new", link));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(FileText(real), "[S]\nK=new\n");
}

TEST_F(ProfileTest, OnlyRegularFilesAreReadOrReplaced) {
  const std::string file = Path("Pling");
  const bool nullLockBefore = fs::exists("/dev/null.lock");
  fs::create_symlink("/dev/null", file);
  EXPECT_FALSE(WritePrivateProfileString("S", "K", "v", file));
  const auto written = WriteProfileValue("S", "K", "v", file);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.Error().text, file + ": a link to /dev/null, a device, not a regular file");
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  if (!nullLockBefore) {
    EXPECT_FALSE(fs::exists("/dev/null.lock"));
  }
  EXPECT_EQ(Read("S", "K", file), "<none>");
  const auto read = ReadProfileValue("S", "K", file);
  ASSERT_FALSE(read);
  EXPECT_NE(read.Error().text.find("a device"), std::string::npos);
  fs::remove(file);
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(Read("S", "K", file), "<none>");  // at once, without a writer
  const auto fifo = ReadProfileValue("S", "K", file);
  ASSERT_FALSE(fifo);
  EXPECT_EQ(fifo.Error().text, file + ": is a FIFO, not a regular file");
  EXPECT_FALSE(WritePrivateProfileString("S", "K", "v", file));
}

TEST_F(ProfileTest, RefusesLineBreaksAndNamesThatWouldReadAsOtherLines) {
  const std::string file = Path("safe.ini");
  const std::string before = "[S]\r\nK=old\r\n";
  WriteFile(file, before);
  for (const auto& [section, key, value] :
       {std::tuple<std::string, std::string, std::string>{"S", "K", "two\nlines"},
        {"S", "K", "cr\r"},
        {"S\n[X]", "K", "v"},
        {"S", "a=b", "v"},
        {"S", ";K", "v"},
        {"S", "[K]", "v"}}) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WritePrivateProfileString(section, key, value, file)) << key << "=" << value;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(FileText(file), before);
  // A NUL ends the text, as it ends a C string.
  ASSERT_TRUE(WritePrivateProfileString("S", "K", std::string("new\0tail", 8), file));
  EXPECT_EQ(FileText(file), "[S]\r\nK=new\r\n");
}

TEST_F(ProfileTest, FailedWriteReportsFalseAndLeavesTheFileAlone) {
  // The folder is a file: nothing can be created below it.
  WriteFile(Path("plain"), "x");
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(WritePrivateProfileString("S", "K", "V", Path("plain/sub.ini")));
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);

  // The lock cannot be taken (its file is a folder): the old file stays.
  const std::string file = Path("locked.ini");
  WriteFile(file, "[S]\nK=old\n");
  fs::create_directory(file + ".lock");
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(WritePrivateProfileString("S", "K", "new", file));
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(FileText(file), "[S]\nK=old\n");

  // A file made read-only is not replaced, though its folder would allow it.
  const std::string readOnly = Path("readonly.ini");
  WriteFile(readOnly, "[S]\nK=old\n");
  ::chmod(readOnly.c_str(), 0444);
  EXPECT_FALSE(WritePrivateProfileString("S", "K", "new", readOnly));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FileText(readOnly), "[S]\nK=old\n");

  if (::geteuid() != 0) {  // the superuser writes into read-only folders
    const std::string folder = Path("readonly");
    fs::create_directory(folder);
    WriteFile(folder + "/p.ini", "[S]\nK=old\n");
    ::chmod(folder.c_str(), 0500);
    EXPECT_FALSE(WritePrivateProfileString("S", "K", "new", folder + "/p.ini"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(FileText(folder + "/p.ini"), "[S]\nK=old\n");
  }
}

// The result-returning forms carry the failure, with the file and its cause, in
// the result itself: a call in between cannot overwrite it.
TEST_F(ProfileTest, ResultFormsCarryTheFileAndTheCause) {
  const std::string file = Path("result.ini");
  ASSERT_TRUE(WriteProfileValue("S", "K", "\" two words \"", file));
  const auto read = ReadProfileValue("s", "k", file);
  ASSERT_TRUE(read);
  EXPECT_EQ(read.Value(), std::optional<std::string>(" two words "));
  const auto absent = ReadProfileValue("S", "Other", file);
  ASSERT_TRUE(absent);
  EXPECT_FALSE(absent.Value().has_value());
  const auto missing = ReadProfileValue("S", "K", Path("missing.ini"));
  ASSERT_TRUE(missing);
  EXPECT_FALSE(missing.Value().has_value());

  const std::string folder = Path("folder.ini");
  fs::create_directory(folder);
  const auto failed = ReadProfileValue("S", "K", folder);
  ASSERT_FALSE(failed);
  // A successful call on the same thread leaves the failure as it was.
  ASSERT_TRUE(ReadProfileValue("S", "K", file));
  EXPECT_EQ(failed.Error().text, folder + ": is a folder, not a file");
  EXPECT_NE(failed.Error().code, ERROR_SUCCESS);

  const std::string readOnly = Path("readonly-result.ini");
  WriteFile(readOnly, "[S]\nK=old\n");
  ::chmod(readOnly.c_str(), 0444);
  const TProfileValue values[] = {{"S", "K", "new"}};
  const auto written = WriteProfileValues(values, readOnly);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.Error().code, ERROR_ACCESS_DENIED);
  EXPECT_EQ(written.Error().text.rfind(readOnly + ": ", 0), 0u) << written.Error().text;
  EXPECT_EQ(FileText(readOnly), "[S]\nK=old\n");
  // A refusal that concerns no file names none, whatever failed before it.
  const auto refused = WriteProfileValue("S", "two\nlines", "v", file);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.Error().code, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(refused.Error().text, "");
}

// A section header without its "]" still starts its section, so that its keys do
// not land in the section before; it and a line that is nothing at all are told by
// their numbers.
TEST_F(ProfileTest, ASectionWithoutItsBracketCostsOnlyItself) {
  const std::string file = Path("broken.ini");
  WriteFile(file, "[Receivers]\nNAME0=Bob+\n[Settings\nSplit=120\ngarbage\n; note\n[Other]\nK=v\n");
  char buffer[64];
  ASSERT_EQ(GetPrivateProfileString("Settings", "Split", "", buffer, sizeof buffer, file), 3u);
  EXPECT_STREQ(buffer, "120");
  EXPECT_EQ(GetPrivateProfileString("Receivers", "Split", "none", buffer, sizeof buffer, file), 4u);
  EXPECT_STREQ(buffer, "none");
  EXPECT_EQ(GetPrivateProfileString("Other", "K", "", buffer, sizeof buffer, file), 1u);
  EXPECT_EQ(ProfileFileProblems(file),
            (std::vector<std::string>{
                file + ", line 3: the section \"[Settings\" has no closing \"]\"; read as if it "
                       "had one",
                file + ", line 5: \"garbage\" is neither a section, a key nor a comment; kept as "
                       "it is"}));
  // A write into the section lands below its header; the other lines stay.
  ASSERT_TRUE(WritePrivateProfileString("Settings", "Split", "90", file));
  EXPECT_EQ(FileText(file),
            "[Receivers]\nNAME0=Bob+\n[Settings\nSplit=90\ngarbage\n; note\n[Other]\nK=v\n");
  // A file that cannot be read is told as such.
  ::mkdir(Path("folder.ini").c_str(), 0700);
  EXPECT_EQ(
      ProfileFileProblems(Path("folder.ini")),
      std::vector<std::string>{"Cannot read " + Path("folder.ini") + ": is a folder, not a file"});
}

TEST_F(ProfileTest, NewSectionIsSeparatedByABlankLineAndEmptyNamesRoundTrip) {
  EXPECT_EQ(SetProfileValue("", "S", "K", "V"), "[S]\nK=V\n");
  EXPECT_EQ(SetProfileValue("[A]\r\nx=1\r\n\r\n", "B", "K", "V"),
            "[A]\r\nx=1\r\n\r\n[B]\r\nK=V\r\n");
  EXPECT_EQ(SetProfileValue("; only a comment", "B", "K", "V"), "; only a comment\n\n[B]\nK=V\n");
  EXPECT_EQ(SetProfileValue("[S]\n  =old\n", "S", "", "new"), "[S]\n  =new\n");
  EXPECT_EQ(FindProfileValue("[]\n=v\n", "", ""), std::optional<std::string_view>("v"));
  // A section header with text after "]" takes the name up to the last "]".
  EXPECT_EQ(FindProfileValue("[a]b]\nk=v\n", "a]b", "k"), std::optional<std::string_view>("v"));
}

// Sets the file's modification time to `seconds` (and no nanoseconds).
void SetModified(const std::string& path, std::time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(ProfileTest, ReadsSeeEveryChangeOfTheFile) {
  const std::string file = Path("cached.ini");
  ASSERT_TRUE(WritePrivateProfileString("S", "K", "11", file));
  EXPECT_EQ(Read("S", "K", file), "11");
  // Rewritten in place, same size: the modification time tells.
  WriteFile(file, "[S]\nK=22\n");
  EXPECT_EQ(Read("S", "K", file), "22");
  // Replaced by another file of the same size and the same time: a new file.
  SetModified(file, 1000000000);
  EXPECT_EQ(Read("S", "K", file), "22");
  WriteFile(file + ".new", "[S]\nK=33\n");
  SetModified(file + ".new", 1000000000);
  fs::rename(file + ".new", file);
  EXPECT_EQ(Read("S", "K", file), "33");
  // Rewritten in place within the same tick of the file clock (here: the same
  // time set again), as a fast writer can: a recent time is not trusted.
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  ASSERT_TRUE(WritePrivateProfileString("S", "K", "66", file));
  EXPECT_EQ(Read("S", "K", file), "66");
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  WriteFile(file, "[S]\nK=77\n");
  const struct timespec same[2] = {info.st_atim, info.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), same, 0), 0);
  EXPECT_EQ(Read("S", "K", file), "77");
  // Gone, and back.
  fs::remove(file);
  EXPECT_EQ(Read("S", "K", file), "<none>");
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  WriteFile(file, "[S]\nK=44\n");
  EXPECT_EQ(Read("S", "K", file), "44");
  // A write by another program between two writes of this one is kept.
  WriteFile(file, "[S]\nK=44\nOther=x\n");
  ASSERT_TRUE(WritePrivateProfileString("S", "K", "55", file));
  EXPECT_EQ(FileText(file), "[S]\nK=55\nOther=x\n");
}

TEST_F(ProfileTest, AReadHoldReadsAJustWrittenFileOnceAndAChangeMergesWithTheFile) {
  const std::string file = Path("held.ini");
  const auto rewriteInSameTick = [&](const std::string& text) {
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    WriteFile(file, text);
    const struct timespec same[2] = {info.st_atim, info.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), same, 0), 0);
  };
  WriteFile(file, "[S]\nK=11\nL=1\n");  // just written: its time alone proves nothing
  {
    const TFileReadHold hold;
    EXPECT_EQ(Read("S", "K", file), "11");
    // Within the hold the version read serves: the file is not read again.
    rewriteInSameTick("[S]\nK=22\nL=2\n");
    EXPECT_EQ(Read("S", "K", file), "11");
    // A change under the file's lock reads the file itself: the other writer's
    // value stays beside this one, and the reads see what this process wrote.
    ASSERT_TRUE(WritePrivateProfileString("S", "K", "33", file));
    EXPECT_EQ(FileText(file), "[S]\nK=33\nL=2\n");
    EXPECT_EQ(Read("S", "L", file), "2");
    WriteFile(file, "[S]\nK=444\n");
    EXPECT_EQ(Read("S", "K", file), "33");
  }
  // Once the hold is over, another version is seen, also one written within the
  // same tick.
  EXPECT_EQ(Read("S", "K", file), "444");
  rewriteInSameTick("[S]\nK=555\n");
  EXPECT_EQ(Read("S", "K", file), "555");
}

TEST_F(ProfileTest, ManyValuesAreWrittenInOneReplacement) {
  const std::string file = Path("batch.ini");
  WriteFile(file, "; kept\n[Receivers]\nNAME0=OLD\n");
  std::vector<TProfileValue> values;
  for (int i = 0; i < 300; ++i) {
    values.push_back({"Receivers", "NAME" + std::to_string(i), "R" + std::to_string(i)});
  }
  values.push_back({"Settings", "Split", "89"});
  values.push_back({"receivers", "name0", "FIRST"});  // the later write wins
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  ASSERT_TRUE(WritePrivateProfileStrings(values, file));
  EXPECT_EQ(Read("Receivers", "NAME0", file), "FIRST");
  EXPECT_EQ(Read("Receivers", "NAME299", file), "R299");
  EXPECT_EQ(Read("Settings", "Split", file), "89");
  EXPECT_EQ(FileText(file).rfind("; kept\n[Receivers]\nNAME0=FIRST\nNAME1=R1\n", 0), 0u);

  // One bad entry: nothing is written.
  const std::string text = FileText(file);
  values = {{"Settings", "Split", "1"}, {"Settings", "Bad", "two\nlines"}};
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(WritePrivateProfileStrings(values, file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FileText(file), text);

  // A failure names the file and the cause.
  ::chmod(file.c_str(), 0444);
  values = {{"Settings", "Split", "1"}};
  EXPECT_FALSE(WritePrivateProfileStrings(values, file));
  const auto written = WriteProfileValues(values, file);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.Error().text, file + ": Permission denied");
  ::chmod(file.c_str(), 0600);
}

// Random profile texts: sections that repeat in other spellings, keys before any
// section, comments, blank and odd lines, CRLF or LF, an unterminated last line.
std::string RandomProfileText(std::mt19937& random) {
  static const char* const kLines[] = {"[A]",    "[a]",     " [ B ] ", "[C]",   "[]",    "k=1",
                                       "K = 2 ", "x=\"q\"", "y='",     "; k=3", "# x=4", "",
                                       "  ",     "junk",    "=empty",  "k",     "[A]b]", "z=9"};
  const std::string lineEnd = random() % 2 ? "\r\n" : "\n";
  std::string text;
  const int count = static_cast<int>(random() % 12);
  for (int i = 0; i < count; ++i) {
    text.append(kLines[random() % std::size(kLines)]);
    if (i + 1 < count || random() % 2) text.append(lineEnd);
  }
  return text;
}

TEST_F(ProfileTest, BatchedWritesAndIndexedReadsMatchOneByOne) {
  static const char* const kSections[] = {"A", "a", "B", " b", "C", "D", "", "A]b"};
  static const char* const kKeys[] = {"k", "K", " x", "y", "z", "", "new"};
  static const char* const kValues[] = {"1", "", " v ", "\"q\"", "w"};
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = RandomProfileText(random);
    std::vector<TProfileWrite> writes;
    std::string oneByOne = text;
    const int count = static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
      const TProfileWrite write{kSections[random() % std::size(kSections)],
                                kKeys[random() % std::size(kKeys)],
                                kValues[random() % std::size(kValues)]};
      writes.push_back(write);
      oneByOne = SetProfileValue(oneByOne, write.section, write.key, write.value);
    }
    const std::string batched = SetProfileValues(text, writes);
    ASSERT_EQ(batched, oneByOne) << "text: " << text << " writes: " << count;

    const TProfileIndex index(batched);
    for (const char* section : kSections) {
      for (const char* key : kKeys) {
        ASSERT_EQ(index.Find(section, key), FindProfileValue(batched, section, key))
            << batched << " [" << section << "] " << key;
      }
    }
  }
}

}  // namespace
}  // namespace pling::platform
