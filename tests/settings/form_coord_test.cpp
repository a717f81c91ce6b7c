// SPDX-License-Identifier: GPL-3.0-or-later
// The owner form's bounds, stored and restored by the settings store on both
// back ends.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/component.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "store_fixture.h"
#include "temp_config.h"

namespace pling::settings {
namespace {

using pling::testing::TempConfigTest;

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
    SCOPED_TRACE(::testing::Message() << c.stored.left << "," << c.stored.top);
    Store(c.stored.left, c.stored.top, c.stored.width, c.stored.height);
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

}  // namespace
}  // namespace pling::settings
