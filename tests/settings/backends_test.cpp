// SPDX-License-Identifier: GPL-3.0-or-later
// The INI and registry back ends, row by row where they differ.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "convert_error.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "temp_config.h"

namespace pling::settings {
namespace {

using pling::testing::TempConfigTest;

using pling::testing::ConvertErrorOf;

// The INI file and the registry hive, each behind the settings store's back-end interface.
class BackendsTest : public TempConfigTest {};

TEST_F(BackendsTest, IniFileLivesInTheConfigFolderUnderTheNameAsGiven) {
  TIniFile ini("Pling");
  EXPECT_TRUE(ConfigDirEmpty());  // creation touches no file
  ini.WriteInteger("Settings", "Split", 89);
  ini.WriteInteger("Settings", "Offset", -5);
  const std::string text = FileText(ConfigDir() / "Pling");
  EXPECT_NE(text.find("[Settings]"), std::string::npos) << text;
  EXPECT_NE(text.find("Split=89"), std::string::npos) << text;
  EXPECT_NE(text.find("Offset=-5"), std::string::npos) << text;
  EXPECT_EQ(ini.ReadInteger("Settings", "Split", 0), 89);
  EXPECT_EQ(ini.ReadInteger("Settings", "Offset", 0), -5);
  EXPECT_EQ(ini.ReadText("Settings", "Split", "x"), "89");
}

TEST_F(BackendsTest, IniFileAbsentAndEmptyValues) {
  TIniFile ini("Pling");
  EXPECT_EQ(ini.ReadText("S", "K", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("S", "K", 7), 7);
  EXPECT_TRUE(ini.ReadBool("S", "K", true));
  EXPECT_FALSE(ini.ReadBool("S", "K", false));

  ini.WriteText("S", "K", "");
  EXPECT_EQ(ini.ReadText("S", "K", "dflt"), "");
  EXPECT_EQ(ini.ReadInteger("S", "K", 7), 7);
  EXPECT_TRUE(ini.ReadBool("S", "K", true));
  EXPECT_FALSE(ini.ReadBool("S", "K", false));
}

TEST_F(BackendsTest, IniFileIntegerForms) {
  TIniFile ini("Pling");
  const auto read = [&](const char* stored) {
    ini.WriteText("S", "K", stored);
    return ini.ReadInteger("S", "K", -99);
  };
  EXPECT_EQ(read("0x1F"), 31);
  EXPECT_EQ(read("0X1f"), 31);
  EXPECT_EQ(read("0x10"), 16);
  EXPECT_EQ(read("$1F"), 31);
  EXPECT_EQ(read("0x"), -99);  // two characters: not rewritten
  EXPECT_EQ(read("0xZZ"), -99);
  EXPECT_EQ(read("abc"), -99);
  EXPECT_EQ(read("12abc"), -99);
  EXPECT_EQ(read("4294967296"), -99);
  EXPECT_EQ(read("-2147483648"), INT32_MIN);
  EXPECT_EQ(read("0xFFFFFFFF"), -1);
}

TEST_F(BackendsTest, IniFileBooleanIsAnyNonZeroInteger) {
  TIniFile ini("Pling");
  const auto read = [&](const char* stored, bool defaultValue) {
    ini.WriteText("S", "B", stored);
    return ini.ReadBool("S", "B", defaultValue);
  };
  EXPECT_TRUE(read("2", false));
  EXPECT_TRUE(read("-1", false));
  EXPECT_TRUE(read("1", false));
  EXPECT_FALSE(read("0", true));
  EXPECT_TRUE(read("abc", true));
  EXPECT_FALSE(read("abc", false));
}

TEST_F(BackendsTest, IniFileWhatIsWrittenReadsBackWhole) {
  TIniFile ini("Pling");
  // Any length: past the first buffer, and past several enlargements of it.
  for (const std::size_t length : {1023u, 1024u, 2000u, 100000u}) {
    const std::string text(length, 'q');
    ini.WriteText("S", "K", text);
    EXPECT_EQ(ini.ReadText("S", "K", ""), text) << length;
  }
  // Blanks at the ends and quotes around the text are kept: such a text is
  // stored in quotes, which the profile functions take off again.
  for (const std::string text : {"  spaced  ", "\"quoted\"", "'single'", " \"", ""}) {
    ini.WriteText("S", "K", text);
    EXPECT_EQ(ini.ReadText("S", "K", "d"), text) << text;
  }
  ini.WriteText("S", "Spaced", " HUB ");
  ini.WriteText("S", "Plain", "a \"b\" c");
  const std::string file = FileText(ConfigDir() / "Pling");
  EXPECT_NE(file.find("Spaced=\" HUB \""), std::string::npos) << file;
  EXPECT_NE(file.find("Plain=a \"b\" c\n"), std::string::npos) << file;
}

TEST_F(BackendsTest, IniFileWriteFailureRaisesWithTheNameAsSet) {
  // A folder in the path is a plain file: nothing can be written below it.
  std::filesystem::create_directories(ConfigDir());
  std::ofstream(ConfigDir() / "blocker") << "x";
  const std::string name = (ConfigDir() / "blocker" / "Pling.ini").string();
  TIniFile ini(name);
  try {
    ini.WriteText("S", "K", "v");
    FAIL() << "no error";
  } catch (const runtime::EConvertError&) {
    FAIL() << "wrong class";
  } catch (const runtime::Exception& error) {
    // The name as set, then the file and the cause.
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + name + " (" +
                                             (ConfigDir() / "blocker").string() +
                                             ": Not a directory)");
  }
  EXPECT_THROW(ini.WriteInteger("S", "K", 1), runtime::Exception);
  // A key that cannot be written is refused as such, not with the failure before.
  const std::string good = (ConfigDir() / "Good.ini").string();
  TIniFile other(good);
  try {
    other.WriteText("S", "two\nlines", "v");
    FAIL() << "no error";
  } catch (const runtime::Exception& error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + good);
  }
  // Reads of an unavailable file give defaults.
  EXPECT_EQ(ini.ReadText("S", "K", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("S", "K", 3), 3);
}

TEST_F(BackendsTest, RegistrySettingIsTheDefaultValueOfItsOwnKey) {
  {
    TWindowsRegistry registry("Corvid", "Pling");
    EXPECT_NE(registry.Key(), 0);
    registry.WriteInteger("Settings", "Split", 89);
    EXPECT_EQ(registry.ReadInteger("Settings", "Split", 0), 89);
    EXPECT_EQ(registry.ReadText("Settings", "Split", ""), "89");
  }
  const std::string hive = FileText(HivePath());
  const auto keyAt = hive.find("[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Settings\\Split]");
  ASSERT_NE(keyAt, std::string::npos) << hive;
  const auto valueAt = hive.find("@=\"89\"", keyAt);
  ASSERT_NE(valueAt, std::string::npos) << hive;
  // The value belongs to that key: no other key starts in between.
  EXPECT_LT(valueAt, hive.find('[', keyAt + 1));

  // A fresh back end reads what an earlier one wrote.
  TWindowsRegistry again("Corvid", "Pling");
  EXPECT_EQ(again.ReadInteger("Settings", "Split", 0), 89);
}

TEST_F(BackendsTest, RegistryAbsentAndEmptyValues) {
  TWindowsRegistry registry("Corvid", "Pling");
  EXPECT_EQ(registry.ReadText("S", "K", "dflt"), "dflt");
  EXPECT_EQ(registry.ReadInteger("S", "K", 7), 7);
  EXPECT_TRUE(registry.ReadBool("S", "K", true));
  EXPECT_FALSE(registry.ReadBool("S", "K", false));

  registry.WriteText("S", "K", "");
  EXPECT_EQ(registry.ReadText("S", "K", "dflt"), "");
  EXPECT_EQ(ConvertErrorOf([&] { registry.ReadInteger("S", "K", 7); }),
            "'' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([&] { registry.ReadBool("S", "K", true); }),
            "'' is not a valid integer value");
}

TEST_F(BackendsTest, RegistryIntegerForms) {
  TWindowsRegistry registry("Corvid", "Pling");
  registry.WriteText("S", "K", "$1F");
  EXPECT_EQ(registry.ReadInteger("S", "K", 0), 31);
  registry.WriteText("S", "K", "0x1F");
  EXPECT_EQ(ConvertErrorOf([&] { registry.ReadInteger("S", "K", 0); }),
            "'0x1F' is not a valid integer value");
  registry.WriteText("S", "K", "0X1F");
  EXPECT_THROW(registry.ReadInteger("S", "K", 0), runtime::EConvertError);
  registry.WriteText("S", "B", "abc");
  EXPECT_EQ(ConvertErrorOf([&] { registry.ReadBool("S", "B", false); }),
            "'abc' is not a valid integer value");
  registry.WriteText("S", "B", "2");
  EXPECT_TRUE(registry.ReadBool("S", "B", false));
  registry.WriteText("S", "B", "0");
  EXPECT_FALSE(registry.ReadBool("S", "B", true));
  registry.WriteInteger("S", "N", -123);
  EXPECT_EQ(registry.ReadText("S", "N", ""), "-123");
  EXPECT_EQ(registry.ReadInteger("S", "N", 0), -123);
}

TEST_F(BackendsTest, RegistryValuesOfAnyLengthReadBackWhole) {
  TWindowsRegistry registry("Corvid", "Pling");
  for (const std::size_t length : {255u, 256u, 300u, 100000u}) {
    const std::string text(length, 'b');
    registry.WriteText("S", "Long", text);
    EXPECT_EQ(registry.ReadText("S", "Long", "d"), text) << length;
  }
  // Stored as any REG_SZ value, on one line of the REGEDIT4 text.
  const std::string name = "Bob" + std::string(297, 'x') + "+";
  registry.WriteText("Receivers", "NAME0", name);
  const std::string hive = FileText(HivePath());
  const auto keyAt = hive.find("[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME0]");
  ASSERT_NE(keyAt, std::string::npos) << hive;
  EXPECT_NE(hive.find("@=\"" + name + "\"", keyAt), std::string::npos) << hive;
  // A long text read as an integer is read, and is no integer.
  registry.WriteText("S", "LongNumber", std::string(300, '1'));
  EXPECT_EQ(ConvertErrorOf([&] { registry.ReadInteger("S", "LongNumber", 5); }),
            "'" + std::string(300, '1') + "' is not a valid integer value");
}

TEST_F(BackendsTest, ARegistryReachedThroughTheBackEndInterfaceIsStillTheRegistry) {
  TWindowsRegistry registry("Corvid", "Pling");
  TSettingsBackEnd& backEnd = registry;
  registry.WriteText("Settings", "Split", "120");
  registry.WriteText("Settings", "Empty", "");
  EXPECT_EQ(backEnd.ReadText("Settings", "Split", "absent"), "120");
  EXPECT_EQ(backEnd.ReadInteger("Settings", "Split", 0), 120);
  EXPECT_TRUE(backEnd.ReadBool("Settings", "Split", false));
  ASSERT_TRUE(backEnd.TryReadText("Settings", "Split"));
  EXPECT_EQ(backEnd.TryReadText("Settings", "Split").Value(), "120");
  // The registry's own reading: an empty value is no integer.
  EXPECT_THROW(backEnd.ReadInteger("Settings", "Empty", 1), runtime::EConvertError);

  // Writes, held ones too, go to the hive and never to a profile file.
  backEnd.BeginUpdate();
  backEnd.WriteText("Settings", "ServerName", "PDC1");
  backEnd.WriteInteger("Settings", "Split", 95);
  EXPECT_EQ(registry.ReadText("Settings", "ServerName", ""), "PDC1");
  backEnd.EndUpdate();
  TWindowsRegistry again("Corvid", "Pling");
  EXPECT_EQ(again.ReadText("Settings", "ServerName", ""), "PDC1");
  EXPECT_EQ(again.ReadInteger("Settings", "Split", 0), 95);
  EXPECT_FALSE(std::filesystem::exists(ConfigDir() / "Pling"));
}

TEST_F(BackendsTest, RegistryPathsLongerThan255CharactersAreUnusable) {
  // Application key path too long: no key, reads give defaults, writes are lost.
  TWindowsRegistry tooLong(std::string(250, 'c'), "Pling");
  EXPECT_EQ(tooLong.Key(), 0);
  tooLong.WriteText("S", "K", "v");
  tooLong.WriteInteger("S", "N", 1);
  EXPECT_EQ(tooLong.ReadText("S", "K", "d"), "d");
  EXPECT_EQ(tooLong.ReadInteger("S", "N", 4), 4);
  EXPECT_TRUE(tooLong.ReadBool("S", "N", true));

  // Setting path too long: that setting alone is unusable.
  TWindowsRegistry registry("Corvid", "Pling");
  const std::string longKey(255, 'k');
  registry.WriteText("S", longKey, "v");
  EXPECT_EQ(registry.ReadText("S", longKey, "d"), "d");
  EXPECT_EQ(FileText(HivePath()).find(longKey), std::string::npos);
  registry.WriteText("S", "K", "v");
  EXPECT_EQ(registry.ReadText("S", "K", "d"), "v");
}

}  // namespace
}  // namespace pling::settings
