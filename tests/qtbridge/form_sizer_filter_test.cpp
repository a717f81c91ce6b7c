// SPDX-License-Identifier: GPL-3.0-or-later
// The sizer on a real top-level widget: the limits become the widget's minimum
// and maximum size, moves are put right, a maximised window takes the sizer's
// place, and neither side outlives the other unsafely.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <memory>

#include "qtbridge/FormSizerFilter.h"
#include "settings/FormSize.h"
#include "settings/owner_form.h"

namespace pling::qtbridge {
namespace {

using settings::ctEquals;
using settings::ctGreater;
using settings::TFormSizer;
using settings::TMinMaxInfo;

// A form as the main window is one: a top-level widget whose bounds are the
// owner-form bounds, with the filter in front of it.
class Form : public QWidget, public settings::TOwnerForm, public settings::TSizerForm {
 public:
  explicit Form(bool freesItsComponents = true)
      : FFilter(new TFormSizerFilter(*this)), FFreesItsComponents(freesItsComponents) {
    setGeometry(100, 100, 448, 400);
    FSizer = &CreateComponent<TFormSizer>();
    FSizer->SetWarningBox([](const std::string&, const std::string&) {});
  }
  ~Form() override {
    if (FFreesItsComponents) DestroyComponents();
  }

  std::int32_t Left() const override { return x(); }
  std::int32_t Top() const override { return y(); }
  std::int32_t Width() const override { return frameGeometry().width(); }
  std::int32_t Height() const override { return frameGeometry().height(); }
  void SetLeft(std::int32_t value) override { move(value, y()); }
  void SetTop(std::int32_t value) override { move(x(), value); }
  void SetWidth(std::int32_t value) override { resize(value, height()); }
  void SetHeight(std::int32_t value) override { resize(width(), value); }
  std::int32_t ScreenWidth() const override { return screen()->geometry().width(); }
  std::int32_t ScreenHeight() const override { return screen()->geometry().height(); }
  settings::TSizerWindow& SizerWindow() override { return *FFilter; }

  TFormSizer& Sizer() { return *FSizer; }
  TFormSizerFilter& Filter() { return *FFilter; }
  void DropFilter() { delete FFilter; }

 private:
  TFormSizerFilter* FFilter;
  bool FFreesItsComponents;
  TFormSizer* FSizer;
};

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// The limits are sizes of the window with its frame.
QSize FrameSize(const QWidget& widget) {
  return widget.frameGeometry().size();
}
QSize FrameExtra(const QWidget& widget) {
  return FrameSize(widget) - widget.size();
}

TEST(FormSizerFilterTest, MainWindowSettings) {
  Form form;
  form.setMinimumSize(10, 10);  // the window's own limits, kept for later
  TFormSizer& sizer = form.Sizer();
  sizer.SetMinTrackHeight(100);
  sizer.SetMinTrackWidth(200);
  sizer.SetEnabled(true);
  sizer.SetCoordType(ctGreater);
  form.show();
  Settle();
  EXPECT_EQ(form.minimumSize() + FrameExtra(form), QSize(200, 100));
  EXPECT_EQ(form.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

  form.resize(50, 50);
  Settle();
  EXPECT_EQ(FrameSize(form), QSize(200, 100));

  form.move(-50, 30);
  Settle();
  EXPECT_EQ(form.pos(), QPoint(0, 30));
  form.move(-10, -10);
  Settle();
  EXPECT_EQ(form.pos(), QPoint(0, 0));
  form.move(500, 400);
  Settle();
  EXPECT_EQ(form.pos(), QPoint(500, 400));

  // A fixed place: the window goes there and every move is undone.
  sizer.SetLeft(10);
  sizer.SetTop(20);
  sizer.SetCoordType(ctEquals);
  EXPECT_EQ(form.pos(), QPoint(10, 20));
  EXPECT_EQ(form.Filter().HitTest(settings::HTCAPTION), settings::HTCLIENT);
  form.move(300, 300);
  Settle();
  EXPECT_EQ(form.pos(), QPoint(10, 20));

  // Disabled, the window's own limits are back and moves stand.
  sizer.SetEnabled(false);
  EXPECT_EQ(form.minimumSize(), QSize(10, 10));
  form.resize(50, 50);
  form.move(-50, -50);
  Settle();
  EXPECT_EQ(form.size(), QSize(50, 50));
  EXPECT_LT(form.x(), 0);
  EXPECT_LT(form.y(), 0);
}

TEST(FormSizerFilterTest, TrackingLimitsAndHandler) {
  Form form;
  TFormSizer& sizer = form.Sizer();
  sizer.SetMinTrackWidth(200);
  sizer.SetMaxTrackWidth(500);
  sizer.SetMaxTrackHeight(450);
  int calls = 0;
  sizer.SetOnTracking([&](TFormSizer&, TMinMaxInfo& info) {
    ++calls;
    info.ptMinTrackSize.x = 300;
  });
  sizer.SetEnabled(true);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(form.minimumSize(), QSize(300, 0));
  EXPECT_EQ(form.maximumSize(), QSize(500, 450));
  EXPECT_EQ(form.size(), QSize(448, 400));

  form.show();
  Settle();
  form.resize(900, 900);
  Settle();
  EXPECT_EQ(FrameSize(form), QSize(500, 450));
  EXPECT_GT(calls, 1);  // asked again when shown and resized

  // A largest size below the smallest gives way to the smallest.
  sizer.SetOnTracking(nullptr);
  sizer.SetMaxTrackWidth(150);
  form.Filter().RefreshLimits();
  EXPECT_EQ(form.minimumSize().width(), form.maximumSize().width());
  EXPECT_EQ(FrameSize(form).width(), 200);
}

TEST(FormSizerFilterTest, RecordAsTheWindowSystemFillsIt) {
  Form form;
  form.setMaximumSize(600, 500);
  form.show();
  Settle();
  TFormSizer& sizer = form.Sizer();
  sizer.SetEnabled(true);
  const QRect area = form.screen()->availableGeometry();
  const QSize extra = FrameExtra(form);
  const TMinMaxInfo system = form.Filter().SystemMinMaxInfo();
  EXPECT_EQ(system.ptMaxSize, (settings::TPoint{area.width(), area.height()}));
  EXPECT_EQ(system.ptMaxPosition, (settings::TPoint{area.left(), area.top()}));
  EXPECT_EQ(system.ptMinTrackSize, (settings::TPoint{extra.width(), extra.height()}));
  EXPECT_EQ(system.ptMaxTrackSize, (settings::TPoint{600 + extra.width(), 500 + extra.height()}));
  EXPECT_EQ(form.Filter().MinMaxInfo(), system);  // all properties 0
  EXPECT_EQ(form.maximumSize(), QSize(600, 500));

  // The maximised members reach the record and the handler.
  sizer.SetMaximizedLeft(40);
  sizer.SetMaximizedHeight(240);
  TMinMaxInfo seen;
  sizer.SetOnTracking([&](TFormSizer&, TMinMaxInfo& info) { seen = info; });
  const TMinMaxInfo info = form.Filter().MinMaxInfo();
  EXPECT_EQ(info.ptMaxPosition, (settings::TPoint{40, area.top()}));
  EXPECT_EQ(info.ptMaxSize, (settings::TPoint{area.width(), 240}));
  EXPECT_EQ(seen, info);

  // Disabling puts back the window's own limits, not the last ones applied.
  sizer.SetMaxTrackWidth(300);
  form.Filter().RefreshLimits();
  EXPECT_EQ(FrameSize(form).width(), 300);
  sizer.SetEnabled(false);
  EXPECT_EQ(form.maximumSize(), QSize(600, 500));
}

TEST(FormSizerFilterTest, OlderSizerWinsAndEitherMayGoFirst) {
  Form form;
  TFormSizer& newer = form.CreateComponent<TFormSizer>();
  form.Sizer().SetMinTrackWidth(200);
  form.Sizer().SetEnabled(true);
  newer.SetMinTrackWidth(300);
  newer.SetMinTrackHeight(150);
  newer.SetEnabled(true);
  EXPECT_EQ(form.minimumSize(), QSize(200, 150));

  // The sizer goes first: the window no longer reaches it.
  form.FreeComponent(newer);
  form.Filter().RefreshLimits();
  EXPECT_EQ(form.minimumSize(), QSize(200, 0));
  form.show();
  form.move(-5, -5);
  Settle();

  // The filter goes first: the window no longer reaches the sizer, and the
  // sizer has nothing left to take back when it goes.
  form.Sizer().SetCoordType(ctGreater);
  form.DropFilter();
  form.move(-5, -5);
  Settle();
  EXPECT_LT(form.x(), 0);
}

TEST(FormSizerFilterTest, FormTornDownAroundAnEnabledSizer) {
  // The components outlive the form's own part: the filter lets go of the sizer
  // without touching the half-destroyed window. A call into it would be a pure
  // virtual call (an abort) or a use after free (the sanitizer build).
  auto form = std::make_unique<Form>(false);
  form->Sizer().SetMinTrackWidth(200);
  form->Sizer().SetEnabled(true);
  form->show();
  Settle();
  ASSERT_GT(form->minimumWidth(), 100);  // the sizer is at work on the window
  QPointer<QWidget> window = form.get();
  form.reset();
  Settle();
  EXPECT_TRUE(window.isNull());
}

}  // namespace
}  // namespace pling::qtbridge
