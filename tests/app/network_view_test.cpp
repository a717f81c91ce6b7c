// SPDX-License-Identifier: GPL-3.0-or-later
// The neighbourhood in the window: receivers marked (and described) as heard,
// no longer heard or unknown as snapshots come; the Add dialog offers the names
// heard; the Network window lists machines and people and adds one with Enter.
#include <QCompleter>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <vector>

#include "app/NetworkView.h"
#include "app_fixture.h"

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
  frm->close();
}

}  // namespace
}  // namespace pling::testing
