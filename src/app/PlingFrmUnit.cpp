// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PlingFrmUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <deque>
#include <utility>

#include "about/AboutFrmUnit.h"
#include "about/GradientFill.h"
#include "app/Accessibility.h"
#include "app/ColorDlg.h"
#include "app/DialogPlacement.h"
#include "app/FontDlg.h"
#include "app/HistorySwitch.h"
#include "app/KeyboardFocus.h"
#include "app/NetworkStatus.h"
#include "app/PlingApplication.h"
#include "app/SafeSave.h"
#include "app/SendToSeveral.h"
#include "app/StartButton.h"
#include "mailslot/lxMailSlot.h"
#include "mailslot/message_text.h"
#include "net/netbios.h"
#include "platform/identity.h"
#include "platform/mailslot_service.h"
#include "platform/sound.h"
#include "qtbridge/AnsiText.h"
#include "qtbridge/DesignPixels.h"
#include "qtbridge/FormSizerFilter.h"
#include "qtbridge/QtColor.h"
#include "qtbridge/QtFont.h"
#include "runtime/exceptions.h"
#include "runtime/main_thread.h"
#include "settings/Megares.h"
#include "tray/TaskbarEntry.h"
#include "tray/TrayIcon.h"

namespace pling::app {

using settings::TColor;
using settings::TFont;

namespace {

// The received pane keeps at most this many lines.
constexpr int kMaxReceivedLines = 1000;
// The send pane holds at most this many characters (16 Mi): far more than any
// message, so that only a file loaded by mistake meets it.
constexpr qsizetype kSendPaneCapacity = qsizetype{16} * 1024 * 1024;

// A received message as the pane shows it, one "\n" a line break.
QString DisplayText(const std::string& sender, const std::string& reciever,
                    const std::string& msg) {
  QString display = qtbridge::FromAnsi(mailslot::ReceivedText(sender, reciever, msg));
  display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return display;
}

// The time stamp above a received message: the short date and, unless it is
// midnight, the long time without the time zone.
QString TimeStamp() {
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  QString stamp = locale.toString(now.date(), QLocale::ShortFormat);
  if (now.time().hour() != 0 || now.time().minute() != 0 || now.time().second() != 0) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    stamp += QLatin1Char(' ') + locale.toString(now.time(), format.trimmed());
  }
  return stamp;
}

// The parts' texts as one text, a line break between two parts.
template <typename TParts>
QString JoinLines(const TParts& parts) {
  qsizetype size = 0;
  for (const auto& part : parts) size += part.text.size() + 1;
  QString joined;
  joined.reserve(size);
  bool first = true;
  for (const auto& part : parts) {
    if (!std::exchange(first, false)) joined += QLatin1Char('\n');
    joined += part.text;
  }
  return joined;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPlingOwnerForm

TPlingOwnerForm::TPlingOwnerForm(QWidget& window, settings::TSizerWindow& sizerWindow)
    : settings::TOwnerForm(nullptr), FWindow(window), FSizerWindow(sizerWindow) {}

std::int32_t TPlingOwnerForm::Left() const {
  return FWindow.x();
}
std::int32_t TPlingOwnerForm::Top() const {
  return FWindow.y();
}
std::int32_t TPlingOwnerForm::Width() const {
  return FWindow.width();
}
std::int32_t TPlingOwnerForm::Height() const {
  return FWindow.height();
}

// An unchanged value is not set again, so that a window without stored bounds
// keeps the position the desktop chooses for it.
void TPlingOwnerForm::SetLeft(std::int32_t value) {
  if (value != Left()) FWindow.move(value, FWindow.y());
}
void TPlingOwnerForm::SetTop(std::int32_t value) {
  if (value != Top()) FWindow.move(FWindow.x(), value);
}
void TPlingOwnerForm::SetWidth(std::int32_t value) {
  if (value != Width()) FWindow.resize(value, FWindow.height());
}
void TPlingOwnerForm::SetHeight(std::int32_t value) {
  if (value != Height()) FWindow.resize(FWindow.width(), value);
}

std::int32_t TPlingOwnerForm::ScreenWidth() const {
  const QScreen* screen = FWindow.screen() ? FWindow.screen() : QGuiApplication::primaryScreen();
  return screen ? screen->virtualSize().width() : 0;
}
std::int32_t TPlingOwnerForm::ScreenHeight() const {
  const QScreen* screen = FWindow.screen() ? FWindow.screen() : QGuiApplication::primaryScreen();
  return screen ? screen->virtualSize().height() : 0;
}

std::vector<settings::TRect> TPlingOwnerForm::WorkAreas() const {
  // Qt gives every screen's area in device-independent pixels, the pixels of the
  // window's position and size: bounds kept at one scale fit at another.
  std::vector<settings::TRect> areas;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect area = screen->availableGeometry();
    areas.push_back({area.x(), area.y(), area.width(), area.height()});
  }
  return areas;
}

std::int32_t TPlingOwnerForm::FrameExtraWidth() const {
  return std::max(0, FWindow.frameGeometry().width() - FWindow.width());
}

std::int32_t TPlingOwnerForm::FrameExtraHeight() const {
  return std::max(0, FWindow.frameGeometry().height() - FWindow.height());
}

// ---------------------------------------------------------------------------
// TPlingFrm: creation

TPlingFrm::TPlingFrm(QWidget* parent, std::unique_ptr<tray::ITrayShell> trayShell)
    : QWidget(parent) {
  setObjectName(QStringLiteral("PlingFrm"));
  setWindowTitle(QStringLiteral("Pling"));
  setWindowIcon(QIcon(QStringLiteral(":/pling/pling.svg")));
  resize(Px(448), Px(400));

  CreateComponents();
  FNetwork = new TNetworkView(*ReceiversLbx, std::bind_front(&TPlingFrm::AddReceiver, this), this);
  FHistory = new THistoryLog([this](const QString& text) { ShowErrorMessage(this, text); }, this);
  CreateMenus();
  SetAccessibleTexts();
  FNotifier = new TIncomingNotifier(*this, *AnnounceLbl);
  FNotifier->OnUnreadChange = [this] { UpdateTrayTip(); };
  FNotifier->OnActivate = [this] { tray::RestoreWindow(*this); };

  InputQuery = [this](const QString& caption, const QString& prompt, QString& value) {
    QInputDialog dialog(this);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(value);
    FNetwork->PrepareNameDialog(dialog);  // 255 characters at most, the names heard offered
    if (dialog.exec() != QDialog::Accepted) return false;
    value = dialog.textValue();
    return true;
  };
  // Both save commands share one dialog: the second starts where the first ended.
  SaveDialog = [this](QWidget* owner) {
    QFileDialog dialog(owner, QString(), FSavePath, QStringLiteral("Text (*.TXT *.txt)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("TXT"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
  // The open dialog is a dialog of its own: it starts where the last open ended.
  OpenDialog = [this](QWidget* owner) {
    QFileDialog dialog(owner, QString(), FOpenPath, QStringLiteral("Text (*.TXT *.txt)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
  FontDialog = [](QWidget* owner, TFont& font) { return TFontDlg::Execute(owner, font); };
  ColorDialog = [](QWidget* owner, TColor& color) {
    const QColor chosen =
        ChooseColor(owner, qtbridge::ResolveColor(color, QApplication::palette()));
    if (!chosen.isValid()) return false;
    color = qtbridge::ToTColor(chosen);
    return true;
  };
  MessageBeep = [] {
    if (!platform::PlayEventSound("message-new-instant")) QApplication::beep();
  };

  // The non-visual components, in this order: the tray icon shows itself and
  // hooks the window's minimise and restore (the stored inactive state takes the
  // icon away again, the hooks stay); the size limits stand in front of the
  // window; the settings store restores the window's bounds in its
  // after-load step; the messenger is created closed. The messenger is freed
  // first at teardown, so the store records the bounds then.
  FSizerFilter = new qtbridge::TFormSizerFilter(*this);
  FForm = std::make_unique<TPlingOwnerForm>(*this, *FSizerFilter);
  TrayIcon = &FForm->CreateComponent<tray::TTrayIcon>(std::move(trayShell));
  TrayIcon->SetName("TrayIcon");
  TrayIcon->SetApplicationWindow(this);
  TrayIcon->SetIcon(SilenceIcon->Icon);
  TrayIcon->SetPopupMenu(StartMnu);
  TrayIcon->OnDblClick = [this](runtime::TComponent&) { TrayIconDblClick(); };
  TrayIcon->OnMinimize = [this](runtime::TComponent&) { TrayIconMinimize(); };
  TrayIcon->OnMouseDown = [this](runtime::TComponent&, tray::TMouseButton, tray::TShiftState, int,
                                 int) { TrayIconMouseDown(); };
  TrayIcon->OnRestore = [this](runtime::TComponent&) { TrayIconRestore(); };
  TrayIcon->OnTrayAvailableChange = [this](runtime::TComponent&) { FollowTrayHost(); };
  TrayIcon->SetActive(false);
  FollowTrayHost();
  FormSizer = &FForm->CreateComponent<settings::TFormSizer>();
  FormSizer->SetName("FormSizer");
  FormSizer->SetMinTrackWidth(Px(200));
  FormSizer->SetMinTrackHeight(Px(100));
  FormSizer->SetCoordType(settings::ctGreater);
  FormSizer->SetEnabled(true);
  MegaRegistry = &FForm->CreateComponent<settings::TMegaRegistry>();
  MegaRegistry->SetName("MegaRegistry");
  settings::ConfigureProgramStore(*MegaRegistry);
  MegaRegistry->SetSaveFormCoord(true);
  Pling = &FForm->CreateComponent<mailslot::TlxPling>();
  Pling->SetName("Pling");
  Pling->OnOpen = [this](runtime::TComponent&) { PlingOpen(); };
  Pling->OnClose = [this](runtime::TComponent&) { PlingClose(); };
  // Each message of a delivery is taken as it comes; the delivery's end shows them.
  Pling->OnMessage = [this](runtime::TComponent&, std::string AReciever, std::string ASender,
                            std::string AMsg) { TakeIncoming(AReciever, ASender, AMsg); };
  Pling->OnBatchEnd = [this](runtime::TComponent&) { PlingBatchEnd(); };
  {
    // The settings file is read and parsed once for every value the start reads.
    const settings::TReadHold hold;
    try {
      FForm->BeginLoading();
      FForm->EndLoading();
    } catch (...) {
      // Reported with whatever else FormCreate finds, in one message.
      FStartProblems << ExceptionMessage(std::current_exception());
    }
    FormCreate();
    FStartProblems << FHistory->Start(*MegaRegistry);
  }
  SendMmo->setFocus();
  UpdateRestingStatus();
  // A screen that goes away may take the window out of sight.
  connect(qApp, &QGuiApplication::screenRemoved, this, [this] { KeepOnScreen(); });
  // Told once the window stands, as soon as the program takes events.
  QMetaObject::invokeMethod(
      this, [this] { ReportStartProblems(); }, Qt::QueuedConnection);
}

TPlingFrm::~TPlingFrm() {
  // While the window still stands: the settings store saves its bounds.
  FForm->Teardown();
}

int TPlingFrm::Px(int pixelsAt96) const {
  return qtbridge::ScaleDesignPixels(pixelsAt96, *this);
}

void TPlingFrm::CreateComponents() {
  // The control bar.
  ControlPnl = new TPanel(this);
  ControlPnl->setObjectName(QStringLiteral("ControlPnl"));
  ControlPnl->resize(width(), Px(38));
  FAligner.Add(ControlPnl, TAlign::alBottom);

  GradientFill = new about::TGradientFill(ControlPnl);
  GradientFill->setObjectName(QStringLiteral("GradientFill"));
  GradientFill->SetBeginColor(settings::clBtnShadow);
  GradientFill->SetEndColor(settings::clBtnFace);
  GradientFill->SetFillDirection(about::fdLeftToRight);
  GradientFill->SetNumberOfColors(64);

  Image = new QLabel(ControlPnl);
  Image->setObjectName(QStringLiteral("Image"));
  Image->setAlignment(Qt::AlignCenter);
  Image->setAttribute(Qt::WA_TranslucentBackground);
  Image->resize(Px(116), Px(38));
  Image->setPixmap(QIcon(QStringLiteral(":/pling/logo.svg")).pixmap(QSize(Px(108), Px(30))));
  ControlPnl->AddAligned(Image, TAlign::alRight);
  Image->installEventFilter(this);  // a click on the logo opens the About window

  StartBtn = new TStartButton(ControlPnl);
  StartBtn->setIconSize(QSize(Px(16), Px(16)));
  StartBtn->setGeometry(Px(8), Px(5), Px(81), Px(29));
  connect(StartBtn, &QToolButton::clicked, this, [this] { StartBtnClick(); });

  StatusLbl = new TColorLabel(ControlPnl);
  StatusLbl->setObjectName(QStringLiteral("StatusLbl"));
  StatusLbl->setAlignment(Qt::AlignCenter);
  StatusLbl->setAttribute(Qt::WA_TranslucentBackground);
  StatusLbl->setFont(
      qtbridge::ToQFont(TFont{"MS Sans Serif", 12, settings::clInfoText, {settings::fsBold}}));
  StatusLbl->SetColor(settings::clInfoText);
  StatusLbl->setGeometry(Px(96), Px(8), Px(193), Px(20));

  AnnounceLbl = new TAnnouncer(ControlPnl);
  AnnounceLbl->setObjectName(QStringLiteral("AnnounceLbl"));

  IncomingIcon = new TIconImage(ControlPnl);
  IncomingIcon->setObjectName(QStringLiteral("IncomingIcon"));
  IncomingIcon->Icon = QIcon(QStringLiteral(":/pling/tray-incoming.svg"));
  IncomingIcon->hide();
  SilenceIcon = new TIconImage(ControlPnl);
  SilenceIcon->setObjectName(QStringLiteral("SilenceIcon"));
  SilenceIcon->Icon = QIcon(QStringLiteral(":/pling/tray-quiet.svg"));
  SilenceIcon->hide();
  ControlPnl->OnResize = [this] {
    // The gradient lies under the whole bar, the logo included.
    GradientFill->setGeometry(ControlPnl->rect());
    ControlPnlResize();
  };

  // The receivers column at the right, and its splitter.
  ReceiversPnl = new TPanel(this);
  ReceiversPnl->setObjectName(QStringLiteral("ReceiversPnl"));
  ReceiversPnl->SetBorderWidth(Px(4));
  ReceiversPnl->resize(Px(89), height());
  FAligner.Add(ReceiversPnl, TAlign::alRight);

  ReceiversLbx = new TListBox(ReceiversPnl);
  ReceiversLbx->setObjectName(QStringLiteral("ReceiversLbx"));
  ReceiversLbx->SetItemHeight(Px(13));
  ReceiversLbx->SetCoreFont(qtbridge::DesignFont({settings::fsBold}));
  ReceiversPnl->AddAligned(ReceiversLbx, TAlign::alClient);

  Splitter = new TSplitter(TAlign::alRight, this);
  Splitter->setObjectName(QStringLiteral("Splitter"));
  Splitter->resize(Px(4), height());
  Splitter->SetMinSize(Px(10));
  FAligner.Add(Splitter, TAlign::alRight);

  // The two panes.
  PanelsPnl = new TPanel(this);
  PanelsPnl->setObjectName(QStringLiteral("PanelsPnl"));
  PanelsPnl->SetBorderWidth(Px(4));
  FAligner.Add(PanelsPnl, TAlign::alClient);
  Splitter->SetControls(ReceiversPnl, PanelsPnl);
  Splitter->OnRealign = [this] { Realign(); };

  SendMmo = new TMemo(PanelsPnl);
  SendMmo->setObjectName(QStringLiteral("SendMmo"));
  SendMmo->resize(width(), Px(163));
  SendMmo->SetCoreFont(TFont{});
  SendMmo->SetCapacity(kSendPaneCapacity);
  PanelsPnl->AddAligned(SendMmo, TAlign::alBottom);

  Splitter1 = new TSplitter(TAlign::alBottom, PanelsPnl);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->resize(width(), Px(4));
  Splitter1->SetMinSize(Px(10));
  PanelsPnl->AddAligned(Splitter1, TAlign::alBottom);

  ReceivedMmo = new TMemo(PanelsPnl);
  ReceivedMmo->setObjectName(QStringLiteral("ReceivedMmo"));
  ReceivedMmo->setReadOnly(true);
  // Read with the keyboard too (a screen reader follows the caret).
  ReceivedMmo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // Text only ever arrives at its end and leaves at its top: an undo history
  // would grow with every message for as long as the program runs.
  ReceivedMmo->setUndoRedoEnabled(false);
  ReceivedMmo->SetCoreFont(qtbridge::DesignFont({settings::fsItalic}));
  PanelsPnl->AddAligned(ReceivedMmo, TAlign::alClient);
  Splitter1->SetControls(SendMmo, ReceivedMmo);
  Splitter1->OnRealign = [this] { PanelsPnl->Realign(); };
  Splitter1->OnMoved = [this] { Splitter1Moved(); };
  PanelsPnl->OnResize = [this] { PanelsPnlResize(); };

  StatusTmr = new QTimer(this);
  StatusTmr->setObjectName(QStringLiteral("StatusTmr"));
  StatusTmr->setInterval(kStatusMs);
  StatusTmr->setTimerType(Qt::PreciseTimer);
  connect(StatusTmr, &QTimer::timeout, this, [this] { StatusTmrTimer(); });
  // A computer whose messages are dropped because it sends too many is named once.
  ShowDroppedSenders(this, [this](const QString& text) {
    FAutoAdd.Limited();
    ShowNotice(text);
  });
  TrackAutoAddUse(*ReceiversLbx, FAutoAdd);  // a name selected is kept like any

  // The controls' tab order: the panes first, the list, then the button.
  setTabOrder(ReceivedMmo, SendMmo);
  setTabOrder(SendMmo, ReceiversLbx);
  setTabOrder(ReceiversLbx, StartBtn);
  ReturnFocusAfterDialogs(*this);
  FitDialogsToScreen(*this);
}

void TPlingFrm::SetAccessibleTexts() {
  // The window is a frame named by its caption (the Start button names itself).
  SetAccessibleRole(*this, QAccessible::Window);
  ReceivedMmo->setAccessibleName(QStringLiteral("Received messages"));
  ReceivedMmo->setAccessibleDescription(
      QStringLiteral("Messages that came in, newest last. Tab moves on."));
  SendMmo->setAccessibleName(QStringLiteral("Message to send"));
  SendMmo->setAccessibleDescription(QStringLiteral(
      "Enter sends the line to the selected receivers. Shift+F10 opens the pane's menu."));
  ReceiversLbx->setAccessibleName(QStringLiteral("Receivers"));
  ReceiversLbx->setAccessibleDescription(
      QStringLiteral("Who gets a message: the selected names. Space selects or deselects a "
                     "name; Shift+F10 opens the list's menu."));
  Image->setAccessibleName(QStringLiteral("Pling"));
  Image->setAccessibleDescription(QStringLiteral("The logo; a click opens the About window."));
  SetAccessibleRole(*StatusLbl, QAccessible::StatusBar);
  StatusLbl->setAccessibleDescription(QStringLiteral("Status line"));
  AnnounceLbl->setAccessibleDescription(QStringLiteral("Incoming message"));
}

namespace {

QAction* Item(QMenu* menu, const char* name, const QString& caption) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

QAction* Check(QMenu* menu, const char* name, const QString& caption, bool checked) {
  QAction* action = Item(menu, name, caption);
  action->setCheckable(true);
  action->setChecked(checked);
  return action;
}

QAction* Separator(QMenu* menu, const char* name) {
  QAction* action = menu->addSeparator();
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

QMenu* Submenu(QMenu* menu, const char* name, const QString& caption, QAction*& item) {
  QMenu* sub = menu->addMenu(caption);
  sub->setObjectName(QString::fromLatin1(name) + QStringLiteral("Mnu"));
  item = sub->menuAction();
  item->setObjectName(QString::fromLatin1(name));
  return sub;
}

}  // namespace

void TPlingFrm::CreateMenus() {
  // A command's error goes to the application's handler (a message box) right
  // here, without unwinding through Qt's own frames.
  const auto on = [this](QAction* action, auto handler) {
    connect(action, &QAction::triggered, this, [handler] {
      try {
        handler();
      } catch (...) {
        runtime::HandleApplicationException(std::current_exception());
      }
    });
  };

  ReceiversMnu = new QMenu(this);
  ReceiversMnu->setObjectName(QStringLiteral("ReceiversMnu"));
  Add1 = Item(ReceiversMnu, "Add1", QStringLiteral("&Add"));
  Edit1 = Item(ReceiversMnu, "Edit1", QStringLiteral("&Edit"));
  Delete1 = Item(ReceiversMnu, "Delete1", QStringLiteral("&Delete"));
  N1 = Separator(ReceiversMnu, "N1");
  Send1 = Item(ReceiversMnu, "Send1", QStringLiteral("&Send"));
  N3 = Separator(ReceiversMnu, "N3");
  NamesColor1 = Item(ReceiversMnu, "NamesColor1", QStringLiteral("&Color"));
  NamesFont1 = Item(ReceiversMnu, "NamesFont1", QStringLiteral("&Font"));

  ReceivedMnu = new QMenu(this);
  ReceivedMnu->setObjectName(QStringLiteral("ReceivedMnu"));
  Clear1 = Item(ReceivedMnu, "Clear1", QStringLiteral("&Clear"));
  Saveas1 = Item(ReceivedMnu, "Saveas1", QStringLiteral("&Save as..."));
  N11 = Separator(ReceivedMnu, "N11");
  RecvdColor1 = Item(ReceivedMnu, "RecvdColor1", QStringLiteral("C&olor"));
  RecvdFont1 = Item(ReceivedMnu, "RecvdFont1", QStringLiteral("&Font"));

  SendMnu = new QMenu(this);
  SendMnu->setObjectName(QStringLiteral("SendMnu"));
  Clear2 = Item(SendMnu, "Clear2", QStringLiteral("&Clear"));
  Open1 = Item(SendMnu, "Open1", QStringLiteral("&Open"));
  Saveas2 = Item(SendMnu, "Saveas2", QStringLiteral("&Save as..."));
  Sendselection1 = Item(SendMnu, "Sendselection1", QStringLiteral("S&end selection"));
  N2 = Separator(SendMnu, "N2");
  SendColor1 = Item(SendMnu, "SendColor1", QStringLiteral("Co&lor"));
  SendFont1 = Item(SendMnu, "SendFont1", QStringLiteral("&Font"));

  StartMnu = new QMenu(this);
  StartMnu->setObjectName(QStringLiteral("StartMnu"));
  Info1 = Item(StartMnu, "Info1", QStringLiteral("About"));
  AddHistoryItems(*StartMnu, *this, *FHistory);  // "History...", Ctrl+F; "Keep history"
  N15 = Separator(StartMnu, "N15");
  QMenu* receivers = Submenu(StartMnu, "Receivers1", QStringLiteral("Receivers"), Receivers1);
  Add2 = Item(receivers, "Add2", QStringLiteral("&Add"));
  Edit2 = Item(receivers, "Edit2", QStringLiteral("&Edit"));
  Delete2 = Item(receivers, "Delete2", QStringLiteral("&Delete"));
  N8 = Separator(receivers, "N8");
  Send3 = Item(receivers, "Send3", QStringLiteral("&Send"));
  Network1 = Item(receivers, "Network1", QStringLiteral("&Network..."));
  N14 = Separator(receivers, "N14");
  Automaticadd1 = Check(receivers, "Automaticadd1", QStringLiteral("Automatic add"), true);
  N4 = Separator(StartMnu, "N4");
  QMenu* received = Submenu(StartMnu, "Received1", QStringLiteral("Received"), Received1);
  Clear3 = Item(received, "Clear3", QStringLiteral("&Clear"));
  N5 = Separator(received, "N5");
  Saveas3 = Item(received, "Saveas3", QStringLiteral("Save as..."));
  N12 = Separator(received, "N12");
  Popup1 = Check(received, "Popup1", QStringLiteral("Pop up"), true);
  Seperators1 = Check(received, "Seperators1", QStringLiteral("Seperators"), true);
  Timestamps1 = Check(received, "Timestamps1", QStringLiteral("Timestamps"), true);
  Playincoming1 = Check(received, "Playincoming1", QStringLiteral("Play incoming"), false);
  RecvLinewrap = Check(received, "RecvLinewrap", QStringLiteral("Line wrap"), false);
  QMenu* send = Submenu(StartMnu, "Send2", QStringLiteral("Send"), Send2);
  Clear4 = Item(send, "Clear4", QStringLiteral("&Clear"));
  N6 = Separator(send, "N6");
  Open2 = Item(send, "Open2", QStringLiteral("Open"));
  Saveas4 = Item(send, "Saveas4", QStringLiteral("Save as..."));
  Sendselection2 = Item(send, "Sendselection2", QStringLiteral("Send selection"));
  N13 = Separator(send, "N13");
  Automaticsend1 = Check(send, "Automaticsend1", QStringLiteral("Automatic send"), true);
  SendLinewrap = Check(send, "SendLinewrap", QStringLiteral("Line wrap"), false);
  N7 = Separator(StartMnu, "N7");
  QMenu* server = Submenu(StartMnu, "Server1", QStringLiteral("Server"), Server1);
  Useserver1 = Check(server, "Useserver1", QStringLiteral("Use server"), false);
  N9 = Separator(server, "N9");
  servername1 = Item(server, "servername1", QStringLiteral("<Server>"));
  Activate1 = Item(StartMnu, "Activate1", QStringLiteral("Activate"));
  N10 = Separator(StartMnu, "N10");
  Exit1 = Item(StartMnu, "Exit1", QStringLiteral("&Exit"));

  // Check marks are switched by ToggleMuiClick, not by Qt on its own, so that
  // the handler sees the mark before the click.
  for (QAction* toggle : {Automaticadd1, Popup1, Seperators1, Timestamps1, Playincoming1,
                          RecvLinewrap, Automaticsend1, SendLinewrap}) {
    connect(toggle, &QAction::triggered, this, [this, toggle](bool checked) {
      toggle->setChecked(!checked);  // undo Qt's own toggle
      ToggleMuiClick(toggle);
    });
  }
  connect(Useserver1, &QAction::triggered, this, [this](bool checked) {
    Useserver1->setChecked(!checked);  // the handler decides
    Useserver1Click();
  });
  on(servername1, [this] { servername1Click(); });
  for (QAction* add : {Add1, Add2}) on(add, [this] { Add1Click(); });
  on(Network1, [this] { FNetwork->ShowNetworkFrm(this); });
  // The list's menu acts on the item it opened at, the Start menu on the list's
  // current item (where the keyboard is, or the last click).
  on(Edit1, [this] { Edit1Click(FMenuItem); });
  on(Delete1, [this] { Delete1Click(FMenuItem); });
  on(Edit2, [this] { Edit1Click(ReceiversLbx->currentIndex()); });
  on(Delete2, [this] { Delete1Click(ReceiversLbx->currentIndex()); });
  for (QAction* sendItem : {Send1, Send3, Sendselection1, Sendselection2})
    on(sendItem, [this] { Send1Click(); });
  SendMmo->OnKeyPress = [this](QKeyEvent& key) { SendMmoKeyPress(key); };
  for (QAction* save : {Saveas1, Saveas3}) on(save, [this] { Saveas1Click(); });
  for (QAction* save : {Saveas2, Saveas4}) on(save, [this] { Saveas2Click(); });
  for (QAction* open : {Open1, Open2}) on(open, [this] { Open1Click(); });
  on(Clear1, [this] { Clear1Click(); });
  on(Clear3, [this] { Clear1Click(); });
  on(Clear2, [this] { Clear2Click(); });
  on(Clear4, [this] { Clear2Click(); });
  for (QAction* font : {NamesFont1, RecvdFont1, SendFont1})
    on(font, [this, font] { RecvdFont1Click(font); });
  for (QAction* color : {NamesColor1, RecvdColor1, SendColor1})
    on(color, [this, color] { RecvdColor1Click(color); });
  on(Activate1, [this] { Activate1Click(); });
  on(Exit1, [this] { Exit1Click(); });

  on(Info1, [this] { Info1Click(); });

  // The popup menus of the panes and the list.
  const auto popup = [](QAbstractScrollArea* area, QMenu* menu) {
    area->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(area, &QWidget::customContextMenuRequested, menu,
            [area, menu](const QPoint& pos) { menu->popup(area->viewport()->mapToGlobal(pos)); });
  };
  popup(ReceivedMmo, ReceivedMnu);
  popup(SendMmo, SendMnu);
  // The item the list's menu opens at, by mouse or keyboard.
  connect(ReceiversLbx, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { FMenuItem = ReceiversLbx->indexAt(pos); });
  popup(ReceiversLbx, ReceiversMnu);
}

// ---------------------------------------------------------------------------
// Settings

void TPlingFrm::ReadSetting(const settings::TStoredKey& key, const std::function<void()>& read) {
  try {
    read();
  } catch (const runtime::EConvertError& error) {
    // The window keeps what it has; the stored text stays until the user
    // changes the setting (see FormClose).
    FUnreadSettings.emplace(SettingId(key.section, key.key), std::string());
    FStartProblems << qtbridge::FromAnsi(settings::SettingProblemText(
        key.section, key.key, MegaRegistry->ReadText(key, ""), error.what()));
  }
}

std::string TPlingFrm::SettingId(std::string_view section, std::string_view key) {
  std::string id(section);
  return id.append("\\").append(key);
}

std::vector<TPlingFrm::TSettingItem> TPlingFrm::SettingItems() {
  using settings::TStoredKey;
  const settings::TMegaRegistry& store = *MegaRegistry;
  std::vector<TSettingItem> items;
  const auto font = [&](const TStoredKey& key, auto* control) {
    items.push_back({&key,
                     [&store, control](const TStoredKey& k) {
                       control->SetCoreFont(store.ReadFont(k, control->CoreFont()));
                     },
                     [control] { return settings::FontToText(control->CoreFont()); }});
  };
  const auto color = [&](const TStoredKey& key, auto* control) {
    items.push_back({&key,
                     [&store, control](const TStoredKey& k) {
                       control->SetColor(settings::TextToColor(
                           store.ReadText(k, settings::ColorToText(control->Color()))));
                     },
                     [control] { return settings::ColorToText(control->Color()); }});
  };
  const auto flag = [&](const TStoredKey& key, QAction* item) {
    items.push_back({&key,
                     [&store, item](const TStoredKey& k) {
                       item->setChecked(store.ReadBool(k, item->isChecked()));
                     },
                     [item] { return std::string(item->isChecked() ? "1" : "0"); }});
  };
  font(settings::kReceivedFontKey, ReceivedMmo);
  font(settings::kSendFontKey, SendMmo);
  font(settings::kReceiversFontKey, ReceiversLbx);
  color(settings::kReceivedColorKey, ReceivedMmo);
  color(settings::kSendColorKey, SendMmo);
  color(settings::kReceiversColorKey, ReceiversLbx);
  items.push_back({&settings::kSplitKey,
                   [this, &store](const TStoredKey& k) {
                     ReceiversPnl->resize(store.ReadInteger(k, ReceiversPnl->width()),
                                          ReceiversPnl->height());
                   },
                   [this] { return std::to_string(ReceiversPnl->width()); }});
  flag(settings::kUseServerKey, Useserver1);
  flag(settings::kAutomaticSendKey, Automaticsend1);
  items.push_back({&settings::kServerNameKey,
                   [this, &store](const TStoredKey& k) {
                     servername1->setText(qtbridge::FromAnsi(
                         store.ReadText(k, qtbridge::ToAnsi(servername1->text()))));
                   },
                   [this] { return qtbridge::ToAnsi(servername1->text()); }});
  flag(settings::kPlayIncomingKey, Playincoming1);
  flag(settings::kRecvLineWrapKey, RecvLinewrap);
  flag(settings::kSendLineWrapKey, SendLinewrap);
  flag(settings::kPopupKey, Popup1);
  // Read as the wish to listen; FormCreate acts on it once every value is read.
  items.push_back(
      {&settings::kActiveKey,
       [this, &store](const TStoredKey& k) { FStoredActive = store.ReadBool(k, FStoredActive); },
       [this] { return std::string(Pling->Active() ? "1" : "0"); }});
  items.push_back({&settings::kNetworkNoticeKey,
                   [this, &store](const TStoredKey& k) {
                     FNetworkNotice = qtbridge::FromAnsi(store.ReadText(k));
                   },
                   [this] { return qtbridge::ToAnsi(FNetworkNotice); }});
  return items;
}

std::vector<TPlingFrm::TSetting> TPlingFrm::SettingsToStore(std::size_t leaveOut) {
  // An empty entry after the last: the reading stops there, and entries of an
  // earlier, longer list do not come back. Made again only when the list changed.
  const TReceiversRecord::TEntries receivers = FReceivers.Entries(*ReceiversLbx, FAutoAdd);
  std::vector<TSetting> list;
  leaveOut = std::min(leaveOut, receivers->size());
  list.reserve(receivers->size() - leaveOut + 32);
  list.assign(receivers->begin() + static_cast<std::ptrdiff_t>(leaveOut), receivers->end());
  for (const TSettingItem& item : SettingItems())
    list.push_back({item.key->section, item.key->key, item.text()});
  return list;
}

void TPlingFrm::FormCreate() {
  // A settings file that cannot be read, or lines of it that cannot, are told
  // first, by file and line: what the window shows then is not what was stored.
  for (const std::string& problem : MegaRegistry->BackEndProblems())
    FStartProblems << qtbridge::FromAnsi(problem);
  // First: the network switch must hold whatever else is stored.
  InstallNetworkWait();
  ReadSetting(settings::kNetworkKey, [this] { ApplyNetworkSetting(*MegaRegistry); });
  try {
    FUserName.clear();
    FComputerName.clear();
    // The receivers, stored in list order; a value ends in "+" when selected.
    // A value of any length reads back whole, so the first empty one is the end.
    // The list sorts as it goes, so each mark goes where its name went, which is
    // not always its stored place (another locale's order, or a hand's).
    QList<std::pair<QString, bool>> receivers;
    const std::vector<std::string> read =
        MegaRegistry->ReadList(settings::kReceiversKey.section, settings::kReceiversKey.key);
    for (const std::string& value : read) {
      const std::string name = value.substr(0, value.size() - 1);
      receivers.emplace_back(qtbridge::FromAnsi(name), value.back() == '+');
      FAutoAdd.Restore(name, value.back());
    }
    ReceiversLbx->AddItems(receivers);

    // Each value on its own: one that cannot be read keeps the window's present
    // value, and the others are read all the same.
    FStoredActive = Pling->Active();
    for (const TSettingItem& item : SettingItems())
      ReadSetting(*item.key, [&item] { item.read(*item.key); });
    Realign();
    SetWrapState(*ReceivedMmo, RecvLinewrap->isChecked());
    SetWrapState(*SendMmo, SendLinewrap->isChecked());
    if (FStoredActive != Pling->Active()) Activate1Click();
    FStartReceivers = FReceivers.Entries(*ReceiversLbx, FAutoAdd);
    FStartSettings = SettingsToStore(FStartReceivers->size());
    FReceivers.NoteRead(*MegaRegistry, read);
  } catch (...) {
    // The window opens with what was set until the failing step.
    FStartProblems << ExceptionMessage(std::current_exception());
  }
  // What the window would write for each value it could not read: while it
  // stays so, the stored text is left as it is.
  if (FUnreadSettings.empty()) return;
  for (const TSetting& setting : SettingsToStore()) {
    const auto unread = FUnreadSettings.find(SettingId(setting.section, setting.key));
    if (unread != FUnreadSettings.end()) unread->second = setting.text;
  }
}

void TPlingFrm::ReportStartProblems() {
  // Everything that went wrong at the start, in one message.
  if (FStartProblems.isEmpty()) return;
  const QString text = FStartProblems.join(QLatin1Char('\n'));
  FStartProblems.clear();
  ShowErrorMessage(this, text);
}

void TPlingFrm::FormClose() {
  // Every value goes out as one replacement of the settings file. Settings that
  // could not be written are not lost silently: the user is told, and asked.
  KeepSettingsAtExit(
      this, [this] { return WriteSettings(); },
      [this] { return Joined(*FStartReceivers, FStartSettings); },
      [this] { return SettingsToStore(); }, SaveDialog);
}

std::exception_ptr TPlingFrm::WriteSettings() {
  const settings::TReadHold hold;  // one look at the file for the checks below
  std::vector<settings::TSettingText> kept;
  // The receivers' entries the store holds as they stand are not even made again.
  const std::vector<TSetting> values =
      SettingsToStore(FReceivers.Held(*MegaRegistry, *ReceiversLbx, FAutoAdd));
  for (const TSetting& setting : values) {
    // A stored value the window could not read is not overwritten by the
    // value the window kept instead, only by one the user chose.
    const auto unread = FUnreadSettings.empty()
                            ? FUnreadSettings.end()
                            : FUnreadSettings.find(SettingId(setting.section, setting.key));
    if (unread == FUnreadSettings.end() || unread->second != setting.text)
      kept.push_back({setting.section, setting.key, setting.text});
  }
  return WriteSettingsAtExit(*MegaRegistry, kept);  // the bounds too, in the same write
}

void TPlingFrm::closeEvent(QCloseEvent* event) {
  if (!FClosed) {
    FClosed = true;
    FormClose();
    emit Closed();
  }
  event->accept();
}

// ---------------------------------------------------------------------------
// Activation and the status line

void TPlingFrm::Activate1Click() {
  // Decided by the component's state, which the Start button then shows (a
  // screen reader is told the change).
  try {
    if (!Pling->Active()) {
      Pling->Open();
    } else {
      Pling->Close();
    }
  } catch (const mailslot::ElxMailSlot& error) {
    ShowStatus(qtbridge::FromAnsi(error.what()));
  }
  StartBtn->setChecked(Pling->Active());
  Activate1->setText(Pling->Active() ? QStringLiteral("Deactivate") : QStringLiteral("Activate"));
}

void TPlingFrm::PlingOpen() {
  StartBtn->setChecked(true);
  ShowStatus(QStringLiteral("Activated for %1 on %2")
                 .arg(qtbridge::FromAnsi(CapitalizeName(LocalUserName())),
                      qtbridge::FromAnsi(CapitalizeName(LocalComputerName()))));
  ReportNetworkNotice();
  // What the network says about this machine's names, as other notices; and receiving's news.
  WatchNameNotices(this, [this](const QString& text) { ShowNotice(text); });
  WatchReachable(this, [this](const QString& news) {
    UpdateRestingStatus();
    if (!news.isEmpty()) ShowStatus(news);
  });
  UpdateTrayTip();
}

void TPlingFrm::PlingClose() {
  StartBtn->setChecked(false);
  ShowStatus(QStringLiteral("Deactivated"));
  UpdateTrayTip();
}

void TPlingFrm::ReportNetworkNotice() {
  // A box (not blocking the window) once, then the status line and tray tip; a new reason anew.
  FNetworkNotice = ReportNetworkProblem(this, FNetworkNotice);
  if (const QString news = NewNetworkProblemBrief(); !news.isEmpty()) AnnounceLbl->Announce(news);
}

void TPlingFrm::StartBtnClick() {
  const QPoint corner = StartBtn->mapToGlobal(QPoint(0, 0));
  StartMnu->exec(corner);
  StartBtn->setChecked(Pling->Active());
}

const QString TPlingFrm::kNotReceiving = QStringLiteral("Not receiving: Start \u25B8 Activate");

void TPlingFrm::SetStatusText(const QString& text, const QString& tip) {
  const QString whole = tip.isEmpty() ? text : tip;
  if (StatusLbl->toolTip() != whole) StatusLbl->setToolTip(whole);
  // Shown at once, even while a send keeps the loop waiting; the same text needs no painting.
  if (StatusLbl->text() != text) {
    StatusLbl->setText(text);
    StatusLbl->repaint();
  }
}

void TPlingFrm::ShowStatus(const QString& Text) {
  SetStatusText(Text);
  // The answer to what the user did is read out (incoming messages have their own).
  if (Text != QStringLiteral("Incoming")) AnnounceLbl->Announce(Text);
  // A running timer is not restarted: a second text within the interval
  // replaces the first, and both vanish when the interval ends; but every text
  // stays long enough to be read.
  if (!StatusTmr->isActive()) {
    StatusTmr->start(kStatusMs);
  } else if (StatusTmr->remainingTime() < kMinStatusMs) {
    StatusTmr->start(kMinStatusMs);
  }
}

QString TPlingFrm::RestingStatus() const {
  return Pling->Active() ? NetworkRestingStatus() : kNotReceiving;
}

void TPlingFrm::UpdateRestingStatus() {
  // A problem of the network side may show only some time after the opening.
  if (Pling->Active()) ReportNetworkNotice();
  if (!StatusTmr->isActive()) {
    const QString resting = RestingStatus();
    SetStatusText(resting, resting == NetworkProblemBrief() ? NetworkProblemText() : QString());
  }
  UpdateTrayTip();
}

void TPlingFrm::ShowNotice(const QString& Text) {
  ShowStatus(Text);
  FNoticeShown = true;
  StatusTmr->start(kStatusMs);
}

void TPlingFrm::StatusTmrTimer() {
  StatusTmr->stop();
  StatusTmr->setInterval(kStatusMs);
  FNoticeShown = false;
  UpdateRestingStatus();
  // In the notification area the incoming picture stays until the window is back.
  if (!TrayIcon->Active()) ResetTrayIcon();
}

void TPlingFrm::UpdateTrayTip() {
  QString tip = QStringLiteral("Pling");
  if (const int unread = FNotifier->Unread(); unread == 1) {
    tip += QStringLiteral(": 1 unread message");
  } else if (unread > 1) {
    tip += QStringLiteral(": %1 unread messages").arg(unread);
  }
  if (!Pling->Active()) {
    tip += QStringLiteral("\nNot receiving");
  } else if (const QString resting = RestingStatus(); !resting.isEmpty()) {
    tip += QLatin1Char('\n') + resting;
  }
  // Showing the icon puts the program's name back as its tip.
  if (TrayIcon->IconData().szTip == tray::CutTip(tip)) return;
  if (TrayIcon->Hint() == tip) TrayIcon->SetHint(QString());
  TrayIcon->SetHint(tip);
}

void TPlingFrm::ResetTrayIcon() {
  if (TrayIcon->Tag() != 1) return;
  TrayIcon->SetTag(0);
  TrayIcon->SetIcon(SilenceIcon->Icon);
}

// ---------------------------------------------------------------------------
// Life in the notification area

void TPlingFrm::FollowTrayHost() {
  // The window has no task-bar entry while a notification area can take it;
  // without one, a minimised window must stay reachable from the task bar.
  tray::SetTaskbarEntry(*this, !TrayIcon->TrayAvailable());
}

void TPlingFrm::TrayIconMinimize() {
  TrayIcon->SetActive(true);
  UpdateTrayTip();
}

void TPlingFrm::TrayIconRestore() {
  TrayIcon->SetActive(false);
  ResetTrayIcon();
  // Back in sight: what came in meanwhile is read.
  FNotifier->Seen();
}

void TPlingFrm::TrayIconDblClick() {
  // Restoring fires TrayIconRestore through the tray icon's hook.
  tray::RestoreWindow(*this);
}

void TPlingFrm::TrayIconMouseDown() {
  activateWindow();
}

void TPlingFrm::Info1Click() {
  about::ShowAboutWindow();
}

void TPlingFrm::Exit1Click() {
  close();
}

// ---------------------------------------------------------------------------
// Incoming messages

void TPlingFrm::PlingMessage(const std::string& AReciever, const std::string& ASender,
                             const std::string& AMsg) {
  TakeIncoming(AReciever, ASender, AMsg);
  PlingBatchEnd();
}

void TPlingFrm::PlingMessages(const std::vector<net::TMessengerMessage>& Batch) {
  for (const net::TMessengerMessage& message : Batch)
    TakeIncoming(message.receiver, message.sender, message.text);
  PlingBatchEnd();
}

void TPlingFrm::TakeIncoming(const std::string& AReciever, const std::string& ASender,
                             const std::string& AMsg) {
  // A message that arrives again right after itself (once per shared
  // protocol) is shown once.
  const QString key = qtbridge::FromAnsi(AMsg + AReciever + ASender);
  if (key == FLastMessage) return;
  FLastMessage = key;
  FHistory->Take(AReciever, ASender, AMsg);  // stored when the batch is shown
  ++FBatch.shown;
  FBatch.latest.push_back({ASender, AReciever, AMsg});
  if (FBatch.latest.size() > TIncomingNotifier::kLatestShown) FBatch.latest.pop_front();

  // Automatic add, bounded (TAutoAddRule): a flood must not fill the list for good.
  if (Automaticadd1->isChecked()) {
    const QString sender = NormalName(qtbridge::FromAnsi(ASender));
    const auto verdict =
        FAutoAdd.Admit(qtbridge::ToAnsi(sender), ReceiversLbx->ContainsText(sender),
                       ReceiversLbx->count(), kMaxAutoAddedReceivers);
    if (verdict == TAutoAddRule::TVerdict::Add) {
      AddReceiver(sender);
      FAutoAddFullShown = false;
    } else if (verdict == TAutoAddRule::TVerdict::ListFull) {
      FBatch.listFull = FBatch.listFull || !FAutoAddFullShown;
      FAutoAddFullShown = true;
    }
  }

  QString text;
  // A separator once the pane holds more than one line. Whether it does is
  // counted only while the pane may hold just one (a batch's first messages).
  if (Seperators1->isChecked()) {
    if (FBatch.knownLines <= 1) {
      if (!FBatch.pending.empty()) {
        ReceivedMmo->AppendLines(JoinLines(FBatch.pending), kMaxReceivedLines);
        FBatch.pending.clear();
        FBatch.pendingLines = 0;
      }
      FBatch.knownLines = ReceivedMmo->LineCount();
    }
    if (FBatch.knownLines > 1) text = QString(30, QLatin1Char('-')) + QLatin1Char('\n');
  }
  // One time stamp for the batch: its messages are shown at once.
  if (Timestamps1->isChecked()) {
    if (FBatch.stamp.isNull()) FBatch.stamp = TimeStamp();
    text += FBatch.stamp + QLatin1Char('\n');
  }
  text += DisplayText(ASender, AReciever, AMsg);
  const int lines = static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
  FBatch.pending.push_back({std::move(text), lines});
  FBatch.pendingLines += lines;
  FBatch.knownLines += lines;
  // The pane keeps its last 1000 lines: what the rest of the batch alone would
  // push out again is never written, so a flood costs about one full pane per
  // batch however long the batch.
  while (FBatch.pending.size() > 1 &&
         FBatch.pendingLines - FBatch.pending.front().count >= kMaxReceivedLines) {
    FBatch.pendingLines -= FBatch.pending.front().count;
    FBatch.pending.pop_front();
  }
}

void TPlingFrm::PlingBatchEnd() {
  TIncomingBatch batch = std::exchange(FBatch, {});
  if (batch.shown == 0) return;
  FHistory->Commit();  // stored meanwhile; in the store before the pane is painted
  // Once per batch: the sound, the status line, the tray picture, the pane (one
  // edit, one trim) and the pop-up.
  SignalIncoming();
  if (batch.listFull) {
    ShowStatus(QStringLiteral("List full: %1 names").arg(kMaxAutoAddedReceivers));
  }
  if (!batch.pending.empty()) ReceivedMmo->AppendLines(JoinLines(batch.pending), kMaxReceivedLines);
  if (Popup1->isChecked()) tray::BringUpWindow(*this);

  // The desktop hears of it once for all the messages that came in together.
  std::vector<TShownMessage> latest;
  for (const auto& [sender, receiver, text] : batch.latest)
    latest.push_back(
        {qtbridge::FromAnsi(sender), qtbridge::FromAnsi(receiver), qtbridge::FromAnsi(text)});
  FNotifier->Incoming(latest, static_cast<std::size_t>(batch.shown));
  FHistory->Flush();
}

void TPlingFrm::SignalIncoming() {
  if (Playincoming1->isChecked()) MessageBeep();
  if (!FNoticeShown) ShowStatus(QStringLiteral("Incoming"));
  TrayIcon->SetIcon(IncomingIcon->Icon);
  TrayIcon->SetTag(1);
}

QString TPlingFrm::NormalName(const QString& Name) {
  return qtbridge::FromAnsi(CapitalizeName(qtbridge::ToAnsi(Name)));
}

int TPlingFrm::AddReceiver(const QString& Name) {
  const QString name = NormalName(Name);
  // Found without going through the list, however long it is.
  const int found = ReceiversLbx->IndexOfText(name);
  return found >= 0 ? found : ReceiversLbx->AddItem(name);
}

void TPlingFrm::ReportLostCharacters(const QString& typed) {
  if (qtbridge::FromAnsi(qtbridge::ToAnsi(typed)) != typed)
    ShowStatus(QStringLiteral("Some letters became \"?\""));
}

// ---------------------------------------------------------------------------
// Receivers and sending

void TPlingFrm::Add1Click() {
  QString text;
  if (!InputQuery(QStringLiteral("Add"), QStringLiteral("Receiver"), text) || text.isEmpty())
    return;
  ReportLostCharacters(text);
  const int position = AddReceiver(text);
  // A new receiver is selected only when nothing else is.
  if (ReceiversLbx->SelCount() == 0) ReceiversLbx->SetSelected(position, true);
}

void TPlingFrm::Edit1Click(const QPersistentModelIndex& item) {
  if (!item.isValid()) return;
  QString text = ReceiversLbx->item(item.row())->text();
  // The edited name joins the list; the item that was edited stays.
  if (InputQuery(QStringLiteral("Edit"), QStringLiteral("Receiver"), text)) {
    ReportLostCharacters(text);
    AddReceiver(text);
  }
}

void TPlingFrm::Delete1Click(const QPersistentModelIndex& item) {
  if (!item.isValid()) return;
  delete ReceiversLbx->takeItem(item.row());
}

namespace {

// The pane's line breaks as they go on the wire: paragraph ends, and the line
// separators that pasted text may hold.
QString WithWireLineBreaks(QString text) {
  text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
  text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
  return text;
}

}  // namespace

void TPlingFrm::Send1Click() {
  SendToSelected(WithWireLineBreaks(SendMmo->textCursor().selectedText()));
}

void TPlingFrm::SendMmoKeyPress(QKeyEvent& Key) {
  if (!Automaticsend1->isChecked()) return;
  if (Key.key() != Qt::Key_Return && Key.key() != Qt::Key_Enter) return;
  // The whole line that holds the end of the selection (or the caret) is sent;
  // the pane then breaks the line as usual.
  const QTextCursor cursor = SendMmo->textCursor();
  const QTextBlock line = SendMmo->document()->findBlock(cursor.selectionEnd());
  SendToSelected(WithWireLineBreaks(line.text()));
}

void TPlingFrm::SendToSelected(QString Text) {
  if (ReceiversLbx->count() == 0) Add1Click();
  if (ReceiversLbx->SelCount() == 0) {
    ShowStatus(QStringLiteral("No receiver selected"));
    return;
  }
  if (Text.isEmpty()) {
    QString what;
    if (InputQuery(QStringLiteral("Send"), QStringLiteral("What"), what)) {
      // A new last line. When the pane's text ends with a line break, its empty
      // last line is that new line (an empty text still adds one).
      QTextCursor end(SendMmo->document());
      end.movePosition(QTextCursor::End);
      if (what.isEmpty() || !end.block().text().isEmpty()) {
        SendMmo->appendPlainText(what);
      } else {
        end.insertText(what);
      }
      Text = what;
    }
  }
  if (Text.isEmpty()) {
    ShowStatus(QStringLiteral("Nothing to send"));
    return;
  }
  // The receivers as they are selected now, in list order: while a write waits
  // for a name lookup the window takes incoming messages, which may add
  // receivers and move the list's positions.
  SendToSeveral(
      *Pling, ReceiversLbx->SelectedTexts(), Text,
      [this](const QString& receiver) {
        return mailslot::ChooseSendRoute(
            LocalUserName(), [this] { return LocalComputerName(); }, Useserver1->isChecked(),
            qtbridge::ToAnsi(servername1->text()), qtbridge::ToAnsi(receiver));
      },
      [this](const QString& status) { ShowStatus(status); },
      [this](const std::vector<TSentRecord>& sent) { FHistory->Sent(sent); });
}

void TPlingFrm::Useserver1Click() {
  if (Useserver1->isChecked()) {
    Useserver1->setChecked(false);
  } else {
    servername1Click();
  }
}

void TPlingFrm::servername1Click() {
  QString name = servername1->text();
  if (!InputQuery(QStringLiteral("Use a server"), QStringLiteral("Name"), name)) return;
  servername1->setText(name);
  Useserver1->setChecked(true);
}

std::string TPlingFrm::LocalUserName() {
  if (FUserName.empty()) FUserName = platform::GetUserName();
  return FUserName;
}

std::string TPlingFrm::LocalComputerName() {
  if (FComputerName.empty()) FComputerName = platform::GetComputerName();
  return FComputerName;
}

std::string TPlingFrm::CapitalizeName(std::string_view Name) {
  if (Name.empty()) return {};
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  // The whole name, however long: the list keeps what it is given.
  std::string result;
  result.reserve(Name.size());
  result += net::NetBiosUpper(Name[0]);
  for (char c : Name.substr(1)) result += lower(c);
  return result;
}

// ---------------------------------------------------------------------------
// Panes, fonts, colours, options

void TPlingFrm::SetWrapState(TMemo& memo, bool wrap) {
  memo.SetWordWrap(wrap);
}

void TPlingFrm::ToggleMuiClick(QAction* Sender) {
  Sender->setChecked(!Sender->isChecked());
  if (Sender == RecvLinewrap) SetWrapState(*ReceivedMmo, RecvLinewrap->isChecked());
  if (Sender == SendLinewrap) SetWrapState(*SendMmo, SendLinewrap->isChecked());
}

void TPlingFrm::SavePane(const TMemo& memo, bool linesEndWithBreak) {
  const QString path = SaveDialog(this);
  if (path.isEmpty()) return;
  FSavePath = path;
  // Plain ANSI text with CR LF line breaks; display breaks of a wrapping pane
  // are not part of the text. The raw text keeps every character as it came
  // (the plain-text view would turn a no-break space into a space).
  QString raw = memo.document()->toRawText();
  raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  raw.replace(QChar::LineSeparator, QLatin1Char('\n'));
  std::string out = mailslot::EachLfToCrLf(qtbridge::ToAnsi(raw));
  if (linesEndWithBreak && !out.empty()) out += "\r\n";
  // Written beside the file and put in its place only when whole: a failed save
  // leaves the file that was there as it was.
  SaveFileSafely(path, out);
}

void TPlingFrm::Saveas1Click() {
  // Every line the window appends to the received pane ends with a line break.
  SavePane(*ReceivedMmo, true);
}

void TPlingFrm::Saveas2Click() {
  SavePane(*SendMmo, false);
}

void TPlingFrm::Open1Click() {
  const QString path = OpenDialog(this);
  if (path.isEmpty()) return;
  FOpenPath = path;
  QFile file(path);
  // Only a plain file: a pipe or a device would keep the window waiting, perhaps
  // for ever.
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
    throw runtime::Exception("Cannot open file " + qtbridge::ToAnsi(path));
  // One byte is one character; line breaks only get fewer. Reading stops one
  // byte past the capacity, so a huge file is neither read whole nor loaded.
  const QByteArray bytes = file.read(SendMmo->Capacity() + 1);
  // A file that cannot be read to its end leaves the pane as it was.
  if (file.error() != QFileDevice::NoError)
    throw runtime::Exception("Cannot open file " + qtbridge::ToAnsi(path));
  if (bytes.size() > SendMmo->Capacity()) throw runtime::Exception("Text exceeds memo capacity");
  // CR alone, LF alone and LF CR each make one line break.
  const std::string text =
      mailslot::ToLf(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  SendMmo->setPlainText(qtbridge::FromAnsi(text));
}

void TPlingFrm::Clear1Click() {
  ReceivedMmo->clear();
}

void TPlingFrm::Clear2Click() {
  SendMmo->clear();
}

void TPlingFrm::RecvdFont1Click(QAction* Sender) {
  if (Sender == RecvdFont1) {
    PickFont(*ReceivedMmo);
  } else if (Sender == SendFont1) {
    PickFont(*SendMmo);
  } else {
    PickFont(*ReceiversLbx);
  }
}

void TPlingFrm::RecvdColor1Click(QAction* Sender) {
  if (Sender == RecvdColor1) {
    PickColor(*ReceivedMmo);
  } else if (Sender == SendColor1) {
    PickColor(*SendMmo);
  } else {
    PickColor(*ReceiversLbx);
  }
}

void TPlingFrm::PickFont(QWidget& control) {
  auto* memo = qobject_cast<TMemo*>(&control);
  auto* list = qobject_cast<TListBox*>(&control);
  TFont font = memo ? memo->CoreFont() : list->CoreFont();
  if (!FontDialog(this, font)) return;
  if (memo) {
    memo->SetCoreFont(font);
  } else {
    list->SetCoreFont(font);
  }
}

void TPlingFrm::PickColor(QWidget& control) {
  auto* memo = qobject_cast<TMemo*>(&control);
  auto* list = qobject_cast<TListBox*>(&control);
  TColor color = memo ? memo->Color() : list->Color();
  if (!ColorDialog(this, color)) return;
  if (memo) {
    memo->SetColor(color);
  } else {
    list->SetColor(color);
  }
}

// ---------------------------------------------------------------------------
// Layout

void TPlingFrm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Realign();
}

void TPlingFrm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShownOnce || event->spontaneous()) return;
  FShownOnce = true;
  // The window manager puts its frame around the window a moment after it is
  // shown, and only then does Qt know its size: the frame too must be in sight.
  for (const int delayMs : {0, 250, 1000})
    QTimer::singleShot(delayMs, this, [this] { KeepOnScreen(); });
}

void TPlingFrm::KeepOnScreen() {
  if (!isVisible() || isMinimized() || isMaximized() || isFullScreen()) return;
  const QRect frame = frameGeometry();
  const std::vector<settings::TRect> areas = FForm->WorkAreas();
  const settings::TRect fitted =
      settings::FitIntoWorkAreas({frame.x(), frame.y(), frame.width(), frame.height()}, areas);
  if (fitted == settings::TRect{frame.x(), frame.y(), frame.width(), frame.height()}) return;
  resize(std::max(0, fitted.width - (frame.width() - width())),
         std::max(0, fitted.height - (frame.height() - height())));
  move(fitted.left, fitted.top);
}

void TPlingFrm::Realign() {
  FAligner.Realign(rect());
}

void TPlingFrm::PanelsPnlResize() {
  // The received pane keeps at least the splitter's minimum; the send pane
  // gives way.
  const int available = PanelsPnl->height() - 2 * PanelsPnl->BorderWidth();
  const int needed = SendMmo->height() + Splitter1->height() + Splitter1->MinSize();
  if (needed > available) {
    SendMmo->resize(SendMmo->width(), std::max(0, SendMmo->height() - (needed - available)));
    PanelsPnl->Realign();
  }
}

void TPlingFrm::Splitter1Moved() {
  PanelsPnlResize();
}

void TPlingFrm::ControlPnlResize() {
  StatusLbl->resize(Image->x() - StatusLbl->x() - Px(8), StatusLbl->height());
}

bool TPlingFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    try {
      Info1Click();
    } catch (...) {
      runtime::HandleApplicationException(std::current_exception());
    }
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace pling::app
