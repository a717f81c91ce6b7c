// SPDX-License-Identifier: GPL-3.0-or-later
// The message history in the window: what it shows is in the store before the
// pane shows it, what it sends is there with how it went, and the History window
// finds a message as the user types and opens it among its neighbours.
#include <QLineEdit>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/HistoryView.h"
#include "app_fixture.h"
#include "history/history.h"

namespace pling::testing {
namespace {

class HistoryTest : public AppTest {
 protected:
  // A connection of its own: what it reads is committed, and so survives the
  // window's process being killed.
  static std::unique_ptr<history::TStore> Reader() {
    auto opened = history::TStore::OpenExisting(history::DefaultPath());
    return opened ? std::move(opened.Value()) : nullptr;
  }
  static std::vector<history::THit> Find(history::TStore& store, const std::string& words) {
    history::TQuery query;
    query.words = words;
    query.prefixLastWord = false;
    query.limit = 0;
    auto hits = store.Search(query);
    return hits ? hits.Value() : std::vector<history::THit>{};
  }
};

// A burst through the messenger mailslot: whenever the pane paints, the last
// message it shows is already committed, and in the end every message is stored
// once. A send that fails is stored with its reason.
class TPaintCheck : public QObject {
 public:
  std::function<void()> OnPaint;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) OnPaint();
    return QObject::eventFilter(watched, event);
  }
};

TEST_F(HistoryTest, ShownMessagesAreCommittedBeforeThePaneShowsThemAndSendsWithTheirOutcome) {
  app::TPlingFrm& w = Start();
  w.show();
  Action(w, "Popup1")->trigger();
  auto* received = Widget<app::TMemo>(w, "ReceivedMmo");
  int checked = 0;
  QStringList notStored;
  TPaintCheck paints;
  paints.OnPaint = [&] {
    const QString last = received->document()->lastBlock().text();
    const QRegularExpressionMatch number =
        QRegularExpression(QStringLiteral("n\\d+x$")).match(last);
    if (!number.hasMatch()) return;
    ++checked;
    auto reader = Reader();
    if (!reader || Find(*reader, number.captured().toStdString()).size() != 1) notStored << last;
  };
  received->viewport()->installEventFilter(&paints);
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  constexpr int kBurst = 1500;
  for (int i = 0; i < kBurst; ++i) {
    ASSERT_TRUE(mailslot::WriteMailSlot(
        ".", mailslot::MessengerSlotName,
        mailslot::EncodeMessengerDatagram("HOST" + std::to_string(i % 7), "BOB",
                                          "burst n" + std::to_string(i) + "x")));
  }
  ASSERT_TRUE(WaitFor([&] {
    return received->document()->lastBlock().text().endsWith(
        QStringLiteral("n%1x").arg(kBurst - 1));
  }));
  EXPECT_GT(checked, 0);
  EXPECT_TRUE(notStored.isEmpty()) << notStored.first().toStdString();
  received->viewport()->removeEventFilter(&paints);
  auto reader = Reader();
  ASSERT_TRUE(reader);
  const auto count = reader->Count();
  ASSERT_TRUE(count);
  EXPECT_EQ(count.Value(), kBurst);
  const auto some = Find(*reader, "n777x");
  ASSERT_EQ(some.size(), 1u);
  EXPECT_EQ(some[0].message.sender, "HOST0");
  EXPECT_EQ(some[0].message.receiver, "BOB");
  EXPECT_EQ(some[0].message.direction, history::TDirection::In);

  // A receiver on no network (it is off): not sent, stored with why.
  Widget<app::TListBox>(w, "ReceiversLbx")->clear();
  w.InputQuery = [](const QString&, const QString&, QString& value) {
    value = QStringLiteral("Faraway");
    return true;
  };
  Action(w, "Add2")->trigger();
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("parcel n9x"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send3")->trigger();
  const auto sent = Find(*reader, "parcel");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].message.direction, history::TDirection::Out);
  EXPECT_EQ(sent[0].message.receiver, "Faraway");
  EXPECT_EQ(sent[0].message.delivery, history::TDelivery::Failed);
  EXPECT_FALSE(sent[0].message.reason.empty());
  EXPECT_EQ(sent[0].message.via, "Faraway");
}

// Typing finds the message with the typed word marked (its text escaped, never
// taken as markup); the filters narrow it; Enter opens it among its neighbours;
// Escape closes the window.
TEST_F(HistoryTest, TheHistoryWindowFindsAsTheUserTypesAndOpensAMessageWithItsNeighbours) {
  app::TPlingFrm& w = Start();
  Action(w, "Popup1")->trigger();
  std::vector<net::TMessengerMessage> batch;
  for (int i = 0; i < 31; ++i) {
    batch.push_back({"ALICE", "BOB",
                     i == 15 ? std::string("<b>Zebra</b> crossing & more")
                             : "ordinary message " + std::to_string(i)});
  }
  w.PlingMessages(batch);
  Action(w, "History1")->trigger();
  auto* frm = w.findChild<app::THistoryFrm*>(QStringLiteral("HistoryFrm"));
  ASSERT_NE(frm, nullptr);
  ASSERT_TRUE(frm->isVisible());
  auto* results = Widget<QTreeWidget>(*frm, "ResultsTre");
  ASSERT_TRUE(WaitFor([&] { return results->topLevelItemCount() == 31; }));

  QTest::keyClicks(Widget<QLineEdit>(*frm, "SearchEdt"), QStringLiteral("zeb"));
  ASSERT_TRUE(WaitFor([&] { return results->topLevelItemCount() == 1; }));
  const QTreeWidgetItem* hit = results->topLevelItem(0);
  EXPECT_EQ(hit->text(1), QStringLiteral("ALICE"));
  EXPECT_EQ(hit->text(2), QStringLiteral("BOB"));
  const QString html = hit->data(3, app::THistoryFrm::kMarkedRole).toString();
  EXPECT_TRUE(html.contains(QRegularExpression(QStringLiteral("<span[^>]*>Zebra</span>"))))
      << html.toStdString();
  EXPECT_TRUE(html.contains(QStringLiteral("&lt;b&gt;"))) << html.toStdString();
  EXPECT_FALSE(html.contains(QStringLiteral("<b>"))) << html.toStdString();

  auto* from = Widget<QLineEdit>(*frm, "FromEdt");
  from->setText(QStringLiteral("carol"));
  ASSERT_TRUE(WaitFor([&] { return results->topLevelItemCount() == 0; }));
  from->setText(QStringLiteral("alice"));
  ASSERT_TRUE(WaitFor([&] { return results->topLevelItemCount() == 1; }));

  results->setFocus();
  results->setCurrentItem(results->topLevelItem(0));
  QTest::keyClick(results, Qt::Key_Return);
  auto* context = Widget<QTextEdit>(*frm, "ContextTxt");
  ASSERT_TRUE(WaitFor([&] { return context->toPlainText().contains(QStringLiteral("Zebra")); }));
  const QString around = context->toPlainText();
  EXPECT_TRUE(around.contains(QStringLiteral("<b>Zebra</b> crossing & more")));
  EXPECT_TRUE(around.contains(QStringLiteral("ordinary message 5\n")));
  EXPECT_TRUE(around.contains(QStringLiteral("ordinary message 25")));
  EXPECT_FALSE(around.contains(QStringLiteral("ordinary message 4\n")));
  EXPECT_FALSE(around.contains(QStringLiteral("ordinary message 26")));

  QTest::keyClick(results, Qt::Key_Escape);
  EXPECT_FALSE(frm->isVisible());
}

// History off: the window shows and stores nothing, and makes no file.
TEST_F(HistoryTest, HistoryOffStoresNothing) {
  Store()->WriteText("Settings", "History", "0");
  app::TPlingFrm& w = Start();
  Action(w, "Popup1")->trigger();
  w.PlingMessage("BOB", "ALICE", "not kept");
  w.History().PruneIfDue();
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount() > 0, true);
  EXPECT_FALSE(std::filesystem::exists(history::DefaultPath()));
}

// "Keep history" in the Start menu: off stops the writing at once, on starts it
// again; each choice is in the settings file at once and still there after the
// window's own save at exit.
TEST_F(HistoryTest, KeepHistoryItemStopsAndStartsTheWritingAndIsStored) {
  app::TPlingFrm& w = Start();
  Action(w, "Popup1")->trigger();
  QAction* keep = Action(w, "KeepHistory1");
  ASSERT_TRUE(keep->isCheckable());
  EXPECT_TRUE(keep->isChecked());
  w.PlingMessage("BOB", "ALICE", "kept before");
  keep->trigger();
  EXPECT_FALSE(keep->isChecked());
  EXPECT_EQ(Store()->ReadText("Settings", "History", ""), "0");
  w.PlingMessage("BOB", "ALICE", "shown while off");
  keep->trigger();
  EXPECT_TRUE(keep->isChecked());
  EXPECT_EQ(Store()->ReadText("Settings", "History", ""), "1");
  w.PlingMessage("BOB", "ALICE", "kept after");
  w.History().Flush();
  auto reader = Reader();
  ASSERT_TRUE(reader);
  EXPECT_EQ(Find(*reader, "kept").size(), 2u);
  EXPECT_TRUE(Find(*reader, "off").empty());
  EXPECT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().contains(QStringLiteral("off")));
  keep->trigger();
  w.close();
  EXPECT_EQ(Store()->ReadText("Settings", "History", ""), "0");
}

// A store that cannot be had: told once, with its path; messages are shown all the same.
TEST_F(HistoryTest, AStoreThatCannotBeOpenedIsToldOnceAndReceivingGoesOn) {
  const std::string blocker = Root() + "/data";
  std::filesystem::create_directories(Root());
  { std::ofstream(blocker) << "not a folder"; }
  app::TPlingFrm& w = Start();
  Action(w, "Popup1")->trigger();
  w.PlingMessage("BOB", "ALICE", "first");
  ASSERT_TRUE(WaitFor([&] { return !FMessages.isEmpty(); }));
  w.PlingMessage("BOB", "ALICE", "second");
  w.History().PruneIfDue();
  w.History().Flush();
  QCoreApplication::processEvents();
  ASSERT_EQ(FMessages.size(), 1);
  EXPECT_TRUE(FMessages[0].contains(QString::fromStdString(history::DefaultPath())))
      << FMessages[0].toStdString();
  EXPECT_TRUE(
      Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().contains(QStringLiteral("second")));
}

}  // namespace
}  // namespace pling::testing
