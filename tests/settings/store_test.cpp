// The settings store: choice of back end, dispatch, closed store, fonts, and the
// owner form's bounds.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/version.h"
#include "runtime/component.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "settings/owner_form.h"
#include "temp_config.h"

namespace pling::settings {
namespace {

using pling::testing::TempConfigTest;

// A store that reports a chosen platform version.
class TVersionedStore : public TMegaRegistry {
 public:
  TVersionedStore(runtime::TComponent* owner, platform::DWORD version)
      : TMegaRegistry(owner), FVersion(version) {}

 protected:
  platform::DWORD PlatformVersion() const override { return FVersion; }

 private:
  platform::DWORD FVersion;
};

// A form on a 1024 x 768 screen. Its teardown frees its components while it is
// still a form, as a real form's does.
class TFakeForm : public TOwnerForm {
 public:
  TFakeForm() : TOwnerForm(nullptr) {}
  ~TFakeForm() override { DestroyComponents(); }
  const char* ClassName() const override { return "TPlingFrm"; }

  std::int32_t Left() const override { return FLeft; }
  std::int32_t Top() const override { return FTop; }
  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void SetLeft(std::int32_t value) override { FLeft = value; }
  void SetTop(std::int32_t value) override { FTop = value; }
  void SetWidth(std::int32_t value) override { FWidth = value; }
  void SetHeight(std::int32_t value) override { FHeight = value; }
  std::int32_t ScreenWidth() const override { return 1024; }
  std::int32_t ScreenHeight() const override { return 768; }
  // None unless a test gives some: then the form is restored inside one of them.
  std::vector<TRect> WorkAreas() const override { return Areas; }
  std::int32_t FrameExtraWidth() const override { return 8; }
  std::int32_t FrameExtraHeight() const override { return 30; }

  std::vector<TRect> Areas;

  void SetBounds(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
  }

 private:
  std::int32_t FLeft = 10;
  std::int32_t FTop = 20;
  std::int32_t FWidth = 448;
  std::int32_t FHeight = 400;
};

void Configure(TMegaRegistry& store, TMRPreference preference) {
  store.SetApp("Pling");
  store.SetCompany("Corvid");
  store.SetIniName("Pling");
  store.SetPreference(preference);
}

// Runs the owner's loading, and so the store's after-load step.
void Load(runtime::TComponent& owner) {
  owner.BeginLoading();
  owner.EndLoading();
}

TEST(StoreVersionTest, RegistryFromVersion321On) {
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

class StoreTest : public TempConfigTest {};

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

std::string BackEndName(const ::testing::TestParamInfo<TMRPreference>& param) {
  return param.param == mrpIni ? "Ini" : "Registry";
}

class StoreBackEndTest : public TempConfigTest,
                         public ::testing::WithParamInterface<TMRPreference> {};

TEST_P(StoreBackEndTest, TypedValuesRoundTrip) {
  TMegaRegistry store;
  Configure(store, GetParam());
  store.OpenBackEnd();
  ASSERT_EQ(store.BackEndKind(), GetParam() == mrpIni ? bkIni : bkRegistry);

  store.WriteText("Settings", "ServerName", "HUB");
  store.WriteInteger("Settings", "Split", -89);
  store.WriteBool("Settings", "Popup", true);
  store.WriteBool("Settings", "UseServer", false);
  EXPECT_EQ(store.ReadText("Settings", "ServerName", ""), "HUB");
  EXPECT_EQ(store.ReadInteger("Settings", "Split", 0), -89);
  EXPECT_EQ(store.ReadText("Settings", "Popup", ""), "1");
  EXPECT_EQ(store.ReadText("Settings", "UseServer", ""), "0");
  EXPECT_TRUE(store.ReadBool("Settings", "Popup", false));
  EXPECT_FALSE(store.ReadBool("Settings", "UseServer", true));

  const TFont font{"Arial", 12, 0x00123456, {fsBold, fsUnderline}};
  store.WriteFont("ReceiversList", "Font", font);
  EXPECT_EQ(store.ReadText("ReceiversList", "Font", ""), "Arial;12;$00123456;1001");
  EXPECT_EQ(store.ReadFont("ReceiversList", "Font", TFont{}), font);

  // Nothing stored: the default font comes back, from its own text.
  const TFont italic{"MS Sans Serif", 8, clWindowText, {fsItalic}};
  EXPECT_EQ(store.ReadFont("ReceivedMemo", "Font", italic), italic);
  store.WriteFont("ReceivedMemo", "Font", italic);
  EXPECT_EQ(store.ReadText("ReceivedMemo", "Font", ""), "MS Sans Serif;8;clWindowText;0100");

  store.WriteText("SendMemo", "Font", "Arial");
  try {
    store.ReadFont("SendMemo", "Font", TFont{});
    FAIL() << "no error";
  } catch (const runtime::EConvertError& error) {
    EXPECT_EQ(std::string(error.what()), "'' is not a valid integer value");
  }
}

TEST_P(StoreBackEndTest, IntegerReadsFollowTheOpenBackEnd) {
  TMegaRegistry store;
  Configure(store, GetParam());
  store.OpenBackEnd();
  store.WriteText("Settings", "Hex", "0x1F");
  store.WriteText("Settings", "Empty", "");
  if (GetParam() == mrpIni) {
    EXPECT_EQ(store.ReadInteger("Settings", "Hex", 0), 31);
    EXPECT_EQ(store.ReadInteger("Settings", "Empty", 5), 5);
    EXPECT_TRUE(store.ReadBool("Settings", "Empty", true));
  } else {
    EXPECT_THROW(store.ReadInteger("Settings", "Hex", 0), runtime::EConvertError);
    EXPECT_THROW(store.ReadInteger("Settings", "Empty", 5), runtime::EConvertError);
    EXPECT_THROW(store.ReadBool("Settings", "Empty", true), runtime::EConvertError);
  }
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, StoreBackEndTest, ::testing::Values(mrpIni, mrpRegistry),
                         BackEndName);

// The owner form's bounds.
class FormCoordTest : public TempConfigTest, public ::testing::WithParamInterface<TMRPreference> {
 protected:
  // Bounds stored in the back end that the parameter names.
  void Store(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    TMegaRegistry store;
    Configure(store, GetParam());
    store.OpenBackEnd();
    store.WriteInteger("TPlingFrm", "Left", left);
    store.WriteInteger("TPlingFrm", "Top", top);
    store.WriteInteger("TPlingFrm", "Width", width);
    store.WriteInteger("TPlingFrm", "Height", height);
  }

  std::int32_t Stored(const char* key) {
    TMegaRegistry store;
    Configure(store, GetParam());
    store.OpenBackEnd();
    return store.ReadInteger("TPlingFrm", key, -12345);
  }

  // A form with a store (SaveFormCoord as given) and one other component.
  struct TLoadedForm {
    std::unique_ptr<TFakeForm> Form = std::make_unique<TFakeForm>();
    TMegaRegistry* Store = nullptr;
    runtime::TComponent* Child = nullptr;
  };

  TLoadedForm MakeForm(bool saveFormCoord) {
    TLoadedForm result;
    result.Store = &result.Form->CreateComponent<TMegaRegistry>();
    Configure(*result.Store, GetParam());
    result.Store->SetSaveFormCoord(saveFormCoord);
    result.Child = &result.Form->CreateComponent<runtime::TComponent>();
    Load(*result.Form);
    return result;
  }
};

TEST_P(FormCoordTest, StoredBoundsAreRestoredAndKeptOnTheScreen) {
  Store(-30, -5, 500, 300);
  {
    auto loaded = MakeForm(true);
    EXPECT_EQ(loaded.Store->BackEndKind(), GetParam() == mrpIni ? bkIni : bkRegistry);
    EXPECT_EQ(loaded.Form->Left(), 0);
    EXPECT_EQ(loaded.Form->Top(), 0);
    EXPECT_EQ(loaded.Form->Width(), 500);
    EXPECT_EQ(loaded.Form->Height(), 300);
    loaded.Store->SetSaveFormCoord(false);
  }
  Store(5000, 2000, 6000, 7000);
  {
    auto loaded = MakeForm(true);
    EXPECT_EQ(loaded.Form->Left(), 1004);
    EXPECT_EQ(loaded.Form->Top(), 748);
    EXPECT_EQ(loaded.Form->Width(), 6000);
    EXPECT_EQ(loaded.Form->Height(), 7000);
    loaded.Store->SetSaveFormCoord(false);
  }
  Store(1024, 768, 100, 100);
  {
    auto loaded = MakeForm(true);
    EXPECT_EQ(loaded.Form->Left(), 1024);
    EXPECT_EQ(loaded.Form->Top(), 768);
    loaded.Store->SetSaveFormCoord(false);
  }
}

// A form that names its screens' work areas is restored wholly inside one of
// them, frame included: the one it overlaps most, or the nearest when the screen
// it was on is gone; too large, it is made as large as that area.
TEST_P(FormCoordTest, StoredBoundsGoWhollyInsideAScreenThatExists) {
  const TRect left{0, 24, 1280, 1000};  // a panel at its top
  const TRect right{1280, 0, 1024, 768};
  struct Case {
    TRect stored;
    std::vector<TRect> areas;
    TRect restored;  // of the form itself, without its frame
  } cases[] = {
      // Inside the second screen: stays.
      {{1400, 100, 448, 400}, {left, right}, {1400, 100, 448, 400}},
      // The second screen is gone: the nearest place on the first.
      {{1400, 100, 448, 400}, {left}, {824, 100, 448, 400}},
      // Mostly on the first screen, hanging over into the second: back onto the first.
      {{1000, 500, 448, 400}, {left, right}, {824, 500, 448, 400}},
      // Above the first screen's work area, and too tall for it.
      {{-40, 0, 448, 2000}, {left, right}, {0, 24, 448, 970}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.stored.Left << "," << c.stored.Top);
    Store(c.stored.Left, c.stored.Top, c.stored.Width, c.stored.Height);
    auto form = std::make_unique<TFakeForm>();
    form->Areas = c.areas;
    auto& store = form->CreateComponent<TMegaRegistry>();
    Configure(store, GetParam());
    store.SetSaveFormCoord(true);
    Load(*form);
    EXPECT_EQ((TRect{form->Left(), form->Top(), form->Width(), form->Height()}), c.restored);
    store.SetSaveFormCoord(false);
  }
  // Nothing stored: the desktop places the form.
  std::filesystem::remove_all(ConfigDir());
  auto form = std::make_unique<TFakeForm>();
  form->Areas = {right};
  auto& store = form->CreateComponent<TMegaRegistry>();
  Configure(store, GetParam());
  store.SetSaveFormCoord(true);
  Load(*form);
  EXPECT_EQ((TRect{form->Left(), form->Top(), form->Width(), form->Height()}),
            (TRect{10, 20, 448, 400}));
  store.SetSaveFormCoord(false);
}

TEST_P(FormCoordTest, NothingStoredKeepsTheFormsBounds) {
  auto loaded = MakeForm(true);
  EXPECT_EQ(loaded.Form->Left(), 10);
  EXPECT_EQ(loaded.Form->Top(), 20);
  EXPECT_EQ(loaded.Form->Width(), 448);
  EXPECT_EQ(loaded.Form->Height(), 400);
}

TEST_P(FormCoordTest, BoundsAtTheStartOfTheTeardownAreWritten) {
  {
    auto loaded = MakeForm(true);
    loaded.Form->SetBounds(30, 40, 640, 480);
    loaded.Form->FreeComponent(*loaded.Child);  // the notice records the bounds
    loaded.Form->SetBounds(900, 800, 100, 50);  // moved again before the teardown
  }
  EXPECT_EQ(Stored("Left"), 900);
  EXPECT_EQ(Stored("Top"), 800);
  EXPECT_EQ(Stored("Width"), 100);
  EXPECT_EQ(Stored("Height"), 50);
}

TEST_P(FormCoordTest, BoundsAreSavedWhicheverComponentTheFormCreatedFirst) {
  for (const int others : {0, 1, 2}) {
    {
      // The store created after every other component (so freed first), or alone.
      auto form = std::make_unique<TFakeForm>();
      for (int i = 0; i < others; ++i) form->CreateComponent<runtime::TComponent>();
      auto& store = form->CreateComponent<TMegaRegistry>();
      Configure(store, GetParam());
      store.SetSaveFormCoord(true);
      Load(*form);
      form->SetBounds(11 + others, 22, 333, 444);
    }
    EXPECT_EQ(Stored("Left"), 11 + others);
    EXPECT_EQ(Stored("Top"), 22);
    EXPECT_EQ(Stored("Width"), 333);
    EXPECT_EQ(Stored("Height"), 444);
  }
}

TEST_P(FormCoordTest, TeardownOfTheFormRecordsAndWrites) {
  {
    auto loaded = MakeForm(true);
    loaded.Form->SetBounds(70, 80, 300, 200);
  }  // the child is freed first, with a notice, then the store
  EXPECT_EQ(Stored("Left"), 70);
  EXPECT_EQ(Stored("Height"), 200);
}

TEST_P(FormCoordTest, NothingIsWrittenWithoutSectionOrOwnerForm) {
  {
    // A form that leaves its components to the base destructor is no form by
    // then: nothing to record.
    class TCarelessForm : public TOwnerForm {
     public:
      TCarelessForm() : TOwnerForm(nullptr) {}
      std::int32_t Left() const override { return 1; }
      std::int32_t Top() const override { return 2; }
      std::int32_t Width() const override { return 3; }
      std::int32_t Height() const override { return 4; }
      void SetLeft(std::int32_t) override {}
      void SetTop(std::int32_t) override {}
      void SetWidth(std::int32_t) override {}
      void SetHeight(std::int32_t) override {}
      std::int32_t ScreenWidth() const override { return 1024; }
      std::int32_t ScreenHeight() const override { return 768; }
    };
    auto form = std::make_unique<TCarelessForm>();
    auto& store = form->CreateComponent<TMegaRegistry>();
    Configure(store, GetParam());
    store.SetSaveFormCoord(true);
    Load(*form);
  }
  EXPECT_EQ(Stored("Left"), -12345);
  {
    // SaveFormCoord set only after loading: the bounds were never read, so there
    // is no section to write them under.
    auto loaded = MakeForm(false);
    loaded.Store->SetSaveFormCoord(true);
    loaded.Form->FreeComponent(*loaded.Child);
  }
  EXPECT_EQ(Stored("Left"), -12345);
  {
    // SaveFormCoord false: bounds are neither restored nor written.
    Store(5, 6, 7, 8);
    auto loaded = MakeForm(false);
    EXPECT_EQ(loaded.Form->Left(), 10);
    loaded.Form->SetBounds(1, 1, 1, 1);
  }
  EXPECT_EQ(Stored("Left"), 5);
}

TEST_P(FormCoordTest, DesignModeNeitherOpensNorWrites) {
  auto form = std::make_unique<TFakeForm>();
  auto& store = form->CreateComponent<TMegaRegistry>();
  Configure(store, GetParam());
  store.SetSaveFormCoord(true);
  form->CreateComponent<runtime::TComponent>();
  form->SetDesigning(true);
  Load(*form);
  EXPECT_EQ(store.BackEndKind(), bkNone);
  form.reset();
  EXPECT_TRUE(ConfigDirEmpty());
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, FormCoordTest, ::testing::Values(mrpIni, mrpRegistry),
                         BackEndName);

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
  }  // WriteFormCoord fails inside the destructor: the error is dropped
  SUCCEED();
}

}  // namespace
}  // namespace pling::settings
