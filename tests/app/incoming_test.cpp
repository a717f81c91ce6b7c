// SPDX-License-Identifier: GPL-3.0-or-later
// What an incoming message does to the window: the duplicate filter, the
// automatic add, the sound, and the received pane's layout (separators,
// timestamps, line-break markers) and its 1000-line limit.
#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <memory>
#include <string>
#include <vector>

#include "app_fixture.h"

namespace pling::testing {
namespace {

// Two panes' lines alike; else where they first differ.
::testing::AssertionResult SameLines(const QStringList& a, const QStringList& b) {
  for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
    const QString left = i < a.size() ? a[i] : QStringLiteral("(none)");
    const QString right = i < b.size() ? b[i] : QStringLiteral("(none)");
    if (left != right) {
      return ::testing::AssertionFailure()
             << "line " << i << " of " << a.size() << "/" << b.size() << ": \""
             << left.left(80).toStdString() << "\" vs \"" << right.left(80).toStdString() << "\"";
    }
  }
  return ::testing::AssertionSuccess();
}

class IncomingTest : public AppTest {
 protected:
  app::TPlingFrm& StartCounting() {
    app::TPlingFrm& w = Start();
    w.MessageBeep = [this] { ++FBeeps; };
    return w;
  }
  static QStringList Lines(const app::TPlingFrm& w) {
    return Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().split(QLatin1Char('\n'));
  }
  // The pane's display lines counted the slow way: every block laid out anew at
  // the pane's present width. Call it after LineCount(): it lays blocks out.
  static int DisplayLines(const app::TMemo& memo) {
    int count = 0;
    const QTextDocument* doc = memo.document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
      if (!b.next().isValid() && b.text().isEmpty()) break;
      b.clearLayout();
      doc->documentLayout()->blockBoundingRect(b);
      count += std::max(b.layout()->lineCount(), 1);
    }
    return count;
  }

  int FBeeps = 0;
};

TEST_F(IncomingTest, RepeatsAreShownOnceButOnlyTheLastShownMessageIsRemembered) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Timestamps1")->trigger();
  Action(w, "Seperators1")->trigger();
  Action(w, "Popup1")->trigger();
  Action(w, "Playincoming1")->trigger();
  ASSERT_TRUE(Action(w, "Playincoming1")->isChecked());

  for (int i = 0; i < 3; ++i) w.PlingMessage("BOB", "ALICE", "hello");
  EXPECT_EQ(Lines(w), QStringList{"ALICE to BOB : hello"});
  EXPECT_EQ(FBeeps, 1) << "one sound for three copies";
  Expire(Timer(w, "StatusTmr"));
  w.PlingMessage("BOB", "ALICE", "hello");
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), w.RestingStatus())
      << "a repeat shows no status text";

  // A, B, A: all three shown. Letter case makes another message.
  w.PlingMessage("BOB", "ALICE", "other");
  w.PlingMessage("BOB", "ALICE", "hello");
  w.PlingMessage("BOB", "ALICE", "HELLO");
  // The fields are joined without a separator: "ab"+"c" and "a"+"bc" are one key.
  w.PlingMessage("c", "X", "ab");
  w.PlingMessage("bc", "X", "a");
  EXPECT_EQ(Lines(w), (QStringList{"ALICE to BOB : hello", "ALICE to BOB : other",
                                   "ALICE to BOB : hello", "ALICE to BOB : HELLO", "X to c : ab"}));
  EXPECT_EQ(FBeeps, 5);

  // Clearing the pane does not forget the last message.
  Action(w, "Clear1")->trigger();
  w.PlingMessage("c", "X", "ab");
  EXPECT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().isEmpty());
}

TEST_F(IncomingTest, SendersJoinTheListNormalisedAndOnlyOnce) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Popup1")->trigger();
  Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QStringLiteral("Carol"));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, true);
  w.PlingMessage("BOB", "jONES", "1");
  w.PlingMessage("BOB", "CAROL", "2");
  w.PlingMessage("BOB", "jones", "3");
  w.PlingMessage("BOB", "", "4");
  w.PlingMessage("BOB", "", "5");
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(), (QStringList{"", "Carol", "Jones"}));
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->SelCount(), 1);
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(1))
      << "the selection stays on Carol";

  Action(w, "Automaticadd1")->trigger();  // off
  w.PlingMessage("BOB", "dave", "6");
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 3);
}

TEST_F(IncomingTest, AutomaticAddStopsAtAThousandNamesAndSaysSoOnce) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Popup1")->trigger();
  for (int i = 0; i < 998; ++i)
    Widget<app::TListBox>(w, "ReceiversLbx")
        ->AddItem(QStringLiteral("R%1").arg(i, 4, 10, QChar('0')));
  w.PlingMessage("ME", "NEW1", "1");
  w.PlingMessage("ME", "new1", "2");  // already there, in another case
  w.PlingMessage("ME", "NEW2", "3");
  ASSERT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 1000);
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Incoming"));
  // The list is full: senders are no longer added, and the status line says so
  // once.
  w.PlingMessage("ME", "NEW3", "4");
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 1000);
  EXPECT_FALSE(Widget<app::TListBox>(w, "ReceiversLbx")->Items().contains("New3"));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("List full: 1000 names"));
  Expire(Timer(w, "StatusTmr"));
  w.PlingMessage("ME", "NEW4", "5");
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Incoming"));
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 1000);
  // "Add" has no bound.
  QStringList typed{QStringLiteral("manual")};
  w.InputQuery = [&typed](const QString&, const QString&, QString& value) {
    value = typed.takeFirst();
    return true;
  };
  Action(w, "Add1")->trigger();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 1001);
  // Below the bound again, senders join again; a name taken out of the list,
  // or a list cleared, is not there any more.
  app::TListBox* list = Widget<app::TListBox>(w, "ReceiversLbx");
  for (const QString name : {"Manual", "New1"})
    delete list->takeItem(static_cast<int>(list->Items().indexOf(name)));
  for (int i = 0; i < 8; ++i) delete list->takeItem(list->count() - 1);
  ASSERT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 991);
  w.PlingMessage("ME", "MANUAL", "6");
  w.PlingMessage("ME", "NEW1", "7");
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 993);
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Items().contains("Manual"));
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Items().contains("New1"));
  Widget<app::TListBox>(w, "ReceiversLbx")->clear();
  w.PlingMessage("ME", "NEW1", "8");
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(), QStringList{"New1"});
}

TEST_F(IncomingTest, SeparatorsTimestampsAndMarkersLayOutThePane) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Popup1")->trigger();
  Action(w, "Timestamps1")->trigger();  // off
  const QString dashes(30, QLatin1Char('-'));

  // One line in the pane is not yet enough for a separator.
  w.PlingMessage("BOB", "ALICE", "one");
  w.PlingMessage("BOB", "ALICE", "two");
  w.PlingMessage("BOB", "ALICE", "");
  EXPECT_EQ(Lines(w),
            (QStringList{"ALICE to BOB : one", "ALICE to BOB : two", dashes, "ALICE to BOB : "}));

  // Markers break the text and leave out the header; markup and control
  // characters are shown as they are.
  Action(w, "Clear1")->trigger();
  w.PlingMessage("BOB", "ALICE", "a\xB6<b>b</b>\xB6\x1B[31mc");
  EXPECT_EQ(Lines(w), (QStringList{"a", "<b>b</b>", "\x1B[31mc"}));
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(), 3);
  // A line after a marker holds at most 999 characters; the rest of it goes on
  // in further lines, and nothing is lost.
  Action(w, "Clear1")->trigger();
  const std::string head(1200, 'h'), body(2500, 'b'), tail(999, 't');
  w.PlingMessage("BOB", "ALICE", head + "\xB6" + body + "\xB6" + tail + "\xB6");
  EXPECT_EQ(Lines(w),
            (QStringList{QString::fromStdString(head), QString(999, 'b'), QString(999, 'b'),
                         QString(502, 'b'), QString::fromStdString(tail), ""}));

  // With timestamps: the first message writes two lines, the next one comes
  // under a separator. The stamp is today's short date and a time.
  Action(w, "Clear1")->trigger();
  Action(w, "Timestamps1")->trigger();  // on
  w.PlingMessage("BOB", "ALICE", "three");
  w.PlingMessage("BOB", "ALICE", "four");
  const QStringList lines = Lines(w);
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[1], QStringLiteral("ALICE to BOB : three"));
  EXPECT_EQ(lines[2], dashes);
  EXPECT_EQ(lines[4], QStringLiteral("ALICE to BOB : four"));
  const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
  for (const QString& stamp : {lines[0], lines[3]}) {
    EXPECT_TRUE(stamp.startsWith(today + QLatin1Char(' ')) || stamp == today)
        << stamp.toStdString();
    EXPECT_TRUE(stamp.contains(QRegularExpression(QStringLiteral("\\d:\\d\\d:\\d\\d"))))
        << "the long time, with seconds: " << stamp.toStdString();
  }
}

TEST_F(IncomingTest, ThePaneKeepsTheLastThousandLinesAlsoPartwayThroughAMessage) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Popup1")->trigger();
  Action(w, "Timestamps1")->trigger();
  Action(w, "Seperators1")->trigger();
  w.PlingMessage("BOB", "ALICE", "first\xB6second\xB6third");
  for (int i = 0; i < 997; ++i) w.PlingMessage("BOB", "ALICE", std::to_string(i));
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(), 1000);
  EXPECT_EQ(Lines(w).first(), QStringLiteral("first"));
  w.PlingMessage("BOB", "ALICE", "next");
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(), 1000);
  EXPECT_EQ(Lines(w).first(), QStringLiteral("second")) << "the oldest line went, not the message";
  w.PlingMessage("BOB", "ALICE", "x\xB6y\xB6z");
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(), 1000);
  EXPECT_EQ(Lines(w).first(), QStringLiteral("ALICE to BOB : 1"));
  EXPECT_EQ(Lines(w).last(), QStringLiteral("z"));
}

TEST_F(IncomingTest, WhileWrappingTheLimitCountsDisplayLinesAtThePanesWidth) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Popup1")->trigger();
  Action(w, "Timestamps1")->trigger();
  Action(w, "Seperators1")->trigger();
  w.resize(448, 400);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  Action(w, "RecvLinewrap")->trigger();
  ASSERT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->WordWrap());
  const std::string words =
      "a line long enough to wrap at least once in a pane of this width, "
      "and then some more words to be sure of it";
  for (int i = 0; i < 600; ++i) w.PlingMessage("BOB", "ALICE", std::to_string(i) + " " + words);
  const int counted = Widget<app::TMemo>(w, "ReceivedMmo")->LineCount();
  const int shown = DisplayLines(*Widget<app::TMemo>(w, "ReceivedMmo"));
  EXPECT_EQ(counted, shown);
  EXPECT_EQ(shown, 1000) << "trimmed by display lines, also partway through a message";
  EXPECT_LT(Widget<app::TMemo>(w, "ReceivedMmo")->blockCount(), 600)
      << "messages wrapped into several lines each";

  // Wider, the same text takes fewer lines; the count follows at once.
  w.resize(1200, 400);
  QCoreApplication::processEvents();
  const int widerCounted = Widget<app::TMemo>(w, "ReceivedMmo")->LineCount();
  const int wider = DisplayLines(*Widget<app::TMemo>(w, "ReceivedMmo"));
  EXPECT_LT(wider, shown);
  EXPECT_EQ(widerCounted, wider);
  Action(w, "RecvLinewrap")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(),
            Widget<app::TMemo>(w, "ReceivedMmo")->blockCount());
}

TEST_F(IncomingTest, WhileWrappingAMessageLongerThanThePaneKeepsItsLastThousandLines) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Popup1")->trigger();
  w.resize(448, 400);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  Action(w, "RecvLinewrap")->trigger();
  w.PlingMessage("BOB", "ALICE", "before");
  std::string text;
  for (int i = 0; i < 12000; ++i) text += "w" + std::to_string(i) + " ";
  w.PlingMessage("BOB", "ALICE", text + "end");
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(), 1000);
  EXPECT_EQ(DisplayLines(*Widget<app::TMemo>(w, "ReceivedMmo")), 1000);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->blockCount(), 1)
      << "only the rest of the long message is left";
  const QString kept = Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText();
  EXPECT_TRUE(kept.endsWith(QStringLiteral("w11999 end"))) << "the newest lines stay";
  EXPECT_TRUE(kept.startsWith(QLatin1Char('w'))) << "cut where a display line began";
}

// A batch of messages ends in the pane exactly as the same messages shown one
// at a time would (duplicates, automatic add, separators from the pane's first
// lines on, markers, the 1000-line limit partway through a message, with and
// without wrapping), but the pane takes it in one edit and one trim, and the
// sound, the status line and the pop-up come once.
TEST_F(IncomingTest, ABatchIsShownInOneEditAndSignalledOnceAsItsMessagesWouldBeOneByOne) {
  app::TPlingFrm& w = StartCounting();
  app::TPlingFrm single(nullptr, std::make_unique<tray::testing::FakeShell>(FShellRecord));
  std::vector<net::TMessengerMessage> batch;
  const auto add = [&](const std::string& sender, const std::string& text) {
    batch.push_back({sender, "BOB", text});
  };
  add("alice", "one");
  add("ALICE", "two");
  add("ALICE", "two");  // shown once
  add("carol", "");
  add("carol", "x\xB6" + std::string(2500, 'y') + "\xB6z");
  for (int i = 0; i < 350; ++i) {
    const std::string n = std::to_string(i);
    add("h" + std::to_string(i % 7), i % 2 ? "message " + n
                                           : n + "\xB6"
                                                 "a\xB6"
                                                 "b\xB6"
                                                 "c");
  }
  add("dave", "last\xB6" + std::string(1500, 'w') + "\xB6" + "end");
  // The pane's text; time stamps differ only where a second went by between the
  // two windows.
  const auto lines = [](const app::TPlingFrm& window) {
    QStringList result =
        Widget<app::TMemo>(window, "ReceivedMmo")->toPlainText().split(QLatin1Char('\n'));
    const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    for (QString& line : result)
      if (line.startsWith(today)) line = QStringLiteral("<stamp>");
    return result;
  };
  Action(w, "Playincoming1")->trigger();
  ASSERT_TRUE(Action(w, "Playincoming1")->isChecked());
  // Without wrapping and with time stamps; wrapping without them (the pane's
  // first line then decides the second message's separator: the first one goes
  // in alone).
  for (const bool wrap : {false, true}) {
    SCOPED_TRACE(wrap ? "wrap on, no time stamps" : "wrap off, time stamps");
    for (app::TPlingFrm* window : {&w, &single}) {
      if (Action(*window, "Timestamps1")->isChecked() == wrap)
        Action(*window, "Timestamps1")->trigger();
      window->resize(448, 400);
      window->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
      if (Action(*window, "RecvLinewrap")->isChecked() != wrap)
        Action(*window, "RecvLinewrap")->trigger();
      Action(*window, "Clear1")->trigger();
      Widget<app::TListBox>(*window, "ReceiversLbx")->clear();
      window->PlingMessage("BOB", "X", "reset the duplicate filter");
      Action(*window, "Clear1")->trigger();
      window->hide();
    }
    ASSERT_FALSE(w.isVisible());
    for (const auto& m : batch) single.PlingMessage(m.receiver, m.sender, m.text);

    const int beeps = FBeeps;
    int edits = 0;
    const auto counter = QObject::connect(Widget<app::TMemo>(w, "ReceivedMmo")->document(),
                                          &QTextDocument::contentsChange, [&edits] { ++edits; });
    Expire(Timer(w, "StatusTmr"));
    w.PlingMessages(batch);
    QObject::disconnect(counter);
    EXPECT_TRUE(SameLines(lines(w), lines(single)));
    EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(), 1000);
    EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
              Widget<app::TListBox>(single, "ReceiversLbx")->Items());
    EXPECT_EQ(edits, wrap ? 3 : 2);
    EXPECT_EQ(FBeeps, beeps + 1);
    EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Incoming"));
    EXPECT_TRUE(w.isVisible()) << "popped up";

    // Into a full pane: one edit for the batch and one for the trim.
    edits = 0;
    const auto counter2 = QObject::connect(Widget<app::TMemo>(w, "ReceivedMmo")->document(),
                                           &QTextDocument::contentsChange, [&edits] { ++edits; });
    const std::vector<net::TMessengerMessage> more(batch.end() - 40, batch.end());
    w.PlingMessages(more);
    for (const auto& m : more) single.PlingMessage(m.receiver, m.sender, m.text);
    QObject::disconnect(counter2);
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->LineCount(), 1000);
    EXPECT_EQ(Widget<app::TMemo>(single, "ReceivedMmo")->LineCount(), 1000);
    EXPECT_EQ(DisplayLines(*Widget<app::TMemo>(w, "ReceivedMmo")), 1000);
    EXPECT_EQ(DisplayLines(*Widget<app::TMemo>(single, "ReceivedMmo")), 1000);
    EXPECT_TRUE(SameLines(lines(w), lines(single)));
    EXPECT_EQ(FBeeps, beeps + 2);
  }
  // A batch of repeats only shows nothing and signals nothing.
  Expire(Timer(w, "StatusTmr"));
  const int beeps = FBeeps;
  const QString before = Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText();
  const QString resting = Widget<app::TColorLabel>(w, "StatusLbl")->text();
  w.PlingMessages({batch.back(), batch.back()});
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText(), before);
  EXPECT_EQ(FBeeps, beeps);
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), resting);
}

// Messages that wait in the window's mailslot are taken by the messenger in
// batches and each batch is shown with one sound.
TEST_F(IncomingTest, MessagesWaitingInTheMailslotAreShownBatchByBatch) {
  app::TPlingFrm& w = StartCounting();
  Action(w, "Popup1")->trigger();
  Action(w, "Timestamps1")->trigger();
  Action(w, "Seperators1")->trigger();
  Action(w, "Playincoming1")->trigger();
  int batchEnds = 0;
  const auto shown = w.Messenger().OnBatchEnd;
  w.Messenger().OnBatchEnd = [&](runtime::TComponent& sender) {
    ++batchEnds;
    shown(sender);
  };
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  QStringList expected;
  for (int i = 0; i < 200; ++i) {
    const std::string sender = "HOST" + std::to_string(i);
    ASSERT_TRUE(mailslot::WriteMailSlot(
        ".", mailslot::MessengerSlotName,
        mailslot::EncodeMessengerDatagram(sender, "BOB", "text " + std::to_string(i))));
    expected << QString::fromStdString(sender + " to BOB : text " + std::to_string(i));
  }
  ASSERT_TRUE(WaitFor([&] { return Lines(w).size() == 200; }));
  EXPECT_EQ(Lines(w), expected);
  EXPECT_GE(batchEnds, 1);
  EXPECT_EQ(FBeeps, batchEnds);
  // Each sender is new: automatic add takes the first ones a minute allows.
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), app::kAutoAddsPerMinute);
}

}  // namespace
}  // namespace pling::testing
