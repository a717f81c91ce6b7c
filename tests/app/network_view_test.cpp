// SPDX-License-Identifier: GPL-3.0-or-later
// The neighbourhood in the window: receivers marked (and described) as heard,
// no longer heard or unknown as snapshots come; the Add dialog offers the names
// heard; the Network window lists machines and people and adds one with Enter;
// the dialog for this computer's comment stores what an announcement carries.
#include <QCompleter>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <vector>

#include "app/CommentDlg.h"
#include "app/NetworkView.h"
#include "app_fixture.h"
#include "settings/StoredKeys.h"

namespace pling::testing {
namespace {

using NetworkViewTest = AppTest;

platform::TNeighbour Machine(const std::string& name, std::vector<std::string> people) {
  platform::TNeighbour m;
  m.name = name;
  m.comment = name + " comment";
  m.workgroup = "WG";
  m.address = 0x0a000002;
  m.people = std::move(people);
  return m;
}

QString Description(const QListWidget& list, int row) {
  return list.item(row)->data(Qt::AccessibleDescriptionRole).toString();
}

TEST_F(NetworkViewTest, MarksFollowTheNeighbourhoodAndTheNetworkWindowAddsAName) {
  QListWidget receivers;
  receivers.addItems({QStringLiteral("Bob"), QStringLiteral("Dave")});
  std::vector<QString> added;
  app::TNetworkView view(
      receivers,
      [&](const QString& name) {
        added.push_back(name);
        receivers.addItem(name);
        return receivers.count() - 1;
      },
      nullptr);
  const QString heard = app::TNetworkView::ReachText(platform::TReach::Reachable);
  const QString gone = app::TNetworkView::ReachText(platform::TReach::Unreachable);
  const QString unknown = app::TNetworkView::ReachText(platform::TReach::Unknown);

  platform::TNeighbourhoodRead first;
  first.machines = {Machine("BOBPC", {"BOBPC", "BOB"})};
  const auto one = platform::MakeSnapshot(first, nullptr);
  view.Take(one);
  EXPECT_EQ(Description(receivers, 0), heard);
  EXPECT_FALSE(receivers.item(0)->icon().isNull());
  EXPECT_EQ(Description(receivers, 1), unknown);
  // A receiver added later is marked at once.
  receivers.addItem(QStringLiteral("bobpc"));
  EXPECT_EQ(Description(receivers, 2), heard);

  // The Add dialog offers the names heard.
  QInputDialog dialog;
  dialog.setTextValue(QString());  // as the window's Add does: the field is made
  view.PrepareNameDialog(dialog);
  auto* edit = dialog.findChild<QLineEdit*>();
  ASSERT_NE(edit, nullptr);
  ASSERT_NE(edit->completer(), nullptr);
  EXPECT_EQ(edit->maxLength(), 255);
  edit->completer()->setCompletionPrefix(QStringLiteral("bo"));
  EXPECT_EQ(edit->completer()->completionCount(), 2);

  // The Network window: the machine with its people; Enter on a person adds him.
  view.ShowNetworkFrm(nullptr);
  auto* frm = view.findChild<app::TNetworkFrm*>();
  if (frm == nullptr) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* f = qobject_cast<app::TNetworkFrm*>(w)) frm = f;
    }
  }
  ASSERT_NE(frm, nullptr);
  auto* tree = frm->findChild<QTreeWidget*>(QStringLiteral("MachinesTre"));
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* machine = tree->topLevelItem(0);
  EXPECT_EQ(machine->text(1), QStringLiteral("10.0.0.2"));
  EXPECT_EQ(machine->text(3), QStringLiteral("BOBPC comment"));
  ASSERT_EQ(machine->childCount(), 2);
  tree->setFocus();
  tree->setCurrentItem(machine->child(1));
  QTest::keyClick(tree, Qt::Key_Return);
  EXPECT_EQ(added, std::vector<QString>{QStringLiteral("BOB")});

  // Bob's machine stops: unreachable, and the description says so; the window
  // follows.
  platform::TNeighbourhoodRead second;
  second.machines = {Machine("CAROLPC", {"CAROL"})};
  view.Take(platform::MakeSnapshot(second, one.get()));
  EXPECT_EQ(Description(receivers, 0), gone);
  EXPECT_EQ(Description(receivers, 1), unknown);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("CAROLPC"));
  EXPECT_NE(frm->findChild<QPushButton*>(QStringLiteral("CommentBtn")), nullptr);
  frm->close();
}

// This computer's comment: what does not fit in an announcement cannot be
// stored; what fits is stored in the program's settings and shown again.
TEST_F(NetworkViewTest, TheCommentDialogStoresWhatFitsAndShowsItAgain) {
  app::TCommentDlg dialog(nullptr);
  auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("CommentEdt"));
  auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), QString());
  EXPECT_TRUE(edit->placeholderText().startsWith(QStringLiteral("Pling \u2013 ")));
  // 41 characters, of which the ellipsis goes as three: 43 bytes fit, 44 do not.
  dialog.SetComment(QString(40, QLatin1Char('x')) + QChar(0x2026));
  EXPECT_TRUE(ok->isEnabled());
  dialog.SetComment(QString(41, QLatin1Char('x')) + QChar(0x2026));
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_FALSE(dialog.findChild<QLabel*>(QStringLiteral("NoteLbl"))->text().isEmpty());

  edit->clear();
  QTest::keyClicks(edit, QStringLiteral("Back at four"));
  ASSERT_TRUE(ok->isEnabled());
  ASSERT_TRUE(dialog.Store());
  settings::TMegaRegistry store(nullptr);
  settings::ConfigureProgramStore(store);
  store.OpenBackEnd();
  EXPECT_EQ(store.ReadText(settings::kCommentKey), "Back at four");
  app::TCommentDlg again(nullptr);
  EXPECT_EQ(again.Comment(), QStringLiteral("Back at four"));
}

}  // namespace
}  // namespace pling::testing
