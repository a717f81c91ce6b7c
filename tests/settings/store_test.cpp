// SPDX-License-Identifier: GPL-3.0-or-later
// The settings store: choice of back end, dispatch, closed store, fonts, and an
// owner that is no form (store_back_end_test and form_coord_test run on both back
// ends).
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "platform/version.h"
#include "runtime/component.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "settings/owner_form.h"
#include "store_fixture.h"
#include "temp_config.h"

namespace pling::settings {
namespace {

using pling::testing::FileText;
using pling::testing::TempConfigTest;

class StoreTest : public TempConfigTest {};

TEST_F(StoreTest, RegistryFromVersion321On) {
  const auto version = [](platform::DWORD major, platform::DWORD minor) {
    return major | (minor << 8);
  };
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(3, 10)), bkIni);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(3, 20)), bkIni);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(3, 0)), bkIni);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(2, 99)), bkIni);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(3, 21)), bkRegistry);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(3, 50)), bkRegistry);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(3, 51)), bkRegistry);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(4, 0)), bkRegistry);
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(6, 1)), bkRegistry);
  // Bytes above the minor version do not count.
  EXPECT_EQ(TMegaRegistry::KindForVersion(version(3, 10) | 0xC0000000u), bkIni);
}

TEST_F(StoreTest, AutomaticChoiceIsTheRegistryWhateverTheKernel) {
  // A fixed Windows-equivalent version of a generation with a registry, not the
  // kernel's (a 3.10 kernel would otherwise choose the INI file).
  EXPECT_EQ(platform::GetVersion(), platform::kPlatformVersion);
  EXPECT_EQ(TMegaRegistry::KindForVersion(platform::GetVersion()), bkRegistry);
  TMegaRegistry automatic;
  Configure(automatic, mrpAuto);
  automatic.OpenBackEnd();
  EXPECT_EQ(automatic.BackEndKind(), bkRegistry);
  TMegaRegistry ini;
  Configure(ini, mrpIni);
  ini.OpenBackEnd();
  EXPECT_EQ(ini.BackEndKind(), bkIni);
}

TEST_F(StoreTest, AutomaticChoiceFollowsThePlatformVersion) {
  TVersionedStore old(nullptr, 0x0A03);  // 3.10
  Configure(old, mrpAuto);
  old.OpenBackEnd();
  EXPECT_EQ(old.BackEndKind(), bkIni);
  old.WriteInteger("Settings", "Split", 1);
  EXPECT_TRUE(std::filesystem::exists(ConfigDir() / "Pling"));

  TVersionedStore newer(nullptr, 0x3303);  // 3.51
  Configure(newer, mrpAuto);
  newer.OpenBackEnd();
  EXPECT_EQ(newer.BackEndKind(), bkRegistry);
  newer.WriteInteger("Settings", "Split", 2);
  EXPECT_NE(FileText(HivePath()).find("Settings\\Split]"), std::string::npos);

  // An explicit preference ignores the version.
  TVersionedStore forced(nullptr, 0x0A03);
  Configure(forced, mrpRegistry);
  forced.OpenBackEnd();
  EXPECT_EQ(forced.BackEndKind(), bkRegistry);
}

TEST_F(StoreTest, EveryNameIsNeeded) {
  TMegaRegistry store;
  Configure(store, mrpRegistry);
  store.SetIniName("");
  store.OpenBackEnd();
  EXPECT_EQ(store.BackEndKind(), bkNone);
  store.SetIniName("Pling");
  store.SetCompany("");
  store.OpenBackEnd();
  EXPECT_EQ(store.BackEndKind(), bkNone);
  store.SetCompany("Corvid");
  store.SetApp("");
  store.OpenBackEnd();
  EXPECT_EQ(store.BackEndKind(), bkNone);
  store.WriteText("Settings", "ServerName", "x");
  EXPECT_TRUE(ConfigDirEmpty());
}

TEST_F(StoreTest, ChangingANameClosesTheStore) {
  TMegaRegistry store;
  Configure(store, mrpIni);
  store.OpenBackEnd();
  ASSERT_EQ(store.BackEndKind(), bkIni);
  store.SetSaveFormCoord(true);  // assigns only
  EXPECT_EQ(store.BackEndKind(), bkIni);
  store.SetApp("Other");
  EXPECT_EQ(store.BackEndKind(), bkNone);

  // A closed store gives defaults and writes nowhere.
  store.WriteText("Settings", "ServerName", "x");
  store.WriteInteger("Settings", "Split", 1);
  store.WriteBool("Settings", "Popup", true);
  store.WriteFont("SendMemo", "Font", TFont{});
  EXPECT_TRUE(ConfigDirEmpty());
  EXPECT_EQ(store.ReadText("Settings", "ServerName", "<Server>"), "<Server>");
  EXPECT_EQ(store.ReadInteger("Settings", "Split", 89), 89);
  EXPECT_TRUE(store.ReadBool("Settings", "Popup", true));
  const TFont bold{"Arial", 9, clRed, {fsBold}};
  EXPECT_EQ(store.ReadFont("SendMemo", "Font", bold), bold);

  for (auto change :
       {+[](TMegaRegistry& s) { s.SetCompany("X"); }, +[](TMegaRegistry& s) { s.SetIniName("X"); },
        +[](TMegaRegistry& s) { s.SetPreference(mrpRegistry); }}) {
    store.OpenBackEnd();
    ASSERT_NE(store.BackEndKind(), bkNone);
    change(store);
    EXPECT_EQ(store.BackEndKind(), bkNone);
  }
}

TEST_F(StoreTest, OwnerThatIsNoFormFailsTheTypecast) {
  runtime::TComponent owner;
  auto& store = owner.CreateComponent<TMegaRegistry>();
  Configure(store, mrpIni);
  store.SetSaveFormCoord(true);
  try {
    Load(owner);
    FAIL() << "no error";
  } catch (const runtime::EInvalidCast& error) {
    EXPECT_EQ(std::string(error.what()), "Invalid class typecast");
  }
  // The back end was opened before the failure.
  EXPECT_EQ(store.BackEndKind(), bkIni);
}

TEST_F(StoreTest, StoreWithoutOwnerOpensAndSkipsTheBounds) {
  TMegaRegistry store;
  Configure(store, mrpIni);
  store.SetSaveFormCoord(true);
  Load(store);
  EXPECT_EQ(store.BackEndKind(), bkIni);
}

TEST_F(StoreTest, WriteFailureAtDestructionDoesNotEscape) {
  std::filesystem::create_directories(ConfigDir());
  std::ofstream(ConfigDir() / "blocker") << "x";
  {
    TFakeForm form;
    auto& store = form.CreateComponent<TMegaRegistry>();
    Configure(store, mrpIni);
    store.SetIniName((ConfigDir() / "blocker" / "Pling").string());
    store.SetSaveFormCoord(true);
    auto& child = form.CreateComponent<runtime::TComponent>();
    Load(form);
    EXPECT_THROW(store.WriteInteger("S", "K", 1), runtime::Exception);
    form.FreeComponent(child);
  }  // WriteFormCoord fails inside the destructor: the error goes no further
  // The failed writes left the file in the way as it was, and no temporary
  // file behind.
  EXPECT_EQ(FileText(ConfigDir() / "blocker"), "x");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ConfigDir()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace pling::settings
