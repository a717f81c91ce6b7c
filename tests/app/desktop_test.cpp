// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a citizen of the desktop: reachable and usable from the keyboard,
// named for screen readers and announcing what comes in, saying in its status
// line what is off, notifying while out of sight, honest about its settings file
// at the start, wholly on a screen, in the desktop's font.
#include <QAccessible>
#include <QAction>
#include <QFontDatabase>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Accessibility.h"
#include "app/DesktopNotifications.h"
#include "app_fixture.h"
#include "platform/registry.h"

namespace pling::testing {
namespace {

using DesktopTest = AppTest;

// A notification that records what it was asked to show.
struct TNotified {
  std::vector<std::pair<QString, QString>> Shown;  // summary, body
  int Closed = 0;
  app::INotificationSink* Sink = nullptr;
};

class TRecordingSink : public app::INotificationSink {
 public:
  explicit TRecordingSink(TNotified& record) : FRecord(record) { FRecord.Sink = this; }
  ~TRecordingSink() override { FRecord.Sink = nullptr; }
  void Show(const QString& summary, const QString& body) override {
    FRecord.Shown.emplace_back(summary, body);
  }
  void Close() override { ++FRecord.Closed; }

 private:
  TNotified& FRecord;
};

void ShowActive(app::TPlingFrm& w) {
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

TEST_F(DesktopTest, KeyboardReachesEveryControlAndTabTypesNothing) {
  app::TPlingFrm& w = Start();
  ASSERT_NO_FATAL_FAILURE(ShowActive(w));
  Widget<app::TMemo>(w, "SendMmo")->setFocus();
  // Tab leaves the send pane for the list; Shift+Tab comes back; nothing typed.
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Widget<app::TListBox>(w, "ReceiversLbx"));
  QTest::keyClick(Widget<app::TListBox>(w, "ReceiversLbx"), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), Widget<app::TMemo>(w, "SendMmo"));
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QString());
  // The received pane lets go of the focus too; Ctrl+Tab types a tab.
  Widget<app::TMemo>(w, "ReceivedMmo")->setFocus();
  QTest::keyClick(Widget<app::TMemo>(w, "ReceivedMmo"), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Widget<app::TMemo>(w, "SendMmo"));
  QTest::keyClick(Widget<app::TMemo>(w, "SendMmo"), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("\t"));

  // In the list the arrows move without touching the selection; Space toggles it.
  for (const char* name : {"Alice", "Bob", "Carol"})
    Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QString::fromLatin1(name));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(1, true);
  Widget<app::TListBox>(w, "ReceiversLbx")->setFocus();
  Widget<app::TListBox>(w, "ReceiversLbx")->setCurrentRow(1, QItemSelectionModel::NoUpdate);
  QTest::keyClick(Widget<app::TListBox>(w, "ReceiversLbx"), Qt::Key_Down);
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->currentRow(), 2);
  QTest::keyClick(Widget<app::TListBox>(w, "ReceiversLbx"), Qt::Key_Home);
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->currentRow(), 0);
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->SelCount(), 1);
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(1));
  QTest::keyClick(Widget<app::TListBox>(w, "ReceiversLbx"), Qt::Key_Space);
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(0));
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(1))
      << "Space adds to the selection";
  QTest::keyClick(Widget<app::TListBox>(w, "ReceiversLbx"), Qt::Key_Space);
  EXPECT_FALSE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(0));
  // Shift+F10 opens the list's menu at the current item.
  QTest::keyClick(Widget<app::TListBox>(w, "ReceiversLbx"), Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_TRUE(Menu(w, "ReceiversMnu")->isVisible());
  Menu(w, "ReceiversMnu")->close();
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(1))
      << "the menu leaves the selection alone";

  // Tab goes on to the Start button; Space opens the program's menu.
  QTest::keyClick(Widget<app::TListBox>(w, "ReceiversLbx"), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Widget<QToolButton>(w, "StartBtn"));
  bool menuOpen = false;
  QTimer::singleShot(100, &w, [&] {
    menuOpen = Menu(w, "StartMnu")->isVisible();
    Menu(w, "StartMnu")->close();
  });
  QTest::keyClick(Widget<QToolButton>(w, "StartBtn"), Qt::Key_Space);
  EXPECT_TRUE(menuOpen);
  EXPECT_FALSE(Widget<QToolButton>(w, "StartBtn")->isChecked())
      << "the button still shows the inactive state";
}

// Counts the showings of a widget: each makes its accessible object appear, which
// is what a screen reader announces (the accessibility bus itself is watched by
// the Xvfb tests).
class TShowCounter : public QObject {
 public:
  int Shown = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) ++Shown;
    return QObject::eventFilter(watched, event);
  }
};

TEST_F(DesktopTest, ScreenReadersFindNamedPartsAndHearIncomingMessages) {
  app::TPlingFrm& w = Start();
  ASSERT_NO_FATAL_FAILURE(ShowActive(w));
  const auto expect = [](QObject* part, QAccessible::Role role, const QString& name) {
    QAccessibleInterface* seen = QAccessible::queryAccessibleInterface(part);
    ASSERT_NE(seen, nullptr) << part->objectName().toStdString();
    EXPECT_EQ(seen->role(), role) << part->objectName().toStdString();
    EXPECT_EQ(seen->text(QAccessible::Name), name) << part->objectName().toStdString();
  };
  expect(&w, QAccessible::Window, QStringLiteral("Pling"));
  expect(Widget<app::TMemo>(w, "ReceivedMmo"), QAccessible::EditableText,
         QStringLiteral("Received messages"));
  expect(Widget<app::TMemo>(w, "SendMmo"), QAccessible::EditableText,
         QStringLiteral("Message to send"));
  expect(Widget<app::TListBox>(w, "ReceiversLbx"), QAccessible::List, QStringLiteral("Receivers"));
  expect(Widget<QToolButton>(w, "StartBtn"), QAccessible::CheckBox, QStringLiteral("Start"));
  expect(Widget<QLabel>(w, "Image"), QAccessible::Graphic, QStringLiteral("Pling"));
  expect(Widget<app::TColorLabel>(w, "StatusLbl"), QAccessible::StatusBar,
         Widget<app::TColorLabel>(w, "StatusLbl")->text());
  QAccessibleInterface* start =
      QAccessible::queryAccessibleInterface(Widget<QToolButton>(w, "StartBtn"));
  // A toggle, checked while receiving, whatever opening its menu does.
  EXPECT_TRUE(start->state().checkable);
  EXPECT_FALSE(start->state().checked);
  // Its press action opens the program's menu, and toggles nothing.
  ASSERT_NE(start->actionInterface(), nullptr);
  bool menuOpen = false;
  bool checkedMeanwhile = true;
  QTimer::singleShot(100, &w, [&] {
    menuOpen = Menu(w, "StartMnu")->isVisible();
    checkedMeanwhile = start->state().checked;
    Menu(w, "StartMnu")->close();
  });
  start->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_TRUE(menuOpen);
  EXPECT_FALSE(checkedMeanwhile);
  Action(w, "Activate1")->trigger();
  EXPECT_TRUE(start->state().checked);
  Action(w, "Activate1")->trigger();
  EXPECT_FALSE(start->state().checked);

  // A message is announced once, with sender, receiver and text, by a
  // notification that appears.
  TShowCounter counter;
  Widget<app::TAnnouncer>(w, "AnnounceLbl")->installEventFilter(&counter);
  Action(w, "Popup1")->trigger();
  w.PlingMessage("BOB", "ALICE", "lunch?");
  w.PlingMessage("BOB", "ALICE", "lunch?");  // a repeat: nothing
  EXPECT_EQ(counter.Shown, 1);
  expect(Widget<app::TAnnouncer>(w, "AnnounceLbl"), QAccessible::Notification,
         QStringLiteral("Message from ALICE to BOB: lunch?"));
  w.PlingMessage("BOB", "CAROL", "me too");
  EXPECT_EQ(counter.Shown, 2) << "each message appears anew";
  EXPECT_TRUE(Widget<app::TAnnouncer>(w, "AnnounceLbl")->isVisible());
  EXPECT_LE(Widget<app::TAnnouncer>(w, "AnnounceLbl")->width() *
                Widget<app::TAnnouncer>(w, "AnnounceLbl")->height(),
            1)
      << "and takes no room";
}

TEST_F(DesktopTest, TheStatusLineSaysWhatIsOffAndNeverCutsATextOff) {
  app::TPlingFrm& w = Start();
  ASSERT_NO_FATAL_FAILURE(ShowActive(w));
  const QString hint = QStringLiteral("Not receiving: Start \u25B8 Activate");
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), hint)
      << "a window that does not receive says so";
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->DisplayedText(), hint)
      << "and the whole hint fits";

  // A long text is shortened with "…" where it does not fit, whole in the tooltip:
  // a send to a computer that cannot be reached names it.
  const QString far = QStringLiteral("A-computer-far-away-that-cannot-be-reached");
  Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(far);
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, true);
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("hi"));
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Action(w, "Send1")->trigger();
  const QString longText = Widget<app::TColorLabel>(w, "StatusLbl")->text();
  ASSERT_TRUE(longText.startsWith(QStringLiteral("Not sent to ") + far + QStringLiteral(": ")))
      << longText.toStdString();
  const QString shown = Widget<app::TColorLabel>(w, "StatusLbl")->DisplayedText();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_TRUE(longText.startsWith(shown.chopped(1))) << "shortened at its end only";
  EXPECT_LE(QFontMetrics(Widget<app::TColorLabel>(w, "StatusLbl")->DisplayedFont())
                .horizontalAdvance(shown),
            Widget<app::TColorLabel>(w, "StatusLbl")->contentsRect().width());
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->toolTip(), longText);

  // A text that comes late in a running interval (the same send again) still
  // stays a while.
  Timer(w, "StatusTmr")->start(300);
  Action(w, "Send1")->trigger();
  EXPECT_GE(Timer(w, "StatusTmr")->remainingTime(), app::TPlingFrm::kMinStatusMs - 100);
  // When the interval ends, the hint comes back; the next text has its 5 seconds.
  Expire(Timer(w, "StatusTmr"));
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), hint);
  EXPECT_EQ(Timer(w, "StatusTmr")->interval(), 5000);
}

TEST_F(DesktopTest, MessagesWhileOutOfSightAreCountedAndNotifiedInOneNotification) {
  app::TPlingFrm& w = Start();
  TNotified notified;
  w.Notifier().SetSink(std::make_unique<TRecordingSink>(notified));
  ASSERT_NO_FATAL_FAILURE(ShowActive(w));
  Action(w, "Popup1")->trigger();  // off
  w.PlingMessage("BOB", "ALICE", "seen");
  EXPECT_TRUE(notified.Shown.empty()) << "the window shows it";
  EXPECT_EQ(w.Notifier().Unread(), 0);

  w.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return w.Tray().Active(); }));
  w.PlingMessage("BOB", "ALICE", "one");
  w.PlingMessage("BOB", "ALICE", "one");  // a repeat: nothing
  w.PlingMessage("BOB", "CAROL", "two\xB6lines");
  w.PlingMessage("BOB", "ALICE", "three");
  ASSERT_EQ(notified.Shown.size(), 3u) << "each message replaces the one notification";
  EXPECT_EQ(notified.Shown[0].first, QStringLiteral("Message from ALICE"));
  EXPECT_EQ(notified.Shown[0].second, QStringLiteral("ALICE: one"));
  EXPECT_EQ(notified.Shown[2].first, QStringLiteral("3 new messages"));
  EXPECT_EQ(notified.Shown[2].second, QStringLiteral("ALICE: one\nCAROL: two lines\nALICE: three"));
  EXPECT_EQ(w.Tray().IconData().szTip, QStringLiteral("Pling: 3 unread messages\nNot receiving"));
  EXPECT_FALSE(w.isVisible()) << "Pop up is off";

  // Messages that came in together make one notification that counts them all
  // and names the last few.
  std::vector<net::TMessengerMessage> batch;
  for (int i = 0; i < 5; ++i) batch.push_back({"DAVE", "BOB", "burst " + std::to_string(i)});
  w.PlingMessages(batch);
  ASSERT_EQ(notified.Shown.size(), 4u);
  EXPECT_EQ(notified.Shown[3].first, QStringLiteral("8 new messages"));
  EXPECT_EQ(notified.Shown[3].second,
            QStringLiteral("DAVE: burst 2\nDAVE: burst 3\nDAVE: burst 4"));
  EXPECT_EQ(w.Notifier().Unread(), 8);

  // Activating the notification brings the window back: read, notification gone.
  ASSERT_NE(notified.Sink, nullptr);
  notified.Sink->OnActivated();
  ASSERT_TRUE(WaitFor([&] { return w.isVisible() && !w.Tray().Active(); }));
  EXPECT_EQ(w.Notifier().Unread(), 0);
  EXPECT_EQ(notified.Closed, 1);
  EXPECT_EQ(w.Tray().Hint(), QStringLiteral("Pling\nNot receiving"));
}

TEST_F(DesktopTest, ABrokenLineOfTheSettingsFileIsToldAndCostsOnlyItself) {
  std::string text = "REGEDIT4\r\n\r\n";
  int line = 3;
  int broken = 0;
  for (int i = 0; i < 10; ++i) {
    const std::string key =
        "[HKEY_CLASSES_ROOT\\Corvid\\Pling\\Receivers\\NAME" + std::to_string(i);
    if (i == 2) broken = line;
    text += key + (i == 2 ? "" : "]") + "\r\n@=\"R" + std::to_string(i) + "+\"\r\n";
    line += 2;
  }
  std::filesystem::create_directories(ConfigDir());
  std::ofstream(HivePath(), std::ios::binary) << text;

  app::TPlingFrm& w = Start();
  ASSERT_EQ(FMessages.size(), 1) << FMessages.join('\n').toStdString();
  EXPECT_TRUE(FMessages[0].startsWith(QString::fromStdString(HivePath().string()) +
                                      QStringLiteral(", line %1: the key ").arg(broken)))
      << FMessages[0].toStdString();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 10)
      << "every receiver after the broken line is read";
  Stop();
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(Store()->ReadText("Receivers", "NAME" + std::to_string(i), ""),
              "R" + std::to_string(i) + "+");
  EXPECT_TRUE(platform::RegistryHiveProblems().empty()) << "the save mended the line";
}

TEST_F(DesktopTest, ASettingsFileThatCannotBeReadIsToldOnceTheWindowStands) {
  std::filesystem::create_directories(HivePath());  // a folder in the file's place
  FWindow = std::make_unique<app::TPlingFrm>(
      nullptr, std::make_unique<tray::testing::FakeShell>(FShellRecord));
  EXPECT_TRUE(FMessages.isEmpty()) << "not before the window stands";
  FWindow->show();
  ASSERT_TRUE(WaitFor([&] { return !FMessages.isEmpty(); }));
  EXPECT_EQ(FMessages[0].split('\n').first(), QStringLiteral("Cannot read ") +
                                                  QString::fromStdString(HivePath().string()) +
                                                  QStringLiteral(": is a folder, not a file"));
}

TEST_F(DesktopTest, AWindowKeptOnAScreenThatIsGoneOpensWhollyOnAScreenThatIs) {
  {
    auto store = Store();
    store->WriteInteger("TPlingFrm", "Left", 3000);  // a second screen, now gone
    store->WriteInteger("TPlingFrm", "Top", 100);
    store->WriteInteger("TPlingFrm", "Width", 448);
    store->WriteInteger("TPlingFrm", "Height", 5000);
  }
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_TRUE(WaitFor([&] { return area.contains(w.frameGeometry()); }))
      << w.frameGeometry().x() << "," << w.frameGeometry().y() << " " << w.frameGeometry().width()
      << "x" << w.frameGeometry().height();
  EXPECT_EQ(w.width(), 448) << "a width that fits stays";
}

TEST_F(DesktopTest, PanesShowTheDesktopFontUntilTheUserChoosesOne) {
  const QFont desktop = QApplication::font();
  app::TPlingFrm& w = Start();
  QFont larger(QStringLiteral("DejaVu Serif"));
  larger.setPointSize(desktop.pointSize() + 3);
  // What the desktop's new font does to a running program (Qt tells the widgets
  // only while its event loop runs, which a test's does not).
  const auto setDesktopFont = [](const QFont& font) {
    QApplication::setFont(font);
    QEvent change(QEvent::ApplicationFontChange);
    for (QWidget* widget : QApplication::allWidgets()) QApplication::sendEvent(widget, &change);
  };
  setDesktopFont(larger);
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->font().family(), larger.family());
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->font().pointSize(), larger.pointSize());
  EXPECT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->font().italic()) << "in the pane's own style";
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->font().pointSize(), larger.pointSize());
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->font().bold());
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->font().family(), larger.family());
  // A font the user chose stays, whatever the desktop's does.
  w.FontDialog = [](QWidget*, settings::TFont& font) {
    font = {"DejaVu Sans Mono", 12, settings::clWindowText, {}};
    return true;
  };
  Action(w, "SendFont1")->trigger();
  setDesktopFont(desktop);
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->font().family(), QStringLiteral("DejaVu Sans Mono"));
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->font().pointSize(), 12);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->font().pointSize(), desktop.pointSize());
  // Stored as ever.
  Stop();
  EXPECT_EQ(Store()->ReadText("ReceivedMemo", "Font", ""), "MS Sans Serif;8;clWindowText;0100");
  EXPECT_EQ(Store()->ReadText("SendMemo", "Font", ""), "DejaVu Sans Mono;12;clWindowText;0000");
}

}  // namespace
}  // namespace pling::testing
