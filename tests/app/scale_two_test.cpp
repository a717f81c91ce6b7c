// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a screen scaled by 2.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QScreen>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

#include "about/AboutFrmUnit.h"
#include "about/ScrollText.h"
#include "app_fixture.h"

namespace pling::testing {
namespace {

// Run by its own test entry with QT_SCALE_FACTOR=2 (skipped otherwise): a screen
// of 800 x 800 device pixels is 400 x 400 device-independent ones.
class AppScaleTwoTest : public AppTest {
 protected:
  void SetUp() override {
    if (qEnvironmentVariable("QT_SCALE_FACTOR") != QLatin1String("2"))
      GTEST_SKIP() << "runs with QT_SCALE_FACTOR=2 only";
    AppTest::SetUp();
  }
};

TEST_F(AppScaleTwoTest, BoundsStayDeviceIndependentAndTheWindowFitsTheScreen) {
  // Kept from a larger screen: moved and made smaller to fit wholly.
  {
    auto store = Store();
    store->WriteInteger("TPlingFrm", "Left", 300);
    store->WriteInteger("TPlingFrm", "Top", 200);
    store->WriteInteger("TPlingFrm", "Width", 448);
    store->WriteInteger("TPlingFrm", "Height", 350);
  }
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QRect area = w.screen()->availableGeometry();
  ASSERT_LT(area.width(), 448) << "the screen is not scaled";
  ASSERT_TRUE(WaitFor([&] { return area.contains(w.frameGeometry()); }))
      << w.frameGeometry().x() << "," << w.frameGeometry().y() << " " << w.frameGeometry().width()
      << "x" << w.frameGeometry().height();
  EXPECT_EQ(Widget<app::TPanel>(w, "ReceiversPnl")->width(), 89)
      << "design sizes are device-independent too";
  const QRect shown = w.geometry();
  Stop();
  EXPECT_EQ(Store()->ReadInteger("TPlingFrm", "Width", 0), shown.width());
  EXPECT_EQ(Store()->ReadInteger("TPlingFrm", "Height", 0), shown.height());

  // Bounds that fit come back as they were, and are stored as they were.
  {
    auto store = Store();
    store->WriteInteger("TPlingFrm", "Left", 20);
    store->WriteInteger("TPlingFrm", "Top", 30);
    store->WriteInteger("TPlingFrm", "Width", 300);
    store->WriteInteger("TPlingFrm", "Height", 250);
  }
  app::TPlingFrm& again = Start();
  again.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
  EXPECT_EQ(again.size(), QSize(300, 250));
  Stop();
  auto store = Store();
  EXPECT_EQ(store->ReadInteger("TPlingFrm", "Left", 0), 20);
  EXPECT_EQ(store->ReadInteger("TPlingFrm", "Top", 0), 30);
  EXPECT_EQ(store->ReadInteger("TPlingFrm", "Width", 0), 300);
  EXPECT_EQ(store->ReadInteger("TPlingFrm", "Height", 0), 250);
}

TEST_F(AppScaleTwoTest, TheAboutWindowFitsTheScreenOfTheWindowItOpensFrom) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  about::TAboutFrm about;
  EXPECT_EQ(about.screen(), w.screen());
  const QRect area = w.screen()->availableGeometry();
  EXPECT_LE(about.width(), area.width());
  EXPECT_LE(about.height(), area.height()) << "designed 403 high, on a screen " << area.height();
  EXPECT_GE(about.ScrollText1->geometry().bottom(), about.height() / 2) << "drawn smaller whole";
}

// Each dialog of the window, as it opens: on the window's screen and whole
// inside its free area (at scale 2 the font dialog was once twice too wide, and
// Qt's colour dialog cannot be made smaller than the screen).
TEST_F(AppScaleTwoTest, TheWindowsDialogsOpenOnItsScreenAndFitThere) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QRect area = w.screen()->availableGeometry();
  // What the dialog `open` shows looked like once on screen; then it is cancelled.
  const auto shown = [](const std::function<void()>& open) {
    QRect frame;
    const QScreen* screen = nullptr;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return;
      frame = dialog->frameGeometry();
      screen = dialog->screen();
      for (const QDialogButtonBox* buttons : dialog->findChildren<QDialogButtonBox*>()) {
        const QRect where(buttons->mapTo(dialog, QPoint()), buttons->size());
        if (buttons->isVisible() && !dialog->rect().contains(where)) frame = QRect();  // cut off
      }
      dialog->reject();
    });
    poll.start();
    open();
    return std::pair{frame, screen};
  };
  settings::TFont font;
  settings::TColor color = settings::clBlack;
  QString text = QStringLiteral("BOB");
  const std::vector<std::pair<const char*, std::function<void()>>> dialogs{
      {"Font", [&] { w.FontDialog(&w, font); }},
      {"Colour", [&] { w.ColorDialog(&w, color); }},
      {"Add", [&] { w.InputQuery(QStringLiteral("Add"), QStringLiteral("Receiver"), text); }},
      {"Save as", [&] { w.SaveDialog(&w); }}};
  for (const auto& [name, open] : dialogs) {
    const auto [frame, screen] = shown(open);
    EXPECT_EQ(screen, w.screen()) << name;
    EXPECT_TRUE(!frame.isEmpty() && area.contains(frame))
        << name << " at " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
        << frame.height() << " on a screen of " << area.width() << "x" << area.height();
  }
}

}  // namespace
}  // namespace pling::testing
