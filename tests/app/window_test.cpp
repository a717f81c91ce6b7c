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
#include <string>
#include <vector>

#include "app_fixture.h"

namespace pling::testing {
namespace {

using WindowTest = AppTest;

// Every menu of the window, its submenus included.
QList<QMenu*> Menus(const app::TPlingFrm& w) {
  QList<QMenu*> menus = w.findChildren<QMenu*>();
  for (QMenu* menu : QList<QMenu*>(menus)) {
    for (const QAction* action : menu->actions()) {
      if (action->menu() != nullptr && !menus.contains(action->menu())) {
        menus << action->menu();
      }
    }
  }
  return menus;
}

TEST_F(WindowTest, EveryMenuItemIsNamedAndItsAcceleratorLeadsToItAlone) {
  app::TPlingFrm& w = Start();
  const QList<QMenu*> menus = Menus(w);
  ASSERT_GE(menus.size(), 8);
  int items = 0;
  for (const QMenu* menu : menus) {
    SCOPED_TRACE(menu->objectName().toStdString());
    QString keys;
    for (const QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      ++items;
      // Tests, scripts and accessibility tools reach each item by its name.
      EXPECT_FALSE(action->objectName().isEmpty()) << action->text().toStdString();
      EXPECT_FALSE(action->text().isEmpty()) << action->objectName().toStdString();
      // Two items with one accelerator in a menu: the key would reach only the first.
      const qsizetype amp = action->text().indexOf(QLatin1Char('&'));
      if (amp < 0 || amp + 1 >= action->text().size()) continue;
      const QChar key = action->text().at(amp + 1).toLower();
      EXPECT_FALSE(keys.contains(key)) << action->text().toStdString();
      keys += key;
    }
  }
  EXPECT_GE(items, 40);
  // Tests and accessibility tools find the parts by name.
  for (const char* name : {"ControlPnl", "GradientFill", "Image", "StartBtn", "StatusLbl",
                           "IncomingIcon", "SilenceIcon", "PanelsPnl", "ReceivedMmo", "Splitter1",
                           "SendMmo", "Splitter", "ReceiversPnl", "ReceiversLbx"}) {
    EXPECT_NE(w.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
  EXPECT_TRUE(FMessages.isEmpty());
}

// What a user can see of the window's state: check marks, fonts, colours, the
// receivers' width and the status line.
std::vector<std::string> Snapshot(app::TPlingFrm& w) {
  std::vector<std::string> seen;
  for (const QMenu* menu : Menus(w)) {
    for (const QAction* action : menu->actions()) {
      if (action->isCheckable()) {
        seen.push_back(action->objectName().toStdString() + (action->isChecked() ? "+" : "-"));
      }
    }
  }
  for (const char* name : {"ReceivedMmo", "SendMmo"}) {
    const app::TMemo* memo = Widget<app::TMemo>(w, name);
    seen.push_back(std::string(name) + " " + memo->font().toString().toStdString() + " " +
                   std::to_string(memo->Color()) + " " + std::to_string(memo->lineWrapMode()));
  }
  const app::TListBox* list = Widget<app::TListBox>(w, "ReceiversLbx");
  seen.push_back("ReceiversLbx " + list->font().toString().toStdString() + " " +
                 std::to_string(list->Color()) + " " +
                 std::to_string(Widget<app::TPanel>(w, "ReceiversPnl")->width()));
  seen.push_back(Widget<app::TColorLabel>(w, "StatusLbl")->text().toStdString());
  return seen;
}

TEST_F(WindowTest, FirstStartShowsTheDesignDefaultsWhichASecondStartKeeps) {
  app::TPlingFrm& w = Start();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 0);
  const settings::TFont plain{};
  settings::TFont italic{}, bold{};
  italic.style.Include(settings::fsItalic);
  bold.style.Include(settings::fsBold);
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
  // Saved at exit and read at the next start, the defaults come back unchanged.
  const std::vector<std::string> first = Snapshot(w);
  Stop();
  EXPECT_EQ(Snapshot(Start()), first);
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
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->CoreFont().name, families.last().toStdString());
  EXPECT_TRUE(Widget<app::TMemo>(w, "ReceivedMmo")->CoreFont().style.Contains(settings::fsItalic));

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
