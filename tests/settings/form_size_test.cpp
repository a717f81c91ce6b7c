// SPDX-License-Identifier: GPL-3.0-or-later
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

using Pos = std::pair<std::int32_t, std::int32_t>;

// The window system's own record.
constexpr TMinMaxInfo kSystem{{0, 0}, {1032, 776}, {-4, -4}, {112, 27}, {1036, 780}};

// A window apart from its form (as a real form's window outlives the form's
// components); the form itself serves as its window unless given one.
class Window : public TSizerWindow {
 public:
  void InstallSizer(TFormSizer& sizer) override {
    ++installs;
    hook = &sizer;
  }
  void RemoveSizer(TFormSizer&) override {
    ++removals;
    hook = nullptr;
  }
  void ForgetSizer(TFormSizer&) override {
    ++forgets;
    hook = nullptr;
  }
  void RefreshLimits() override {
    ++refreshes;
    limits = kSystem;
    if (hook != nullptr) hook->GetMinMaxInfo(limits);
  }
  TFormSizer* hook = nullptr;
  int installs = 0, removals = 0, forgets = 0, refreshes = 0;
  TMinMaxInfo limits = kSystem;
};

class FakeForm : public TOwnerForm, public TSizerForm {
 public:
  explicit FakeForm(Window* separate = nullptr) : window(separate ? *separate : FOwn) {}
  // A form that leaves its components to the base destructor is no longer a
  // form when they go.
  ~FakeForm() override {
    if (&window == &FOwn) DestroyComponents();
  }

  std::int32_t Left() const override { return pos.first; }
  std::int32_t Top() const override { return pos.second; }
  std::int32_t Width() const override { return 448; }
  std::int32_t Height() const override { return 400; }
  void SetLeft(std::int32_t value) override { MoveTo({value, pos.second}); }
  void SetTop(std::int32_t value) override { MoveTo({pos.first, value}); }
  void SetWidth(std::int32_t) override {}
  void SetHeight(std::int32_t) override {}
  std::int32_t ScreenWidth() const override { return 1024; }
  std::int32_t ScreenHeight() const override { return 768; }
  TSizerWindow& SizerWindow() override { return window; }

  // A move reported to the window, by the user or by the form.
  void MoveTo(Pos to) {
    pos = to;
    ++moves;
    if (window.hook != nullptr) window.hook->WindowMoved();
  }

  Window FOwn;
  Window& window;
  Pos pos{358, 111};
  int moves = 0;
};

TFormSizer& NewSizer(runtime::TComponent& owner, std::vector<std::string>* warnings = nullptr) {
  auto& sizer = owner.CreateComponent<TFormSizer>();
  sizer.SetWarningBox([warnings](const std::string& caption, const std::string& text) {
    if (warnings != nullptr) warnings->push_back(caption + "|" + text);
  });
  return sizer;
}

TEST(FormSizerTest, PositionRules) {
  struct Case {
    TCoordinate rule;
    Pos reference, from, to;
  };
  for (const Case& c : {
           Case{ctGreater, {0, 0}, {-50, 30}, {0, 30}},  // the main window's rule
           Case{ctGreater, {0, 0}, {-10, -10}, {0, 0}},
           Case{ctGreater, {0, 0}, {500, 400}, {500, 400}},
           Case{ctLess, {100, 100}, {150, 50}, {100, 50}},
           Case{ctLess, {100, 100}, {20, 300}, {20, 100}},
           Case{ctEquals, {10, 20}, {400, 5}, {10, 20}},
           Case{ctNone, {0, 0}, {-300, -300}, {-300, -300}},
       }) {
    FakeForm form;
    TFormSizer& sizer = NewSizer(form);
    sizer.SetEnabled(true);
    sizer.SetLeft(c.reference.first);
    sizer.SetTop(c.reference.second);
    sizer.SetCoordType(c.rule);
    form.MoveTo(c.from);
    EXPECT_EQ(form.pos, c.to) << int{c.rule} << " from " << c.from.first << "," << c.from.second;
  }

  // Enabling and each property apply the rule at once; disabled, nothing does.
  FakeForm form;
  form.pos = {-50, -60};
  TFormSizer& sizer = NewSizer(form);
  sizer.SetCoordType(ctEquals);
  sizer.SetLeft(10);
  EXPECT_EQ(form.moves, 0);
  sizer.SetEnabled(true);
  EXPECT_EQ(form.pos, Pos(10, 0));
  sizer.SetTop(20);
  EXPECT_EQ(form.pos, Pos(10, 20));
  // The caption reports the client area only under ctEquals.
  EXPECT_EQ(sizer.HitTest(HTCAPTION), HTCLIENT);
  EXPECT_EQ(sizer.HitTest(HTCLIENT), HTCLIENT);
  EXPECT_EQ(sizer.HitTest(10), 10);
  sizer.SetCoordType(ctGreater);
  EXPECT_EQ(sizer.HitTest(HTCAPTION), HTCAPTION);
  sizer.SetEnabled(false);
  form.MoveTo({-5, -5});
  sizer.SetLeft(0);
  EXPECT_EQ(form.pos, Pos(-5, -5));
}

TEST(FormSizerTest, RecordAndOnTracking) {
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
  TMinMaxInfo info = kSystem;
  info.ptReserved = {-9, -9};
  sizer.GetMinMaxInfo(info);
  EXPECT_EQ(info, (TMinMaxInfo{{-9, -9}, {5, 6}, {7, 8}, {1, 2}, {3, 4}}));

  // Zero and negative values leave the system's, member by member.
  sizer.SetMaximizedLeft(-5);
  sizer.SetMaximizedTop(0);
  sizer.SetMinTrackWidth(0);
  sizer.SetMaxTrackHeight(-1);
  info = kSystem;
  sizer.GetMinMaxInfo(info);
  EXPECT_EQ(info, (TMinMaxInfo{{0, 0}, {5, 6}, {-4, -4}, {112, 2}, {3, 780}}));

  // The handler sees the filled record and has the last word.
  sizer.SetMinTrackWidth(200);
  int calls = 0;
  sizer.SetOnTracking([&](TFormSizer& sender, TMinMaxInfo& record) {
    ++calls;
    EXPECT_EQ(&sender, &sizer);
    EXPECT_EQ(record.ptMinTrackSize.x, 200);
    record.ptMinTrackSize.x = 300;
  });
  sizer.SetEnabled(true);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(form.window.limits.ptMinTrackSize.x, 300);

  // A handler that fails leaves the request as the window system filled it.
  sizer.SetOnTracking([](TFormSizer&, TMinMaxInfo& record) {
    record.ptMinTrackSize.x = 1;
    throw std::runtime_error("handler failed");
  });
  info = kSystem;
  EXPECT_THROW(sizer.GetMinMaxInfo(info), std::runtime_error);
  EXPECT_EQ(info, kSystem);

  // Not raised while the form is being designed.
  sizer.SetOnTracking([&](TFormSizer&, TMinMaxInfo&) { ++calls; });
  form.SetDesigning(true);
  sizer.GetMinMaxInfo(info);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(info.ptMinTrackSize.x, 200);
}

TEST(FormSizerTest, EnablingInstallsOnceAndDisablingPutsTheSystemBack) {
  FakeForm form;
  TFormSizer& sizer = NewSizer(form);
  sizer.SetMinTrackWidth(200);
  sizer.SetEnabled(true);
  sizer.SetEnabled(true);
  EXPECT_EQ(form.window.installs, 1);
  EXPECT_EQ(form.window.refreshes, 2);  // each setting asks for the limits again
  EXPECT_EQ(form.window.limits.ptMinTrackSize.x, 200);

  sizer.SetEnabled(false);
  sizer.SetEnabled(false);
  EXPECT_FALSE(sizer.Enabled());
  EXPECT_EQ(form.window.removals, 1);
  EXPECT_EQ(form.window.refreshes, 4);
  EXPECT_EQ(form.window.limits, kSystem);
}

TEST(FormSizerTest, UseDesignTimeDefFreezesTheFormAsItIs) {
  FakeForm form;  // 448 × 400 at (358, 111)
  TFormSizer& sizer = NewSizer(form);
  sizer.SetUseDesignTimeDef(true);
  EXPECT_TRUE(sizer.UseDesignTimeDef());
  TMinMaxInfo info;
  sizer.GetMinMaxInfo(info);
  EXPECT_EQ(info, (TMinMaxInfo{{0, 0}, {448, 400}, {358, 111}, {448, 400}, {448, 400}}));
  EXPECT_EQ(Pos(sizer.Left(), sizer.Top()), Pos(358, 111));
  EXPECT_EQ(form.window.refreshes + form.moves, 0);  // plain assignments

  sizer.SetUseDesignTimeDef(false);
  EXPECT_FALSE(sizer.UseDesignTimeDef());
  EXPECT_EQ(sizer.MinTrackWidth(), 448);
}

TEST(FormSizerTest, OwnerThatIsNoFormGetsTheWarningAndKeepsTheValue) {
  std::vector<std::string> warnings;
  runtime::TComponent plain;
  TFormSizer& sizer = NewSizer(plain, &warnings);
  sizer.SetEnabled(true);
  EXPECT_FALSE(sizer.Enabled());
  sizer.SetUseDesignTimeDef(true);
  EXPECT_FALSE(sizer.UseDesignTimeDef());
  EXPECT_EQ(sizer.MinTrackWidth(), 0);
  sizer.SetCoordType(ctEquals);  // stored, no warning
  sizer.SetLeft(5);
  EXPECT_EQ(Pos(sizer.CoordType(), sizer.Left()), Pos(ctEquals, 5));
  const std::string warning = "Warning|TFormSizer error.\rComponent's owner must be a form.";
  EXPECT_EQ(warnings, std::vector<std::string>(2, warning));

  // The default box reaches sizers without one of their own, with no owner too.
  int defaults = 0;
  TFormSizer::SetDefaultWarningBox([&](const std::string&, const std::string&) { ++defaults; });
  TFormSizer loose(nullptr);
  loose.SetEnabled(true);
  TFormSizer::SetDefaultWarningBox(nullptr);
  loose.SetEnabled(true);  // no box at all: nothing shown, nothing fails
  EXPECT_EQ(defaults, 1);
  EXPECT_FALSE(loose.Enabled());
}

TEST(FormSizerTest, TeardownLeavesNoWindowHoldingAFreedSizer) {
  FakeForm form;
  form.FreeComponent(NewSizer(form));  // never enabled: nothing to take back
  TFormSizer& sizer = NewSizer(form);
  sizer.SetEnabled(true);
  form.FreeComponent(sizer);
  EXPECT_EQ(form.window.removals, 1);
  EXPECT_EQ(form.window.hook, nullptr);

  // The window goes first: the sizer has nothing left to take back.
  TFormSizer& orphan = NewSizer(form);
  orphan.SetEnabled(true);
  orphan.WindowDestroyed(form.window);
  form.window.hook = nullptr;
  orphan.SetEnabled(false);
  form.FreeComponent(orphan);
  EXPECT_EQ(form.window.removals, 1);

  // The form is torn down around its components: the window lets go of the
  // sizer without having the system's limits put back.
  Window window;
  {
    FakeForm lazy(&window);
    NewSizer(lazy).SetEnabled(true);
  }
  EXPECT_EQ(window.hook, nullptr);
  EXPECT_EQ(Pos(window.forgets, window.removals), Pos(1, 0));
}

}  // namespace
}  // namespace pling::settings
