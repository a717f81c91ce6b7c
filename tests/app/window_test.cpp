// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as it opens: its menus, captions, accelerators and check
// marks, the defaults of a first start, the layout rules and the status line.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "app_fixture.h"

namespace pling::testing {
namespace {

using WindowTest = AppTest;

struct MenuRow {
  const char* Name;
  const char* Caption;  // nullptr for a separator
  int Checked;          // -1: no check mark, 0: unchecked, 1: checked
};

// The items of a menu, in display order, as rows.
void ExpectMenu(QMenu* menu, const std::vector<MenuRow>& rows) {
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(rows.size()))
      << menu->objectName().toStdString();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const QAction* action = actions[static_cast<qsizetype>(i)];
    const MenuRow& row = rows[i];
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(action->objectName().toStdString(), row.Name);
    if (row.Caption == nullptr) {
      EXPECT_TRUE(action->isSeparator());
      continue;
    }
    EXPECT_FALSE(action->isSeparator());
    EXPECT_EQ(action->text().toStdString(), row.Caption);
    EXPECT_EQ(action->isCheckable(), row.Checked >= 0);
    if (row.Checked >= 0) {
      EXPECT_EQ(action->isChecked(), row.Checked == 1);
    }
  }
}

TEST_F(WindowTest, MenusHoldEveryItemWithCaptionAcceleratorAndCheckMark) {
  app::TPlingFrm& w = Start();
  ExpectMenu(Menu(w, "ReceiversMnu"), {{"Add1", "&Add", -1},
                                       {"Edit1", "&Edit", -1},
                                       {"Delete1", "&Delete", -1},
                                       {"N1", nullptr, -1},
                                       {"Send1", "&Send", -1},
                                       {"N3", nullptr, -1},
                                       {"NamesColor1", "&Color", -1},
                                       {"NamesFont1", "&Font", -1}});
  ExpectMenu(Menu(w, "ReceivedMnu"), {{"Clear1", "&Clear", -1},
                                      {"Saveas1", "&Save as...", -1},
                                      {"N11", nullptr, -1},
                                      {"RecvdColor1", "C&olor", -1},
                                      {"RecvdFont1", "&Font", -1}});
  ExpectMenu(Menu(w, "SendMnu"), {{"Clear2", "&Clear", -1},
                                  {"Open1", "&Open", -1},
                                  {"Saveas2", "&Save as...", -1},
                                  {"Sendselection1", "S&end selection", -1},
                                  {"N2", nullptr, -1},
                                  {"SendColor1", "Co&lor", -1},
                                  {"SendFont1", "&Font", -1}});
  ExpectMenu(Menu(w, "StartMnu"), {{"Info1", "About", -1},
                                   {"N15", nullptr, -1},
                                   {"Receivers1", "Receivers", -1},
                                   {"N4", nullptr, -1},
                                   {"Received1", "Received", -1},
                                   {"Send2", "Send", -1},
                                   {"N7", nullptr, -1},
                                   {"Server1", "Server", -1},
                                   {"Activate1", "Activate", -1},
                                   {"N10", nullptr, -1},
                                   {"Exit1", "&Exit", -1}});
  ExpectMenu(Action(w, "Receivers1")->menu(), {{"Add2", "&Add", -1},
                                               {"Edit2", "&Edit", -1},
                                               {"Delete2", "&Delete", -1},
                                               {"N8", nullptr, -1},
                                               {"Send3", "&Send", -1},
                                               {"Network1", "&Network...", -1},
                                               {"N14", nullptr, -1},
                                               {"Automaticadd1", "Automatic add", 1}});
  ExpectMenu(Action(w, "Received1")->menu(), {{"Clear3", "&Clear", -1},
                                              {"N5", nullptr, -1},
                                              {"Saveas3", "Save as...", -1},
                                              {"N12", nullptr, -1},
                                              {"Popup1", "Pop up", 1},
                                              {"Seperators1", "Seperators", 1},
                                              {"Timestamps1", "Timestamps", 1},
                                              {"Playincoming1", "Play incoming", 0},
                                              {"RecvLinewrap", "Line wrap", 0}});
  ExpectMenu(Action(w, "Send2")->menu(), {{"Clear4", "&Clear", -1},
                                          {"N6", nullptr, -1},
                                          {"Open2", "Open", -1},
                                          {"Saveas4", "Save as...", -1},
                                          {"Sendselection2", "Send selection", -1},
                                          {"N13", nullptr, -1},
                                          {"Automaticsend1", "Automatic send", 1},
                                          {"SendLinewrap", "Line wrap", 0}});
  ExpectMenu(
      Action(w, "Server1")->menu(),
      {{"Useserver1", "Use server", 0}, {"N9", nullptr, -1}, {"servername1", "<Server>", -1}});
  // Tests and accessibility tools find the parts by name.
  for (const char* name : {"ControlPnl", "GradientFill", "Image", "StartBtn", "StatusLbl",
                           "IncomingIcon", "SilenceIcon", "PanelsPnl", "ReceivedMmo", "Splitter1",
                           "SendMmo", "Splitter", "ReceiversPnl", "ReceiversLbx"}) {
    EXPECT_NE(w.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
  EXPECT_NE(w.findChild<QTimer*>(QStringLiteral("StatusTmr")), nullptr);
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Pling"));
  EXPECT_EQ(Widget<QToolButton>(w, "StartBtn")->text(), QStringLiteral("&Start"));
  EXPECT_TRUE(Widget<QToolButton>(w, "StartBtn")->isCheckable());
  EXPECT_TRUE(FMessages.isEmpty());
}

TEST_F(WindowTest, FirstStartShowsTheDesignDefaults) {
  app::TPlingFrm& w = Start();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 0);
  const settings::TFont plain{};
  settings::TFont italic{}, bold{};
  italic.Style.Include(settings::fsItalic);
  bold.Style.Include(settings::fsBold);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->CoreFont(), italic);
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->CoreFont(), plain);
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->CoreFont(), bold);
  EXPECT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->font().italic());
  EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->font().bold());
  // The design font shows as the desktop's general font, in its style.
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->font().family(), QApplication::font().family());
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->font().pointSizeF(),
            QApplication::font().pointSizeF());
  for (settings::TColor color :
       {Widget<app::TMemo>(w, "ReceivedMmo")->Color(), Widget<app::TMemo>(w, "SendMmo")->Color(),
        Widget<app::TListBox>(w, "ReceiversLbx")->Color()})
    EXPECT_EQ(color, settings::clWindow);
  EXPECT_EQ(Widget<app::TPanel>(w, "ReceiversPnl")->width(), qtbridge::ScaleDesignPixels(89, w));
  EXPECT_FALSE(Action(w, "Useserver1")->isChecked());
  EXPECT_TRUE(Action(w, "Automaticsend1")->isChecked());
  EXPECT_TRUE(Action(w, "Popup1")->isChecked());
  EXPECT_TRUE(Action(w, "Automaticadd1")->isChecked());
  EXPECT_TRUE(Action(w, "Seperators1")->isChecked());
  EXPECT_TRUE(Action(w, "Timestamps1")->isChecked());
  EXPECT_FALSE(Action(w, "Playincoming1")->isChecked());
  EXPECT_FALSE(Action(w, "RecvLinewrap")->isChecked());
  EXPECT_FALSE(Action(w, "SendLinewrap")->isChecked());
  EXPECT_EQ(Action(w, "servername1")->text(), QStringLiteral("<Server>"));
  EXPECT_FALSE(w.Messenger().Active());
  EXPECT_EQ(Action(w, "Activate1")->text(), QStringLiteral("Activate"));
  EXPECT_FALSE(Widget<QToolButton>(w, "StartBtn")->isChecked());
  // An inactive window says so, and how to start receiving.
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("Not receiving: Start \u25B8 Activate"));
  EXPECT_FALSE(Timer(w, "StatusTmr")->isActive());
  // Both panes start unwrapped with both scroll bars; the received one is read-only.
  for (app::TMemo* memo :
       {Widget<app::TMemo>(w, "ReceivedMmo"), Widget<app::TMemo>(w, "SendMmo")}) {
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  }
  EXPECT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->isReadOnly());
  EXPECT_FALSE(Widget<app::TMemo>(w, "SendMmo")->isReadOnly());
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->selectionMode(),
            QAbstractItemView::ExtendedSelection);
  EXPECT_TRUE(FMessages.isEmpty());
}

TEST_F(WindowTest, LineWrapItemsSwitchThePanesBetweenTheTwoWrapStates) {
  app::TPlingFrm& w = Start();
  Action(w, "RecvLinewrap")->trigger();
  EXPECT_TRUE(Action(w, "RecvLinewrap")->isChecked());
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->horizontalScrollBarPolicy(),
            Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->lineWrapMode(), QPlainTextEdit::NoWrap)
      << "only the received pane";
  Action(w, "RecvLinewrap")->trigger();
  EXPECT_FALSE(Action(w, "RecvLinewrap")->isChecked());
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->horizontalScrollBarPolicy(),
            Qt::ScrollBarAlwaysOn);
  // The other options change only their check mark.
  Action(w, "Seperators1")->trigger();
  EXPECT_FALSE(Action(w, "Seperators1")->isChecked());
  Action(w, "SendLinewrap")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

TEST_F(WindowTest, FontAndColorItemsChangeOnlyTheirOwnPane) {
  app::TPlingFrm& w = Start();
  settings::TFont chosen{"DejaVu Serif", 14, settings::clRed, {settings::fsUnderline}};
  w.FontDialog = [&](QWidget*, settings::TFont& font) {
    font = chosen;
    return true;
  };
  w.ColorDialog = [](QWidget*, settings::TColor& color) {
    color = 0x00FFCC;
    return true;
  };
  Action(w, "SendFont1")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->CoreFont(), chosen);
  EXPECT_NE(Widget<app::TMemo>(w, "ReceivedMmo")->CoreFont(), chosen);
  EXPECT_NE(Widget<app::TListBox>(w, "ReceiversLbx")->CoreFont(), chosen);
  Action(w, "NamesColor1")->trigger();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Color(), 0x00FFCC);
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->Color(), settings::clWindow);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->Color(), settings::clWindow);
  // The colour reaches the list's palette (0x00BBGGRR: red CC, green FF).
  Widget<app::TListBox>(w, "ReceiversLbx")->viewport()->repaint();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->palette().color(QPalette::Base),
            QColor(0xCC, 0xFF, 0x00));
  // A cancelled dialog changes nothing.
  w.ColorDialog = [](QWidget*, settings::TColor& color) {
    color = settings::clBlack;
    return false;
  };
  Action(w, "RecvdColor1")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->Color(), settings::clWindow);
}

// Answers the next modal dialog (the program's own) with `act`.
void AnswerDialog(std::function<void(QDialog&)> act) {
  QTimer::singleShot(0, [act = std::move(act)] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return ADD_FAILURE() << "no dialog";
    act(*dialog);
  });
}

TEST_F(WindowTest, TheFontDialogGivesBackTheFontItWasGivenAndChoosesItsColour) {
  app::TPlingFrm& w = Start();
  // The list's design font: a face this desktop lacks, bold.
  const settings::TFont given = Widget<app::TListBox>(w, "ReceiversLbx")->CoreFont();
  ASSERT_EQ(given,
            (settings::TFont{"MS Sans Serif", 8, settings::clWindowText, {settings::fsBold}}));
  AnswerDialog([](QDialog& dialog) { dialog.accept(); });
  Action(w, "NamesFont1")->trigger();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->CoreFont(), given)
      << "OK without a change changes nothing";

  // A colour, a style and an effect chosen in the dialog; the face stays.
  AnswerDialog([](QDialog& dialog) {
    auto* color = dialog.findChild<QComboBox*>(QStringLiteral("ColorCbx"));
    auto* style = dialog.findChild<QComboBox*>(QStringLiteral("StyleCbx"));
    auto* underline = dialog.findChild<QCheckBox*>(QStringLiteral("UnderlineChk"));
    if (color == nullptr || style == nullptr || underline == nullptr) {
      dialog.reject();
      return ADD_FAILURE() << "no colour, style or effect choice";
    }
    color->setCurrentIndex(color->findText(QStringLiteral("Red")));
    style->setCurrentIndex(style->findText(QStringLiteral("Bold Italic")));
    underline->setChecked(true);
    dialog.accept();
  });
  Action(w, "SendFont1")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->CoreFont(),
            (settings::TFont{"MS Sans Serif",
                             8,
                             settings::clRed,
                             {settings::fsBold, settings::fsItalic, settings::fsUnderline}}));
  Widget<app::TMemo>(w, "SendMmo")->viewport()->repaint();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->palette().color(QPalette::Text), QColor(Qt::red))
      << "the text colour";

  // Another face chosen is given back by its name.
  const QStringList families = QFontDatabase::families();
  ASSERT_FALSE(families.isEmpty());
  AnswerDialog([&families](QDialog& dialog) {
    auto* family = dialog.findChild<QComboBox*>(QStringLiteral("FamilyCbx"));
    if (family == nullptr) {
      dialog.reject();
      return ADD_FAILURE() << "no face choice";
    }
    family->setCurrentIndex(family->findText(families.last()));
    dialog.accept();
  });
  Action(w, "RecvdFont1")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->CoreFont().Name, families.last().toStdString());
  EXPECT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->CoreFont().Style.Contains(settings::fsItalic));

  // Cancelled, the dialog changes nothing.
  AnswerDialog([](QDialog& dialog) {
    if (auto* color = dialog.findChild<QComboBox*>(QStringLiteral("ColorCbx")))
      color->setCurrentIndex(0);
    dialog.reject();
  });
  Action(w, "NamesFont1")->trigger();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->CoreFont(), given);
}

TEST_F(WindowTest, SystemColoursFollowTheDesktopPaletteAtTheNextPaint) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QPalette original = QApplication::palette();
  QPalette theme = original;
  theme.setColor(QPalette::Base, QColor(10, 20, 30));
  QApplication::setPalette(theme);
  Widget<app::TMemo>(w, "SendMmo")->viewport()->repaint();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->palette().color(QPalette::Base), QColor(10, 20, 30));
  QApplication::setPalette(original);
}

TEST_F(WindowTest, SendPaneGivesWayWhenTheWindowGetsLow) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const int minSize = Widget<app::TSplitter>(w, "Splitter1")->MinSize();
  const int sendDesign = Widget<app::TMemo>(w, "SendMmo")->height();
  w.resize(w.width(), qtbridge::ScaleDesignPixels(150, w));
  QApplication::processEvents();
  const int available = Widget<app::TPanel>(w, "PanelsPnl")->height() -
                        2 * Widget<app::TPanel>(w, "PanelsPnl")->BorderWidth();
  ASSERT_LT(available, sendDesign + Widget<app::TSplitter>(w, "Splitter1")->height() + minSize)
      << "too high to test";
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->height(),
            available - Widget<app::TSplitter>(w, "Splitter1")->height() - minSize);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->height(), minSize);
  // Growing again keeps the send pane's new height; the received pane grows.
  w.resize(w.width(), qtbridge::ScaleDesignPixels(400, w));
  QApplication::processEvents();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->height(),
            available - Widget<app::TSplitter>(w, "Splitter1")->height() - minSize);
  EXPECT_GT(Widget<app::TMemo>(w, "ReceivedMmo")->height(), minSize);
}

TEST_F(WindowTest, SplittersKeepBothSidesAtTheirMinimum) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  // Dragging the pane splitter far up: the received pane keeps its minimum.
  int moved = 0;
  const auto previous = Widget<app::TSplitter>(w, "Splitter1")->OnMoved;
  Widget<app::TSplitter>(w, "Splitter1")->OnMoved = [&] {
    ++moved;
    previous();
  };
  const QPoint grip(Widget<app::TSplitter>(w, "Splitter1")->width() / 2, 1);
  QTest::mousePress(Widget<app::TSplitter>(w, "Splitter1"), Qt::LeftButton, {}, grip);
  QTest::mouseMove(Widget<app::TSplitter>(w, "Splitter1"), grip - QPoint(0, 2000));
  QTest::mouseRelease(Widget<app::TSplitter>(w, "Splitter1"), Qt::LeftButton, {},
                      grip - QPoint(0, 2000));
  EXPECT_EQ(moved, 1);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->height(),
            Widget<app::TSplitter>(w, "Splitter1")->MinSize());
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->geometry().top(),
            Widget<app::TSplitter>(w, "Splitter1")->geometry().bottom() + 1);
  // Dragging it far down: the send pane keeps its minimum.
  Widget<app::TSplitter>(w, "Splitter1")->MoveBy(5000);
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->height(),
            Widget<app::TSplitter>(w, "Splitter1")->MinSize());
  // The column splitter: the receivers column cannot vanish, nor the panes.
  Widget<app::TSplitter>(w, "Splitter")->MoveBy(5000);
  EXPECT_EQ(Widget<app::TPanel>(w, "ReceiversPnl")->width(),
            Widget<app::TSplitter>(w, "Splitter")->MinSize());
  Widget<app::TSplitter>(w, "Splitter")->MoveBy(-5000);
  EXPECT_EQ(Widget<app::TPanel>(w, "PanelsPnl")->width(),
            Widget<app::TSplitter>(w, "Splitter")->MinSize());
  EXPECT_EQ(Widget<app::TPanel>(w, "ReceiversPnl")->geometry().right(), w.width() - 1);
}

TEST_F(WindowTest, StatusLineReachesToEightPixelsBeforeTheLogo) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  for (int width : {448, 700, 300}) {
    w.resize(qtbridge::ScaleDesignPixels(width, w), w.height());
    QApplication::processEvents();
    SCOPED_TRACE(width);
    EXPECT_EQ(Widget<QLabel>(w, "Image")->geometry().right(),
              Widget<app::TPanel>(w, "ControlPnl")->width() - 1)
        << "the logo sits right";
    EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->x() +
                  Widget<app::TColorLabel>(w, "StatusLbl")->width(),
              Widget<QLabel>(w, "Image")->x() - qtbridge::ScaleDesignPixels(8, w));
  }
}

TEST_F(WindowTest, SecondStatusTextReplacesTheFirstAndBothVanishWhenTheFirstIntervalEnds) {
  app::TPlingFrm& w = Start();
  w.InputQuery = [](const QString&, const QString&, QString&) { return false; };  // Cancel
  EXPECT_EQ(Timer(w, "StatusTmr")->interval(), 5000);
  Action(w, "Send1")->trigger();  // no receivers: the Add dialog, cancelled
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(),
            QStringLiteral("No receiver selected"));
  ASSERT_TRUE(Timer(w, "StatusTmr")->isActive());
  QTest::qSleep(200);
  Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QStringLiteral("Bob"));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, true);
  Action(w, "Send1")->trigger();  // no text: the What dialog, cancelled
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), QStringLiteral("Nothing to send"));
  // The running interval was not started again.
  EXPECT_LE(Timer(w, "StatusTmr")->remainingTime(), 4850);
  ASSERT_TRUE(WaitFor(
      [&] { return Widget<app::TColorLabel>(w, "StatusLbl")->text() == w.RestingStatus(); }, 8000));
  EXPECT_FALSE(Timer(w, "StatusTmr")->isActive()) << "the timer stops with the line";
}

TEST_F(WindowTest, StartButtonOpensTheMenuAndEndsInTheActiveState) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  bool menuWasOpen = false;
  QPoint menuAt;
  QTimer::singleShot(100, &w, [&] {
    menuWasOpen = Menu(w, "StartMnu")->isVisible();
    menuAt = Menu(w, "StartMnu")->pos();
    Menu(w, "StartMnu")->close();  // dismissed
  });
  QTest::mouseClick(Widget<QToolButton>(w, "StartBtn"), Qt::LeftButton);
  EXPECT_TRUE(menuWasOpen);
  EXPECT_EQ(menuAt.x(), Widget<QToolButton>(w, "StartBtn")->mapToGlobal(QPoint(0, 0)).x());
  EXPECT_FALSE(Widget<QToolButton>(w, "StartBtn")->isChecked())
      << "dismissed menu: the button shows the inactive state";
}

}  // namespace
}  // namespace pling::testing

namespace pling::testing {
namespace {

TEST_F(WindowTest, WindowCannotGetSmallerThanTheSizerAllowsAndTheBarHasItsGradient) {
  app::TPlingFrm& w = Start();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.resize(20, 20);
  QApplication::processEvents();
  EXPECT_GE(w.frameGeometry().width(), qtbridge::ScaleDesignPixels(200, w));
  EXPECT_GE(w.frameGeometry().height(), qtbridge::ScaleDesignPixels(100, w));
  EXPECT_EQ(w.Sizer().CoordType(), settings::ctGreater);
  // The gradient fills the control bar behind the button, status line and logo.
  EXPECT_EQ(Widget<about::TGradientFill>(w, "GradientFill")->geometry(),
            Widget<app::TPanel>(w, "ControlPnl")->rect());
  EXPECT_EQ(Widget<about::TGradientFill>(w, "GradientFill")->BeginColor(), settings::clBtnShadow);
  EXPECT_EQ(Widget<about::TGradientFill>(w, "GradientFill")->EndColor(), settings::clBtnFace);
  EXPECT_EQ(Widget<about::TGradientFill>(w, "GradientFill")->FillDirection(), about::fdLeftToRight);
  EXPECT_EQ(Widget<about::TGradientFill>(w, "GradientFill")->NumberOfColors(), 64);
  const QList<QWidget*> stack =
      Widget<app::TPanel>(w, "ControlPnl")->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  EXPECT_EQ(stack.first(), Widget<about::TGradientFill>(w, "GradientFill"))
      << "drawn first, beneath the others";
}

}  // namespace
}  // namespace pling::testing
