// SPDX-License-Identifier: GPL-3.0-or-later
// Writes held back between BeginUpdate and EndUpdate, for both back ends: what
// reads see meanwhile, what reaches the file and when, merging with other
// writers, failures, and a store closed or destroyed with writes held.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "temp_config.h"

namespace pling::settings {
namespace {

using pling::testing::TempConfigTest;

void ConfigureAndOpen(TMegaRegistry& store, TMRPreference preference) {
  store.SetApp("Pling");
  store.SetCompany("Corvid");
  store.SetIniName("Pling");
  store.SetPreference(preference);
  store.OpenBackEnd();
}

class UpdateTest : public TempConfigTest, public ::testing::WithParamInterface<TMRPreference> {
 protected:
  void TearDown() override {
    ::chmod(FilePath().c_str(), 0600);
    TempConfigTest::TearDown();
  }
  std::filesystem::path FilePath() const {
    return GetParam() == mrpIni ? ConfigDir() / "Pling" : HivePath();
  }
  std::string Text() const { return FileText(FilePath()); }
  // What a fresh store reads, so from the file alone.
  std::string ReadFresh(const std::string& section, const std::string& key,
                        const std::string& defaultValue = "<none>") const {
    TMegaRegistry other;
    ConfigureAndOpen(other, GetParam());
    return other.ReadText(section, key, defaultValue);
  }
};

TEST_P(UpdateTest, HeldWritesAreReadBackAndWrittenOnceAtTheOutermostEnd) {
  TMegaRegistry store;
  ConfigureAndOpen(store, GetParam());
  store.WriteText("Settings", "Split", "1");
  const std::string before = Text();

  store.BeginUpdate();
  for (int i = 0; i < 50; ++i) store.WriteText("Receivers", "NAME" + std::to_string(i), "R");
  store.WriteInteger("Settings", "Split", 89);
  store.WriteText("Settings", "ServerName", "HUB");
  store.WriteText("settings", "SERVERNAME", "HUB2");  // the same key, later value
  store.BeginUpdate();
  store.WriteBool("Settings", "Popup", true);
  store.EndUpdate();  // inner: nothing written yet
  EXPECT_EQ(Text(), before);
  EXPECT_EQ(ReadFresh("Settings", "Split"), "1");
  // This store reads what it holds, converted as its back end converts it.
  EXPECT_EQ(store.ReadInteger("Settings", "Split", 0), 89);
  EXPECT_EQ(store.ReadText("Settings", "ServerName", ""), "HUB2");
  EXPECT_TRUE(store.ReadBool("Settings", "Popup", false));
  EXPECT_EQ(store.ReadText("Receivers", "NAME49", ""), "R");
  EXPECT_EQ(store.ReadText("Receivers", "NAME50", "none"), "none");

  store.EndUpdate();
  EXPECT_EQ(ReadFresh("Settings", "Split"), "89");
  EXPECT_EQ(ReadFresh("Settings", "ServerName"), "HUB2");
  EXPECT_EQ(ReadFresh("Settings", "Popup"), "1");
  EXPECT_EQ(ReadFresh("Receivers", "NAME0"), "R");
  EXPECT_EQ(ReadFresh("Receivers", "NAME49"), "R");
  // An unmatched EndUpdate does nothing; writes go straight to the file again.
  store.EndUpdate();
  store.WriteText("Settings", "Split", "90");
  EXPECT_EQ(ReadFresh("Settings", "Split"), "90");
}

TEST_P(UpdateTest, HeldValuesReadAsTheFileWouldGiveThem) {
  TMegaRegistry store;
  ConfigureAndOpen(store, GetParam());
  store.BeginUpdate();
  store.WriteText("S", "Quoted", "  \"spaced\"  ");
  store.WriteText("S", "Long", std::string(300, 'x'));
  store.WriteText("S", "Hex", "0x1F");
  const bool ini = GetParam() == mrpIni;
  const std::string quoted = store.ReadText("S", "Quoted", "d");
  const std::string longText = store.ReadText("S", "Long", "d");
  const std::int32_t hex = ini ? store.ReadInteger("S", "Hex", 0) : 0;
  store.EndUpdate();
  EXPECT_EQ(quoted, ReadFresh("S", "Quoted", "d"));
  EXPECT_EQ(quoted, "  \"spaced\"  ");
  EXPECT_EQ(longText, ReadFresh("S", "Long", "d"));
  EXPECT_EQ(longText, std::string(300, 'x'));
  if (ini) {
    EXPECT_EQ(hex, 31);
  }
}

TEST_P(UpdateTest, WritesOfOtherProgramsMeanwhileAreKept) {
  TMegaRegistry store;
  ConfigureAndOpen(store, GetParam());
  store.WriteText("Settings", "Split", "1");
  store.BeginUpdate();
  store.WriteText("Settings", "Split", "89");
  {
    TMegaRegistry other;  // stands for another program
    ConfigureAndOpen(other, GetParam());
    other.WriteText("Settings", "Theirs", "kept");
    other.WriteText("Settings", "Split", "theirs");
  }
  store.EndUpdate();
  EXPECT_EQ(ReadFresh("Settings", "Theirs"), "kept");
  EXPECT_EQ(ReadFresh("Settings", "Split"), "89");
  EXPECT_EQ(store.ReadText("Settings", "Theirs", ""), "kept");
}

TEST_P(UpdateTest, AFailedWriteRaisesWithTheFileAndTheCause) {
  TMegaRegistry store;
  ConfigureAndOpen(store, GetParam());
  store.WriteText("Settings", "Split", "1");
  ::chmod(FilePath().c_str(), 0444);
  store.BeginUpdate();
  store.WriteText("Settings", "Split", "2");
  try {
    store.EndUpdate();
    FAIL() << "no error";
  } catch (const runtime::Exception& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("Unable to write to ", 0), 0u) << message;
    EXPECT_NE(message.find(FilePath().string() + ": Permission denied"), std::string::npos)
        << message;
  }
  ::chmod(FilePath().c_str(), 0600);
  EXPECT_EQ(ReadFresh("Settings", "Split"), "1");
  // The update is over: the next write goes to the file.
  store.WriteText("Settings", "Split", "3");
  EXPECT_EQ(ReadFresh("Settings", "Split"), "3");
}

TEST_P(UpdateTest, ClosingOrDestroyingTheStoreWritesWhatItHolds) {
  {
    TMegaRegistry store;
    ConfigureAndOpen(store, GetParam());
    store.BeginUpdate();
    store.WriteText("Settings", "Split", "89");
    store.SetApp("Pling");  // closes the back end
    EXPECT_EQ(ReadFresh("Settings", "Split"), "89");
    // Still in the update: the reopened back end holds writes too.
    store.OpenBackEnd();
    store.WriteText("Settings", "Split", "90");
    EXPECT_EQ(ReadFresh("Settings", "Split"), "89");
  }  // destroyed without EndUpdate
  EXPECT_EQ(ReadFresh("Settings", "Split"), "90");

  // A failure then is dropped, not thrown from the destructor.
  ::chmod(FilePath().c_str(), 0444);
  {
    TMegaRegistry store;
    ConfigureAndOpen(store, GetParam());
    store.BeginUpdate();
    store.WriteText("Settings", "Split", "91");
  }
  ::chmod(FilePath().c_str(), 0600);
  EXPECT_EQ(ReadFresh("Settings", "Split"), "90");
}

TEST_P(UpdateTest, WritesLostToAnUnopenedStoreAreReported) {
  // The settings file is a folder: the registry key cannot be opened, the INI
  // file cannot be written.
  std::filesystem::create_directories(FilePath());
  TMegaRegistry store;
  ConfigureAndOpen(store, GetParam());
  store.BeginUpdate();
  try {
    store.WriteText("Settings", "Split", "1");
    store.EndUpdate();
    FAIL() << "no error";
  } catch (const runtime::Exception& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(FilePath().string() + ": is a folder, not a file"), std::string::npos)
        << message;
  }
}

// A list read at once reads as its entries one by one: up to the first empty or
// absent one, held writes included, the key's case ignored.
TEST_P(UpdateTest, AListReadsAsItsEntriesOneByOne) {
  TMegaRegistry store;
  ConfigureAndOpen(store, GetParam());
  const auto oneByOne = [&store] {
    std::vector<std::string> values;
    for (int i = 0;; ++i) {
      std::string value = store.ReadText("Receivers", "NAME" + std::to_string(i), "");
      if (value.empty()) return values;
      values.push_back(value);
    }
  };
  for (const char* value : {"Ann+", "b\\\"c-", "x y*"}) {
    store.WriteText("Receivers", "NAME" + std::to_string(oneByOne().size()), value);
  }
  store.WriteText("Receivers", "name4", "after a gap");
  EXPECT_EQ(store.ReadList("Receivers", "NAME"), oneByOne());
  EXPECT_EQ(store.ReadList("Receivers", "NAME").size(), 3u);
  store.BeginUpdate();
  store.WriteText("Receivers", "NAME3", "held+");
  EXPECT_EQ(store.ReadList("Receivers", "name"), oneByOne());
  EXPECT_EQ(store.ReadList("Receivers", "NAME").size(), 5u);
  store.WriteText("Receivers", "NAME1", "");
  EXPECT_EQ(store.ReadList("Receivers", "NAME"), std::vector<std::string>{"Ann+"});
  store.EndUpdate();
  EXPECT_EQ(store.ReadList("Receivers", "NAME"), std::vector<std::string>{"Ann+"});
  EXPECT_EQ(store.ReadList("Nothing", "NAME"), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, UpdateTest, ::testing::Values(mrpIni, mrpRegistry),
                         [](const ::testing::TestParamInfo<TMRPreference>& param) {
                           return std::string(param.param == mrpIni ? "Ini" : "Registry");
                         });

}  // namespace
}  // namespace pling::settings
