// The sizer's rules against a form whose window behaves as the window system
// does: setting Left or Top moves the window, and every move comes back to the
// installed sizer.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "settings/FormSize.h"
#include "settings/owner_form.h"

namespace pling::settings {
namespace {

// A window kept apart from its form, as a real form's window outlives the form's
// components.
class SeparateWindow : public TSizerWindow {
 public:
  void InstallSizer(TFormSizer& sizer) override { hook = &sizer; }
  void RemoveSizer(TFormSizer&) override {
    ++removals;
    hook = nullptr;
  }
  void ForgetSizer(TFormSizer&) override {
    ++forgets;
    hook = nullptr;
  }
  void RefreshLimits() override {}
  TFormSizer* hook = nullptr;
  int removals = 0;
  int forgets = 0;
};

class FakeForm : public TOwnerForm, public TSizerForm, public TSizerWindow {
 public:
  explicit FakeForm(SeparateWindow* separate = nullptr) : FSeparate(separate) {}
  // A form that leaves its components to the base destructor is no longer a
  // form when they go.
  ~FakeForm() override {
    if (FSeparate == nullptr) DestroyComponents();
  }

  std::int32_t Left() const override { return FLeft; }
  std::int32_t Top() const override { return FTop; }
  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void SetLeft(std::int32_t value) override { MoveTo(value, FTop); }
  void SetTop(std::int32_t value) override { MoveTo(FLeft, value); }
  void SetWidth(std::int32_t value) override { FWidth = value; }
  void SetHeight(std::int32_t value) override { FHeight = value; }
  std::int32_t ScreenWidth() const override { return 1024; }
  std::int32_t ScreenHeight() const override { return 768; }

  TSizerWindow& SizerWindow() override {
    return FSeparate != nullptr ? static_cast<TSizerWindow&>(*FSeparate) : *this;
  }
  void InstallSizer(TFormSizer& sizer) override {
    ++installs;
    hook = &sizer;
  }
  void RemoveSizer(TFormSizer& sizer) override {
    ++removals;
    if (hook == &sizer) hook = nullptr;
  }
  void ForgetSizer(TFormSizer&) override { ADD_FAILURE() << "a form's window is left alone"; }
  void RefreshLimits() override {
    ++refreshes;
    limits = SystemInfo();
    if (hook != nullptr) hook->GetMinMaxInfo(limits);
  }

  // What the user or the window system does: a move reported to the window.
  void MoveTo(std::int32_t left, std::int32_t top) {
    FLeft = left;
    FTop = top;
    ++moves;
    if (hook != nullptr) hook->WindowMoved();
  }

  static TMinMaxInfo SystemInfo() {
    TMinMaxInfo info;
    info.ptMaxSize = {1032, 776};
    info.ptMaxPosition = {-4, -4};
    info.ptMinTrackSize = {112, 27};
    info.ptMaxTrackSize = {1036, 780};
    return info;
  }

  SeparateWindow* FSeparate;
  TFormSizer* hook = nullptr;
  int installs = 0;
  int removals = 0;
  int refreshes = 0;
  int moves = 0;
  TMinMaxInfo limits;
  std::int32_t FLeft = 100;
  std::int32_t FTop = 100;
  std::int32_t FWidth = 448;
  std::int32_t FHeight = 400;
};

struct Warning {
  std::string caption;
  std::string text;
};

TFormSizer& NewSizer(platform::TComponent& owner, std::vector<Warning>* warnings = nullptr) {
  auto& sizer = owner.CreateComponent<TFormSizer>();
  sizer.SetWarningBox([warnings](const std::string& caption, const std::string& text) {
    if (warnings != nullptr) warnings->push_back({caption, text});
  });
  return sizer;
}

TEST(FormSizerTest, MainWindowKeepsItsSizeAndStaysOnTheScreen) {
  FakeForm form;
  form.FLeft = -50;
  TFormSizer& sizer = NewSizer(form);
  // As the main window's description sets them.
  sizer.SetMinTrackHeight(100);
  sizer.SetMinTrackWidth(200);
  sizer.SetEnabled(true);
  sizer.SetCoordType(ctGreater);
  EXPECT_EQ(form.FLeft, 0);  // enabling applied the rule
  EXPECT_EQ(form.FTop, 100);

  TMinMaxInfo expected = FakeForm::SystemInfo();
  expected.ptMinTrackSize = {200, 100};
  EXPECT_EQ(form.limits, expected);  // the zero properties leave the system's values

  form.MoveTo(-50, 30);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(0, 30));
  form.MoveTo(-10, -10);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(0, 0));
  const int moves = form.moves;
  form.MoveTo(500, 400);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(500, 400));
  EXPECT_EQ(form.moves, moves + 1);  // nothing corrected
}

TEST(FormSizerTest, LessAndEqualsRules) {
  FakeForm form;
  TFormSizer& sizer = NewSizer(form);
  sizer.SetEnabled(true);
  sizer.SetLeft(100);
  sizer.SetTop(100);
  sizer.SetCoordType(ctLess);
  form.MoveTo(150, 50);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(100, 50));
  form.MoveTo(20, 300);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(20, 100));

  // Each property applies the rule as it is set.
  sizer.SetCoordType(ctEquals);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(100, 100));
  sizer.SetLeft(10);
  EXPECT_EQ(form.FLeft, 10);
  sizer.SetTop(20);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(10, 20));
  form.MoveTo(400, 5);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(10, 20));

  // The caption reports the client area only under ctEquals; other results pass.
  EXPECT_EQ(sizer.HitTest(HTCAPTION), HTCLIENT);
  EXPECT_EQ(sizer.HitTest(HTCLIENT), HTCLIENT);
  EXPECT_EQ(sizer.HitTest(10), 10);
  EXPECT_EQ(sizer.HitTest(0), 0);
  sizer.SetCoordType(ctGreater);
  EXPECT_EQ(sizer.HitTest(HTCAPTION), HTCAPTION);

  sizer.SetCoordType(ctNone);
  form.MoveTo(-300, -300);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(-300, -300));
}

TEST(FormSizerTest, PropertiesAboveZeroReplaceTheirMembers) {
  FakeForm form;
  TFormSizer& sizer = NewSizer(form);
  sizer.SetMinTrackWidth(1);
  sizer.SetMinTrackHeight(2);
  sizer.SetMaxTrackWidth(3);
  sizer.SetMaxTrackHeight(4);
  sizer.SetMaximizedWidth(5);
  sizer.SetMaximizedHeight(6);
  sizer.SetMaximizedLeft(7);
  sizer.SetMaximizedTop(8);
  TMinMaxInfo info = FakeForm::SystemInfo();
  info.ptReserved = {-9, -9};
  sizer.GetMinMaxInfo(info);
  EXPECT_EQ(info.ptReserved, (TPoint{-9, -9}));
  EXPECT_EQ(info.ptMinTrackSize, (TPoint{1, 2}));
  EXPECT_EQ(info.ptMaxTrackSize, (TPoint{3, 4}));
  EXPECT_EQ(info.ptMaxSize, (TPoint{5, 6}));
  EXPECT_EQ(info.ptMaxPosition, (TPoint{7, 8}));

  // Zero and negative values leave the system's, member by member.
  sizer.SetMaximizedLeft(-5);
  sizer.SetMaximizedTop(0);
  sizer.SetMinTrackWidth(0);
  sizer.SetMaxTrackHeight(-1);
  info = FakeForm::SystemInfo();
  sizer.GetMinMaxInfo(info);
  EXPECT_EQ(info.ptMaxPosition, FakeForm::SystemInfo().ptMaxPosition);
  EXPECT_EQ(info.ptMinTrackSize, (TPoint{112, 2}));
  EXPECT_EQ(info.ptMaxTrackSize, (TPoint{3, 780}));
}

TEST(FormSizerTest, OnTrackingSeesTheFilledRecordAndHasTheLastWord) {
  FakeForm form;
  TFormSizer& sizer = NewSizer(form);
  sizer.SetMinTrackWidth(200);
  int calls = 0;
  sizer.SetOnTracking([&](TFormSizer& sender, TMinMaxInfo& info) {
    ++calls;
    EXPECT_EQ(&sender, &sizer);
    EXPECT_EQ(info.ptMinTrackSize.x, 200);
    info.ptMinTrackSize.x = 300;
  });
  sizer.SetEnabled(true);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(form.limits.ptMinTrackSize.x, 300);

  // A handler that fails leaves the request as the window system filled it.
  sizer.SetOnTracking([](TFormSizer&, TMinMaxInfo& info) {
    info.ptMinTrackSize.x = 1;
    throw std::runtime_error("handler failed");
  });
  TMinMaxInfo info = FakeForm::SystemInfo();
  EXPECT_THROW(sizer.GetMinMaxInfo(info), std::runtime_error);
  EXPECT_EQ(info, FakeForm::SystemInfo());

  // Not raised while the form is being designed.
  calls = 0;
  sizer.SetOnTracking([&](TFormSizer&, TMinMaxInfo&) { ++calls; });
  form.SetDesigning(true);
  info = FakeForm::SystemInfo();
  sizer.GetMinMaxInfo(info);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(info.ptMinTrackSize.x, 200);
}

TEST(FormSizerTest, EnablingInstallsOnceAndDisablingPutsTheSystemBack) {
  FakeForm form;
  TFormSizer& sizer = NewSizer(form);
  sizer.SetMinTrackWidth(200);
  sizer.SetCoordType(ctGreater);
  form.MoveTo(-20, -20);  // not enabled: nothing happens
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(-20, -20));
  EXPECT_EQ(form.refreshes, 0);

  sizer.SetEnabled(true);
  sizer.SetEnabled(true);
  EXPECT_EQ(form.installs, 1);
  EXPECT_EQ(form.refreshes, 2);  // each setting asks for the limits again
  EXPECT_EQ(form.limits.ptMinTrackSize.x, 200);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(0, 0));

  sizer.SetEnabled(false);
  EXPECT_FALSE(sizer.Enabled());
  EXPECT_EQ(form.removals, 1);
  EXPECT_EQ(form.hook, nullptr);
  EXPECT_EQ(form.refreshes, 3);
  EXPECT_EQ(form.limits, FakeForm::SystemInfo());
  form.MoveTo(-20, -20);
  EXPECT_EQ(std::pair(form.FLeft, form.FTop), std::pair(-20, -20));
  sizer.SetLeft(0);  // stored only while disabled
  EXPECT_EQ(form.FLeft, -20);
  sizer.SetEnabled(false);
  EXPECT_EQ(form.removals, 1);
}

TEST(FormSizerTest, UseDesignTimeDefFreezesTheFormAsItIs) {
  FakeForm form;
  form.FLeft = 358;
  form.FTop = 111;
  TFormSizer& sizer = NewSizer(form);
  sizer.SetUseDesignTimeDef(true);
  EXPECT_TRUE(sizer.UseDesignTimeDef());
  EXPECT_EQ(sizer.MinTrackWidth(), 448);
  EXPECT_EQ(sizer.MaxTrackWidth(), 448);
  EXPECT_EQ(sizer.MaximizedWidth(), 448);
  EXPECT_EQ(sizer.MinTrackHeight(), 400);
  EXPECT_EQ(sizer.MaxTrackHeight(), 400);
  EXPECT_EQ(sizer.MaximizedHeight(), 400);
  EXPECT_EQ(sizer.MaximizedLeft(), 358);
  EXPECT_EQ(sizer.MaximizedTop(), 111);
  EXPECT_EQ(sizer.Left(), 358);
  EXPECT_EQ(sizer.Top(), 111);
  EXPECT_EQ(form.refreshes, 0);  // plain assignments
  EXPECT_EQ(form.moves, 0);

  form.FWidth = 10;
  sizer.SetUseDesignTimeDef(false);
  EXPECT_FALSE(sizer.UseDesignTimeDef());
  EXPECT_EQ(sizer.MinTrackWidth(), 448);
}

TEST(FormSizerTest, OwnerThatIsNoFormGetsTheWarningAndKeepsTheValue) {
  std::vector<Warning> warnings;
  TFormSizer loose(nullptr);
  loose.SetWarningBox([&](const std::string& caption, const std::string& text) {
    warnings.push_back({caption, text});
  });
  loose.SetEnabled(true);
  EXPECT_FALSE(loose.Enabled());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].caption, "Warning");
  EXPECT_EQ(warnings[0].text, "TFormSizer error.\rComponent's owner must be a form.");

  platform::TComponent plain;
  TFormSizer& sizer = NewSizer(plain, &warnings);
  sizer.SetUseDesignTimeDef(true);
  EXPECT_FALSE(sizer.UseDesignTimeDef());
  EXPECT_EQ(sizer.MinTrackWidth(), 0);
  sizer.SetCoordType(ctEquals);  // stored, no warning
  sizer.SetLeft(5);
  EXPECT_EQ(sizer.CoordType(), ctEquals);
  EXPECT_EQ(sizer.Left(), 5);
  EXPECT_EQ(warnings.size(), 2u);

  // The default box reaches sizers that have none of their own.
  int defaults = 0;
  TFormSizer::SetDefaultWarningBox([&](const std::string&, const std::string&) { ++defaults; });
  TFormSizer other(&plain);
  other.SetEnabled(true);
  TFormSizer::SetDefaultWarningBox(nullptr);
  other.SetEnabled(true);  // no box at all: nothing shown, nothing fails
  EXPECT_EQ(defaults, 1);
  EXPECT_FALSE(other.Enabled());
}

TEST(FormSizerTest, TeardownLeavesNoWindowHoldingAFreedSizer) {
  {
    FakeForm form;
    TFormSizer& sizer = NewSizer(form);
    sizer.SetEnabled(true);
    form.FreeComponent(sizer);
    EXPECT_EQ(form.removals, 1);
    EXPECT_EQ(form.hook, nullptr);
    form.MoveTo(-1, -1);  // would reach the freed sizer otherwise
  }
  {
    // The window goes first: the sizer has nothing left to take back.
    FakeForm form;
    TFormSizer& sizer = NewSizer(form);
    sizer.SetEnabled(true);
    sizer.WindowDestroyed(form);
    form.hook = nullptr;
    sizer.SetEnabled(false);
    form.FreeComponent(sizer);
    EXPECT_EQ(form.removals, 0);
  }
  {
    // The form is torn down around its components: the window lets go of the
    // sizer without having the system's limits put back.
    SeparateWindow window;
    {
      FakeForm form(&window);
      NewSizer(form).SetEnabled(true);
      ASSERT_NE(window.hook, nullptr);
    }
    EXPECT_EQ(window.hook, nullptr);
    EXPECT_EQ(window.forgets, 1);
    EXPECT_EQ(window.removals, 0);
  }
}

}  // namespace
}  // namespace pling::settings
