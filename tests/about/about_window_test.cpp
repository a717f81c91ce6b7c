// SPDX-License-Identifier: GPL-3.0-or-later
// The About window: the version from this program file's block, the credits,
// the page it opens on, and one fresh window per showing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <vector>

#include "about/AboutFrmUnit.h"
#include "about/ScrollText.h"

namespace pling::about {
namespace {

TEST(AboutWindow, ShowsTheProgramVersionInTheLabelAndTheFirstCreditsLine) {
  TAboutFrm window;
  EXPECT_EQ(window.VersionLbl->text(), QStringLiteral("V1.0.4.5"));
  const QStringList lines = window.ScrollText1->Items();
  ASSERT_EQ(lines.size(), TAboutFrm::CreditsLines().size());
  EXPECT_EQ(lines[0], QStringLiteral("Pling V1.0.4.5"));
  EXPECT_EQ(lines[1], QString());
  EXPECT_TRUE(lines.contains(QStringLiteral("Thanks go to the beta testers who dared:")));
  EXPECT_TRUE(lines.contains(QStringLiteral("(alphabetical order guys)")));
  // The credits scroll from the start, up, in 300 steps of 100 ms.
  EXPECT_TRUE(window.ScrollText1->Scrolling());
  EXPECT_EQ(window.ScrollText1->ScrollDirection(), sdBottomToTop);
  EXPECT_EQ(window.ScrollText1->Steps(), 300);
  EXPECT_EQ(window.ScrollText1->TextStyle(), tsLowered);
  // A screen reader finds both named, the credits with their text.
  EXPECT_EQ(window.VersionLbl->accessibleName(), QStringLiteral("Version 1.0.4.5"));
  EXPECT_EQ(window.ScrollText1->accessibleName(), QStringLiteral("Credits"));
  EXPECT_TRUE(window.ScrollText1->accessibleDescription().contains(
      QStringLiteral("Thanks go to the beta testers who dared:")));
}

TEST(AboutWindow, EachShowingIsAFreshModalWindowOpenOnTheAboutPage) {
  struct Seen {
    QString firstLine;
    QString page;
    bool modal = false;
    QPointer<TAboutFrm> window;
  };
  std::vector<Seen> seen;
  for (int showing = 0; showing < 2; ++showing) {
    QTimer::singleShot(0, [&seen] {
      auto* window = qobject_cast<TAboutFrm*>(QApplication::activeModalWidget());
      Seen now;
      if (window != nullptr) {
        now = {window->ScrollText1->Items().value(0),
               window->PageControl->currentWidget()->objectName(), window->isModal(), window};
        window->close();
      }
      seen.push_back(now);
    });
    ShowAboutWindow();
  }
  ASSERT_EQ(seen.size(), 2u);
  for (const Seen& each : seen) {
    EXPECT_EQ(each.firstLine, QStringLiteral("Pling V1.0.4.5"));
    EXPECT_EQ(each.page, QStringLiteral("AboutTbs"));
    EXPECT_TRUE(each.modal);
    EXPECT_TRUE(each.window.isNull());  // released when its modal loop ended
  }
}

}  // namespace
}  // namespace pling::about
