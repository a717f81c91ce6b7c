// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/AboutFrmUnit.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <memory>

#include "about/ScrollText.h"
#include "platform/VerInfo.h"
#include "platform/version_resource.h"
#include "qtbridge/AnsiText.h"
#include "qtbridge/DesignPixels.h"
#include "qtbridge/QtColor.h"

namespace pling::about {
namespace {

const QString kRule(39, QLatin1Char('-'));

// Arial whose cell (ascent plus descent) is at most `cellHeight` pixels.
QFont CellFont(int cellHeight) {
  QFont font(QStringLiteral("Arial"));
  int pixels = std::max(1, cellHeight);
  font.setPixelSize(pixels);
  while (pixels > 1 && QFontMetrics(font).height() > cellHeight) {
    font.setPixelSize(--pixels);
  }
  return font;
}

QPlainTextEdit* HelpMemo(QWidget* page, const char* name, const QString& text) {
  auto* memo = new QPlainTextEdit(page);
  memo->setObjectName(QString::fromLatin1(name));
  memo->setReadOnly(true);
  memo->setFrameShape(QFrame::NoFrame);
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QPalette colors = memo->palette();
  colors.setColor(QPalette::Base, qtbridge::ResolveColor(settings::clBtnFace, colors));
  memo->setPalette(colors);
  memo->setPlainText(text);
  // The memo fills its page.
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(memo);
  return memo;
}

}  // namespace

TAboutFrm::TAboutFrm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutFrm"));
  setWindowTitle(QStringLiteral("About"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  // A fixed dialog border: no resizing, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // On the screen of the window it is opened from, and drawn smaller where that
  // screen is too small for it (a frame's room allowed for).
  if (const QWidget* owner = QApplication::activeWindow()) setScreen(owner->screen());
  if (const QScreen* where = screen()) {
    const QRect area = where->availableGeometry();
    FFit = std::min({1.0, static_cast<double>(area.width() - Px(8)) / Px(355),
                     static_cast<double>(area.height() - Px(32)) / Px(403)});
    FFit = std::max(FFit, 0.25);
  }
  const QFont windowFont = CellFont(Px(15));
  setFont(windowFont);
  setFixedSize(Px(355), Px(403));

  PageControl = new QTabWidget(this);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  PageControl->setGeometry(0, 0, Px(355), Px(403));

  Instructies = new QWidget();
  Instructies->setObjectName(QStringLiteral("Instructies"));
  PageControl->addTab(Instructies, QStringLiteral("Instructions"));
  InstructionsMmo = HelpMemo(Instructies, "InstructionsMmo", InstructionsText());
  InstructionsMmo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  RemarksTbs = new QWidget();
  RemarksTbs->setObjectName(QStringLiteral("RemarksTbs"));
  PageControl->addTab(RemarksTbs, QStringLiteral("Remarks"));
  RemarksMmo = HelpMemo(RemarksTbs, "RemarksMmo", RemarksText());
  RemarksMmo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  RemarksMmo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  AboutTbs = new QWidget();
  AboutTbs->setObjectName(QStringLiteral("AboutTbs"));
  PageControl->addTab(AboutTbs, QStringLiteral("About"));

  Image1 = new QLabel(AboutTbs);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(Px(8), Px(8), Px(33), Px(41));
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setPixmap(QIcon(QStringLiteral(":/pling/pling.svg")).pixmap(QSize(Px(32), Px(32))));

  Label1 = new QLabel(QStringLiteral("Pling"), AboutTbs);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setFont(CellFont(Px(35)));
  Label1->setGeometry(Px(48), Px(8), Px(162), Px(35));

  VersionLbl = new QLabel(QStringLiteral("V1.0A"), AboutTbs);
  VersionLbl->setObjectName(QStringLiteral("VersionLbl"));
  VersionLbl->setAttribute(Qt::WA_TranslucentBackground);
  VersionLbl->move(Px(216), Px(8));
  VersionLbl->adjustSize();

  Label2 = new QLabel(QStringLiteral("Copyright \u00A9 The Pling developers"), AboutTbs);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(Px(48), Px(48), Px(226), Px(15));

  Image = new QLabel(AboutTbs);
  Image->setObjectName(QStringLiteral("Image"));
  Image->setGeometry(Px(48), Px(69), Px(100), Px(30));
  Image->setAlignment(Qt::AlignCenter);
  Image->setAttribute(Qt::WA_TranslucentBackground);
  Image->setPixmap(QIcon(QStringLiteral(":/pling/logo.svg")).pixmap(QSize(Px(100), Px(30))));
  Image->setToolTip(QStringLiteral("Pling: pop-up messages across your network"));

  Bevel2 = new QFrame(AboutTbs);
  Bevel2->setObjectName(QStringLiteral("Bevel2"));
  Bevel2->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Bevel2->setGeometry(Px(8), Px(144), Px(329), Px(193));

  ScrollText1 = new TScrollText(AboutTbs);
  ScrollText1->setObjectName(QStringLiteral("ScrollText1"));
  ScrollText1->setGeometry(Px(16), Px(152), Px(313), Px(177));
  ScrollText1->SetTextStyle(tsLowered);
  ScrollText1->SetSteps(300);
  ScrollText1->SetSpeed(100);
  ScrollText1->SetContinuous(true);
  ScrollText1->SetAlignment(taCenter);
  ScrollText1->SetScrollDirection(sdBottomToTop);
  ScrollText1->SetFont(CellFont(Px(15)));
  ScrollText1->SetFontColor(settings::clBlack);
  ScrollText1->SetItems(CreditsLines());

  // The stored description leaves the first page active; activation shows
  // the "About" page.
  PageControl->setCurrentWidget(Instructies);
  FormCreate();
}

int TAboutFrm::Px(int pixelsAt96) const {
  return static_cast<int>(std::lround(qtbridge::ScaleDesignPixels(pixelsAt96, *this) * FFit));
}

void TAboutFrm::FormCreate() {
  const platform::TVersionInfo versionInfo(platform::ProgramFileName());
  const std::string version = versionInfo.FileVersion();
  VersionLbl->setText(QStringLiteral("V") + qtbridge::FromAnsi(version));
  VersionLbl->adjustSize();
  QStringList lines = ScrollText1->Items();
  if (!lines.isEmpty()) {
    lines[0] = lines[0] + QLatin1Char(' ') + VersionLbl->text();
    ScrollText1->SetItems(lines);
  }
  // What a screen reader reads: the version in words, and the credits whole
  // (their scrolling picture holds no text of its own).
  VersionLbl->setAccessibleName(QStringLiteral("Version ") + VersionLbl->text().mid(1));
  ScrollText1->setAccessibleName(QStringLiteral("Credits"));
  ScrollText1->setAccessibleDescription(lines.join(QLatin1Char('\n')).simplified());
}

void TAboutFrm::FormActivate() {
  PageControl->setCurrentWidget(AboutTbs);
}

bool TAboutFrm::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) FormActivate();
  return QDialog::event(event);
}

void TAboutFrm::showEvent(QShowEvent* event) {
  // It opens on the "About" page, also where the window manager is slow to
  // activate it; and centred on the screen the first time.
  FormActivate();
  if (!FCentred) {
    FCentred = true;
    if (QScreen* where = screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(where->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QDialog::showEvent(event);
}

QString TAboutFrm::InstructionsText() {
  return QStringList{
      kRule,
      QStringLiteral("Pop a computer:"),
      QStringLiteral("1. Activate Pling (Start\\Activate), so that replies reach you."),
      QStringLiteral("2. Add a receiver (Start\\Receivers\\Add): the computer name of the "
                     "machine to reach. Or select one that is in the list already."),
      QStringLiteral("3. Type your text in the lower left pane."),
      QStringLiteral("4. Press ENTER, or select some text and use Start\\Send\\SendSelection."),
      QString(),
      QStringLiteral("To reach several receivers at once, select several entries of the "
                     "receivers list: hold Shift or Ctrl while you click them."),
      QString(),
      kRule,
      QStringLiteral("Pop a User or Domain (NT network only):"),
      QStringLiteral("1. Activate Pling."),
      QStringLiteral("2. Add a receiver that is a user, domain or workgroup name."),
      QStringLiteral("3. Set Start\\Server\\Server to a primary domain controller."),
      QStringLiteral("4. Type your text in the lower left pane."),
      QStringLiteral("5. Press ENTER, or use Start\\Send\\SendSelection."),
      QString(),
      kRule,
      QStringLiteral("Different Server Names:"),
      QStringLiteral("As a servername you can specify the excact server name."),
      QStringLiteral(". (dot) stands for the machine Pling runs on."),
      QStringLiteral("* (star) stands for the domain of this machine."),
      QStringLiteral("XXX* (a name followed by a star) should stand for the domain XXX. "
                     "This is not confirmed: please report whether it works for you."),
  }
      .join(QLatin1Char('\n'));
}

QString TAboutFrm::RemarksText() {
  return QStringList{
      kRule,
      QStringLiteral("\"Mailslot allready exists\""),
      QStringLiteral("Another program has the mailslot \"messngr\" open, so Pling cannot "
                     "receive. On this machine that is another copy of Pling: the mailslot "
                     "service Pling runs on lets one program at a time hold \"messngr\". On "
                     "Windows NT it can also be the system's messenger service. Close or "
                     "deactivate the other one and activate Pling again. Pling can still "
                     "send while another program receives."),
      QString(),
      kRule,
      QStringLiteral("Messages that arrive more than once"),
      QStringLiteral("The mailslot works over every network protocol the machines share. "
                     "With several protocols installed each message arrives once per "
                     "protocol; Pling shows it only once."),
      QString(),
      kRule,
      QStringLiteral("Starting minimised"),
      QStringLiteral("On Windows, set the \"Run\" mode of Pling's shortcut to Normal window, "
                     "Minimized or Maximized. Desktop launchers on Linux have no such "
                     "setting: minimise the window once it is up, and Pling waits in the "
                     "notification area."),
  }
      .join(QLatin1Char('\n'));
}

QStringList TAboutFrm::CreditsLines() {
  return {
      QStringLiteral("Pling"),
      QString(),
      QStringLiteral("Written and kept by"),
      QStringLiteral("the Pling developers"),
      QStringLiteral("Free to use and share"),
      QString(),
      QStringLiteral("Made with C++20 and Qt 6"),
      QStringLiteral("on Linux"),
      QString(),
      QStringLiteral("Thanks go to the beta testers who dared:"),
      QStringLiteral("(alphabetical order guys)"),
      QStringLiteral("Anouk"),
      QStringLiteral("Bram"),
      QStringLiteral("Carmen"),
      QStringLiteral("Daan"),
      QStringLiteral("Esther"),
      QStringLiteral("Floris"),
      QStringLiteral("Greetje"),
  };
}

void ShowAboutWindow() {
  // Owned by the application; released when the modal loop ends, however it ends.
  const auto window = std::make_unique<TAboutFrm>();
  window->exec();
}

}  // namespace pling::about
