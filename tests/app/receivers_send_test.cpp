// SPDX-License-Identifier: GPL-3.0-or-later
// Receivers list commands, the server choice and sending from the window, with
// the messages caught by a listener on this machine's messenger mailslot.
#include <QAction>
#include <QKeyEvent>
#include <deque>
#include <string>

#include "app_fixture.h"
#include "mailslot/lxMailSlot.h"
#include "platform/identity.h"

namespace pling::testing {
namespace {

class SendTest : public AppTest {
 protected:
  // Answers the window's input dialogs in turn; "" with false is Cancel.
  void Answer(std::deque<std::pair<bool, QString>> answers) {
    FAnswers = std::move(answers);
    Window().InputQuery = [this](const QString& caption, const QString& prompt, QString& value) {
      FAsked << caption + QLatin1Char('/') + prompt + QLatin1Char('=') + value;
      if (FAnswers.empty()) return false;
      auto [ok, text] = FAnswers.front();
      FAnswers.pop_front();
      if (ok) value = text;
      return ok;
    };
  }
  // Listens on this machine's messenger mailslot.
  void Listen() {
    FListener = &FListenerOwner.CreateComponent<mailslot::TlxPling>();
    FListener->OnMessage = [this](runtime::TComponent&, std::string r, std::string s,
                                  std::string m) {
      FReceived.push_back({s, r, m});
    };
    FListener->Open();
  }
  bool WaitForMessages(std::size_t count) {
    return WaitFor([&] { return FReceived.size() >= count; });
  }

  struct Message {
    std::string Sender, Reciever, Text;
  };
  std::deque<std::pair<bool, QString>> FAnswers;
  QStringList FAsked;
  runtime::TComponent FListenerOwner;
  mailslot::TlxPling* FListener = nullptr;
  std::vector<Message> FReceived;
};

TEST_F(SendTest, AddNormalisesAndSelectsOnlyWhenNothingIsSelected) {
  app::TPlingFrm& w = Start();
  Answer({{true, "bOB"}, {true, "bob"}, {true, "dave"}, {false, "zed"}, {true, ""}});
  Action(w, "Add1")->trigger();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(), QStringList{QStringLiteral("Bob")});
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(0));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, false);
  Action(w, "Add2")->trigger();  // bob again: nothing added, but selected since nothing was
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 1);
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(0));
  Action(w, "Add1")->trigger();  // dave while Bob is selected
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
            (QStringList{QStringLiteral("Bob"), QStringLiteral("Dave")}));
  EXPECT_FALSE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(1));
  Action(w, "Add1")->trigger();  // cancelled
  Action(w, "Add1")->trigger();  // empty
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 2);
  EXPECT_EQ(FAsked.first(), QStringLiteral("Add/Receiver="));
}

TEST_F(SendTest, SendGoesToEverySelectedReceiverDirectlyOrThroughTheServer) {
  Listen();
  app::TPlingFrm& w = Start();
  // "." names this machine, so the datagrams reach the listener.
  for (const char* name : {".", "..", "zz"})
    Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QString::fromLatin1(name));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, true);
  Widget<app::TListBox>(w, "ReceiversLbx")
      ->SetSelected(1, true);  // ".." is no machine: written nowhere, not reported
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("line one\nline two"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(FReceived[0].Sender, platform::GetComputerName());
  EXPECT_EQ(FReceived[0].Reciever, ".");
  EXPECT_EQ(FReceived[0].Text, "line one\r\nline two") << "one datagram with its line breaks";
  EXPECT_TRUE(FMessages.isEmpty());

  // Through a server: written to the server, the user as sender.
  Answer({{true, "."}});
  Action(w, "Useserver1")->trigger();
  ASSERT_TRUE(Action(w, "Useserver1")->isChecked());
  EXPECT_EQ(Action(w, "servername1")->text(), QStringLiteral("."));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, false);
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(1, false);
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(2, true);
  Widget<app::TMemo>(w, "SendMmo")->moveCursor(QTextCursor::End);  // no selection in the pane
  Action(w, "Sendselection2")->trigger();  // nothing selected in the pane: "What" is asked
  EXPECT_EQ(FAsked.size(), 2);             // the server name, then "What"
  EXPECT_EQ(FAsked.last(), QStringLiteral("Send/What="));
  EXPECT_TRUE(FReceived.size() == 1) << "the cancelled What sends nothing";
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Nothing to send"));
  Answer({{true, "via server"}});
  Action(w, "Send3")->trigger();
  ASSERT_TRUE(WaitForMessages(2));
  EXPECT_EQ(FReceived[1].Sender, platform::GetUserName());
  EXPECT_EQ(FReceived[1].Reciever, "zz");
  EXPECT_EQ(FReceived[1].Text, "via server");
  EXPECT_TRUE(
      Widget<app::TMemo>(w, "SendMmo")->toPlainText().endsWith(QStringLiteral("\nvia server")))
      << "the typed text is appended to the send pane";

  // "Use server" while checked: unchecked at once, the name stays.
  Action(w, "Useserver1")->trigger();
  EXPECT_FALSE(Action(w, "Useserver1")->isChecked());
  EXPECT_EQ(Action(w, "servername1")->text(), QStringLiteral("."));
  Answer({{false, ""}});
  Action(w, "Useserver1")->trigger();  // the name dialog cancelled: stays unchecked
  EXPECT_FALSE(Action(w, "Useserver1")->isChecked());
}

TEST_F(SendTest, EnterSendsTheWholeLineThenBreaksIt) {
  Listen();
  app::TPlingFrm& w = Start();
  Widget<app::TListBox>(w, "ReceiversLbx")
      ->SetSelected(Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QStringLiteral(".")), true);
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("first\nhello world"));
  QTextCursor cursor = Widget<app::TMemo>(w, "SendMmo")->textCursor();
  cursor.setPosition(static_cast<int>(QStringLiteral("first\nhello").size()));
  Widget<app::TMemo>(w, "SendMmo")->setTextCursor(cursor);
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Return);
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(FReceived[0].Text, "hello world");
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(),
            QStringLiteral("first\nhello\n world"));
  // Shift+Enter the same: a line break of the pane, not a line separator inside
  // the line (which no code page holds, and which would send the line again).
  Widget<app::TMemo>(w, "SendMmo")->moveCursor(QTextCursor::End);
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Return, Qt::ShiftModifier);
  QTest::keyClicks(Widget<app::TMemo>(w, "SendMmo"), QStringLiteral("next"));
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Return);
  ASSERT_TRUE(WaitForMessages(3));
  EXPECT_EQ(FReceived[1].Text, " world");
  EXPECT_EQ(FReceived[2].Text, "next");
  EXPECT_FALSE(
      Widget<app::TMemo>(w, "SendMmo")->document()->toRawText().contains(QChar::LineSeparator));
  // Line separators in pasted text go as line breaks too.
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("one\u2028two"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  ASSERT_TRUE(WaitForMessages(4));
  EXPECT_EQ(FReceived[3].Text, "one\r\ntwo");
  // Without "Automatic send", Enter only breaks the line.
  Action(w, "Automaticsend1")->trigger();
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Return);
  QTest::qWait(100);
  EXPECT_EQ(FReceived.size(), 4u);
}

TEST_F(SendTest, WithoutReceiversTheAddDialogComesFirst) {
  app::TPlingFrm& w = Start();
  Answer({{false, ""}});
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("hi"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  EXPECT_EQ(FAsked, QStringList{QStringLiteral("Add/Receiver=")});
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("No receiver selected"));
}

}  // namespace
}  // namespace pling::testing

namespace pling::testing {
namespace {

TEST_F(SendTest, ReceiversThatCannotBeReachedAreNamedAndTheSendGoesOn) {
  Listen();
  app::TPlingFrm& w = Start();
  // Machines of these names cannot be reached from here; "." can.
  for (const char* name : {"Amber", ".", "Zed"})
    Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QString::fromLatin1(name));
  for (int i = 0; i < 3; ++i) Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(i, true);
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("hi"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(FReceived[0].Reciever, ".");
  const QString status = Widget<app::TColorLabel>(w, "StatusLbl")->text();
  // With the reason, which the tooltip holds too.
  const QString why =
      QStringLiteral(": ") +
      QString::fromStdString(mailslot::WriteFailureText(platform::ERROR_BAD_NETPATH));
  EXPECT_TRUE(status == QStringLiteral("Not sent to Amber, Zed") + why ||
              status == QStringLiteral("Not sent to Zed, Amber") + why)
      << status.toStdString();
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->toolTip(), status);

  // Characters the code page lacks go as "?", and the status line says so.
  for (int i = 0; i < 3; ++i)
    Widget<app::TListBox>(w, "ReceiversLbx")
        ->SetSelected(
            i, Widget<app::TListBox>(w, "ReceiversLbx")->item(i)->text() == QStringLiteral("."));
  Widget<app::TMemo>(w, "SendMmo")
      ->setPlainText(QString::fromUtf8("snow \u2603 in \u6771\u4eac \xF0\x9F\x98\x80 caf\u00e9"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  ASSERT_TRUE(WaitForMessages(2));
  EXPECT_EQ(FReceived[1].Text, "snow ? in ?? ? caf\xE9");
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("Some characters could not be sent and went as \"?\""));

  // A plain text sent well leaves the status line alone.
  Expire(Timer(w, "StatusTmr"));
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("plain"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  ASSERT_TRUE(WaitForMessages(3));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), w.RestingStatus());

  // Through a server on this machine every selected receiver gets one datagram,
  // in the list's order, whatever order they were added or selected in.
  Answer({{true, "."}});
  Action(w, "Useserver1")->trigger();
  Widget<app::TListBox>(w, "ReceiversLbx")->clear();
  for (const char* name : {"carol", "Bob", "alice"})
    Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(name);
  ASSERT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
            (QStringList{"alice", "Bob", "carol"}));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(2, true);
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(1, true);
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  ASSERT_TRUE(WaitForMessages(5));
  EXPECT_EQ(FReceived[3].Reciever, "Bob");
  EXPECT_EQ(FReceived[4].Reciever, "carol");
  EXPECT_EQ(FReceived.size(), 5u) << "alice was not selected";
}

}  // namespace
}  // namespace pling::testing

#include <cstdlib>
#include <thread>

namespace pling::testing {
namespace {

TEST_F(SendTest, MessagesArrivingDuringANameLookupDoNotChangeWhoGetsTheSend) {
  if (!OnlyLoopback()) GTEST_SKIP() << "needs a network namespace of its own (root)";
  // The transport on, in this namespace without a network: names are looked up
  // (and not found) while the window goes on taking incoming messages.
  // A veth pair with both ends in this namespace gives the queries a broadcast
  // address that leads nowhere else.
  if (std::system("ip link add pling0 type veth peer name pling1 && "
                  "ip addr add 10.96.0.1/24 brd + dev pling0 && ip link set pling1 up && "
                  "ip link set pling0 up") != 0) {
    GTEST_SKIP() << "cannot make a veth pair here";
  }
  const NetworkOnInThisNamespace network;
  app::TPlingFrm& w = Start();
  Action(w, "Activate1")->trigger();
  ASSERT_TRUE(w.Messenger().Active());
  for (const char* name : {"Nobody", "Zed"})
    Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QString::fromLatin1(name));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, true);
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(1, true);
  // A sender that sorts before both joins the list while the first lookup runs.
  std::thread incoming([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    mailslot::WriteMailSlot(".", mailslot::MessengerSlotName,
                            mailslot::EncodeMessengerDatagram("AARON", "ME", "hello"));
  });
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("hi"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  incoming.join();
  ASSERT_TRUE(WaitFor([&] { return Widget<app::TListBox>(w, "ReceiversLbx")->count() == 3; }));
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
            (QStringList{"Aaron", "Nobody", "Zed"}));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("Not sent to Nobody, Zed: ") +
                QString::fromStdString(mailslot::WriteFailureText(platform::ERROR_BAD_NETPATH)))
      << "each selected receiver once, in the order they had";
}

}  // namespace
}  // namespace pling::testing

#include <QMenu>
#include <QWindow>

namespace pling::testing {
namespace {

// A right click as the platform delivers it: press and release through the
// window, which also sends the context-menu event.
void RightClick(app::TPlingFrm& w, const QPoint& inList) {
  QWidget* viewport = Widget<app::TListBox>(w, "ReceiversLbx")->viewport();
  const QPoint at = viewport->mapTo(&w, inList);
  QTest::mouseMove(w.windowHandle(), at);
  QTest::mousePress(w.windowHandle(), Qt::RightButton, {}, at);
  QTest::mouseRelease(w.windowHandle(), Qt::RightButton, {}, at);
}

QPoint ItemCenter(const app::TPlingFrm& w, int row) {
  return Widget<app::TListBox>(w, "ReceiversLbx")
      ->visualItemRect(Widget<app::TListBox>(w, "ReceiversLbx")->item(row))
      .center();
}

TEST_F(SendTest, ARightClickNeverChangesWhoIsSelected) {
  Listen();
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  // Through a server on this machine, every receiver's datagram reaches the listener.
  Action(w, "Useserver1")->setChecked(true);
  Action(w, "servername1")->setText(QStringLiteral("."));
  for (const char* name : {"Alice", "Bob", "Carol", "Jones"})
    Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(name);
  const auto selected = [&] {
    QStringList names;
    for (int i = 0; i < Widget<app::TListBox>(w, "ReceiversLbx")->count(); ++i)
      if (Widget<app::TListBox>(w, "ReceiversLbx")->Selected(i))
        names << Widget<app::TListBox>(w, "ReceiversLbx")->item(i)->text();
    return names;
  };

  // Bob selected; right-click on Carol, Delete: Carol goes, Bob stays selected,
  // and Enter sends to Bob.
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(1, true);
  RightClick(w, ItemCenter(w, 2));
  ASSERT_TRUE(WaitFor([&] { return Menu(w, "ReceiversMnu")->isVisible(); })) << "the menu opens";
  EXPECT_EQ(selected(), QStringList{"Bob"});
  QTest::keyClick(Menu(w, "ReceiversMnu"), Qt::Key_D);
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
            (QStringList{"Alice", "Bob", "Jones"}));
  EXPECT_EQ(selected(), QStringList{"Bob"});
  Widget<app::TMemo>(w, "SendMmo")->setFocus();
  QTest::keyClicks(Widget<app::TMemo>(w, "SendMmo"), QStringLiteral("to bob"));
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Return);
  ASSERT_TRUE(WaitForMessages(1)) << Widget<app::TColorLabel>(w, "StatusLbl")->text().toStdString();
  EXPECT_EQ(FReceived[0].Reciever, "Bob");

  // Alice and Bob selected; right-click on Jones, Send: to Alice and Bob only.
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, true);
  RightClick(w, ItemCenter(w, 2));
  ASSERT_TRUE(WaitFor([&] { return Menu(w, "ReceiversMnu")->isVisible(); }));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  QTest::keyClick(Menu(w, "ReceiversMnu"), Qt::Key_S);
  ASSERT_TRUE(WaitForMessages(3));
  QTest::qWait(100);
  ASSERT_EQ(FReceived.size(), 3u);
  EXPECT_EQ(FReceived[1].Reciever, "Alice");
  EXPECT_EQ(FReceived[2].Reciever, "Bob");

  // A right click on another receiver, then Escape; a right click below the
  // last item: the selection stays each time.
  RightClick(w, ItemCenter(w, 2));
  ASSERT_TRUE(WaitFor([&] { return Menu(w, "ReceiversMnu")->isVisible(); }));
  QTest::keyClick(Menu(w, "ReceiversMnu"), Qt::Key_Escape);
  EXPECT_EQ(selected(), (QStringList{"Alice", "Bob"}));
  RightClick(w, QPoint(5, Widget<app::TListBox>(w, "ReceiversLbx")->viewport()->height() - 3));
  ASSERT_TRUE(WaitFor([&] { return Menu(w, "ReceiversMnu")->isVisible(); }));
  QTest::keyClick(Menu(w, "ReceiversMnu"), Qt::Key_Escape);
  EXPECT_EQ(selected(), (QStringList{"Alice", "Bob"}));
  // A left click still selects as ever.
  QTest::mouseClick(Widget<app::TListBox>(w, "ReceiversLbx")->viewport(), Qt::LeftButton, {},
                    ItemCenter(w, 2));
  EXPECT_EQ(selected(), QStringList{"Jones"});
}

TEST_F(SendTest, EditAndDeleteActOnTheItemTheMenuOpenedFor) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  auto* list = Widget<app::TListBox>(w, "ReceiversLbx");
  for (const char* name : {"Bob", "Carol", "Dave"}) list->AddItem(QString::fromLatin1(name));
  list->SetSelected(0, true);
  // The Start menu acts on the current item: Carol.
  list->selectionModel()->setCurrentIndex(list->model()->index(1, 0),
                                          QItemSelectionModel::NoUpdate);
  Answer({{true, "robert"}});
  Action(w, "Edit2")->trigger();
  EXPECT_EQ(FAsked.last(), QStringLiteral("Edit/Receiver=Carol"));
  EXPECT_EQ(list->Items(), (QStringList{"Bob", "Carol", "Dave", "Robert"}));

  // The list's menu opened at Dave; the mouse moves on to Bob, a sender joins
  // the list ahead of Dave meanwhile: Delete takes Dave, Bob stays selected.
  RightClick(w, ItemCenter(w, 2));
  ASSERT_TRUE(WaitFor([&] { return Menu(w, "ReceiversMnu")->isVisible(); }));
  QTest::mouseMove(list->viewport(), ItemCenter(w, 0));
  list->AddItem(QStringLiteral("Aaron"));
  QTest::keyClick(Menu(w, "ReceiversMnu"), Qt::Key_D);
  EXPECT_EQ(list->Items(), (QStringList{"Aaron", "Bob", "Carol", "Robert"}));
  EXPECT_TRUE(list->Selected(1));
  EXPECT_EQ(w.MenuIndex(), -1);
  Action(w, "Delete1")->trigger();  // the menu's item is gone: nothing more
  EXPECT_EQ(list->count(), 4);
  // Below the last item the menu is for no item.
  RightClick(w, QPoint(5, list->viewport()->height() - 3));
  ASSERT_TRUE(WaitFor([&] { return Menu(w, "ReceiversMnu")->isVisible(); }));
  QTest::keyClick(Menu(w, "ReceiversMnu"), Qt::Key_E);
  EXPECT_EQ(list->count(), 4);
  EXPECT_EQ(FAsked.size(), 1);
}

TEST_F(SendTest, NamesAddedOrEditedWithCharactersTheCodePageLacksAreReported) {
  app::TPlingFrm& w = Start();
  Answer({{true, QStringLiteral("\u03C9x")},
          {true, QStringLiteral("plain")},
          {true, QStringLiteral("\u03C8y")}});
  Action(w, "Add1")->trigger();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(), QStringList{"?x"});
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("Some letters became \"?\""));
  Expire(Timer(w, "StatusTmr"));
  Action(w, "Add1")->trigger();
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), w.RestingStatus())
      << "a name the code page holds says nothing";
  Widget<app::TListBox>(w, "ReceiversLbx")
      ->selectionModel()
      ->setCurrentIndex(Widget<app::TListBox>(w, "ReceiversLbx")->model()->index(0, 0),
                        QItemSelectionModel::NoUpdate);
  Action(w, "Edit2")->trigger();  // the current item, the first (?x), edited to ψy
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(), (QStringList{"?x", "?y", "Plain"}));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("Some letters became \"?\""));
}

TEST_F(SendTest, TheWhatTextBecomesTheNextLineWithoutABlankLineBeforeIt) {
  Listen();
  app::TPlingFrm& w = Start();
  Widget<app::TListBox>(w, "ReceiversLbx")
      ->SetSelected(Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QStringLiteral(".")), true);
  Action(w, "Automaticsend1")->trigger();  // off: Enter only breaks the line
  QTest::keyClicks(Widget<app::TMemo>(w, "SendMmo"), QStringLiteral("hello"));
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Return);
  Answer({{true, "what"}, {true, ""}});
  Action(w, "Send1")->trigger();
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(FReceived[0].Text, "what");
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("hello\nwhat"));
  // Without a line break at the end, and with an empty text (a new empty line).
  Action(w, "Send1")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("hello\nwhat\n"));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Nothing to send"));
}

}  // namespace
}  // namespace pling::testing
