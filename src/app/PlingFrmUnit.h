// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: the received pane above the send pane, the receivers list at
// the right, the control bar with the Start button, the status line and the
// logo at the bottom; its menus; the settings it reads at creation and writes
// when it closes; activation of the messenger, the status line and the life in
// the notification area.
#include <QIcon>
#include <QLabel>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/AutoAddHook.h"
#include "app/ColorLabel.h"
#include "app/Controls.h"
#include "app/HistoryLog.h"
#include "app/IncomingNotifier.h"
#include "app/NetworkView.h"
#include "app/ReceiversRecord.h"
#include "app/SettingsAtExit.h"
#include "net/messenger_message.h"
#include "settings/FormSize.h"
#include "settings/StoredKeys.h"
#include "settings/font.h"
#include "settings/owner_form.h"
#include "tray/TrayIcon.h"

class QAction;
class QKeyEvent;
class QMenu;
class QTimer;
class QToolButton;

namespace pling::mailslot {
class TlxPling;
}
namespace pling::settings {
class TMegaRegistry;
}
namespace pling::about {
class TGradientFill;
}
namespace pling::qtbridge {
class TFormSizerFilter;
}

namespace pling::app {

class TAnnouncer;
class TPlingFrm;

// The window as the component that owns the non-visual components, and as the
// owner form whose bounds the settings store keeps.
class TPlingOwnerForm : public settings::TOwnerForm, public settings::TSizerForm {
 public:
  TPlingOwnerForm(QWidget& window, settings::TSizerWindow& sizerWindow);
  const char* ClassName() const override { return settings::kMainWindowSection; }

  std::int32_t Left() const override;
  std::int32_t Top() const override;
  std::int32_t Width() const override;
  std::int32_t Height() const override;
  void SetLeft(std::int32_t value) override;
  void SetTop(std::int32_t value) override;
  void SetWidth(std::int32_t value) override;
  void SetHeight(std::int32_t value) override;
  std::int32_t ScreenWidth() const override;
  std::int32_t ScreenHeight() const override;
  // The available areas of the screens, in device-independent pixels (the bounds'
  // own pixels, whatever the screens' scale), and the frame the window has now.
  std::vector<settings::TRect> WorkAreas() const override;
  std::int32_t FrameExtraWidth() const override;
  std::int32_t FrameExtraHeight() const override;
  settings::TSizerWindow& SizerWindow() override { return FSizerWindow; }

  // Frees the components while the window still stands (the settings store
  // records the window's bounds from the removal notices and saves them).
  void Teardown() { DestroyComponents(); }

 private:
  QWidget& FWindow;
  settings::TSizerWindow& FSizerWindow;
};

// A hidden image that holds an icon for others to use.
class TIconImage : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  QIcon Icon;
};

class TPlingFrm : public QWidget {
  Q_OBJECT
 public:
  // The window's interface: what the program, the messenger, the benchmarks and
  // the tests use. The controls, menus, the status timer, the non-visual
  // components and the handlers behind them are the window's own; tests reach
  // the controls, menus and the timer by their object names (the component
  // names), and drive the handlers through them as a user does.

  // `trayShell` is the notification area to use; without one, the desktop's.
  explicit TPlingFrm(QWidget* parent = nullptr, std::unique_ptr<tray::ITrayShell> trayShell = {});
  ~TPlingFrm() override;

  // A batch taken and shown at once: messages as the messenger hands them over
  // (ANSI code page).
  void PlingMessages(const std::vector<net::TMessengerMessage>& Batch);
  // One message on its own: a batch of one.
  void PlingMessage(const std::string& AReciever, const std::string& ASender,
                    const std::string& AMsg);

  // The one-line input dialog: a caption, a prompt above one field of at most
  // 255 characters that starts with `value` (selected), OK and Cancel. True and
  // the field's text in `value` when OK was pressed. Replaceable for tests.
  std::function<bool(const QString& caption, const QString& prompt, QString& value)> InputQuery;
  // The save and open dialogs: the chosen file's name, or an empty text when the
  // user cancels. Replaceable for tests.
  std::function<QString(QWidget* parent)> SaveDialog;
  std::function<QString(QWidget* parent)> OpenDialog;
  // The font and colour dialogs; replaceable so tests need no modal dialog.
  // Each returns false when the user cancels.
  std::function<bool(QWidget* parent, settings::TFont& font)> FontDialog;
  std::function<bool(QWidget* parent, settings::TColor& color)> ColorDialog;
  // The sound of an incoming message: the desktop's event sound, or the
  // display's bell where there is none. Replaceable so tests can count it.
  std::function<void()> MessageBeep;

  // Unread messages, desktop notifications and announcements of incoming messages.
  TIncomingNotifier& Notifier() { return *FNotifier; }
  // What the window writes into the message history.
  THistoryLog& History() { return *FHistory; }

  // What the status line says between texts: how to start receiving while
  // nothing is received, that only this computer's messages arrive while the
  // network cannot be used, else nothing.
  QString RestingStatus() const;
  // The receivers list's item that the menu last opened for (-1: none), which
  // Edit and Delete act on. It follows its item when others come or go.
  int MenuIndex() const { return FMenuItem.isValid() ? FMenuItem.row() : -1; }
  // The last message shown, as the duplicate filter keeps it (its text,
  // receiver and sender in one): the same message right after it is not shown.
  const QString& LastMessage() const { return FLastMessage; }

  // The messenger component (named Pling). Its state is read through it; tests
  // and benchmarks that count its deliveries wrap its OnMessage and OnBatchEnd,
  // passing each call on. Activating it is the Activate command's.
  mailslot::TlxPling& Messenger() { return *Pling; }
  // The tray icon and form sizer components, to read.
  const tray::TTrayIcon& Tray() const { return *TrayIcon; }
  const settings::TFormSizer& Sizer() const { return *FormSizer; }

  // A name as the receivers list and the status line show it: the first letter
  // upper case, the rest lower case (ASCII letters only; ANSI code page).
  static std::string CapitalizeName(std::string_view Name);

  // Automatic add stops once the receivers list holds this many names ("Add"
  // itself has no bound).
  static constexpr int kMaxAutoAddedReceivers = 1000;
  // How long a status text stays; and the least time, however late in a running
  // interval it came.
  static constexpr int kStatusMs = 5000;
  static constexpr int kMinStatusMs = 2000;
  // The hint of a window that does not receive.
  static const QString kNotReceiving;

 signals:
  // The window has closed; the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Components, named as their object names (tests reach the controls and the
  // timer by these names).
  TPanel* ControlPnl;
  about::TGradientFill* GradientFill;
  QLabel* Image;
  QToolButton* StartBtn;
  TColorLabel* StatusLbl;
  TIconImage* IncomingIcon;
  TIconImage* SilenceIcon;
  TPanel* PanelsPnl;
  TMemo* ReceivedMmo;
  TSplitter* Splitter1;
  TMemo* SendMmo;
  TSplitter* Splitter;
  TPanel* ReceiversPnl;
  TListBox* ReceiversLbx;
  TAnnouncer* AnnounceLbl;  // tells screen readers of incoming messages
  QTimer* StatusTmr;

  mailslot::TlxPling* Pling;
  tray::TTrayIcon* TrayIcon;
  settings::TFormSizer* FormSizer;
  settings::TMegaRegistry* MegaRegistry;

  // Handlers.
  void FormCreate();
  void FormClose();
  // Writes the values as they are now as one replacement of the settings file;
  // the error, if any.
  std::exception_ptr WriteSettings();
  void Activate1Click();
  void PlingOpen();
  void PlingClose();
  // Incoming messages come in batches: what the messenger delivers in one pass.
  // TakeIncoming treats each message as it arrives: the duplicate filter, the
  // automatic add, and its lines (separator, time stamp, text) for the pane.
  // PlingBatchEnd shows the batch: the pane takes its lines in one edit and one
  // trim to the last 1000 lines, and the sound, the status line, the tray
  // picture and the pop-up follow once, if a message was shown at all (the
  // place for whatever else is to happen once per batch).
  void TakeIncoming(const std::string& AReciever, const std::string& ASender,
                    const std::string& AMsg);
  void PlingBatchEnd();
  void StartBtnClick();
  void StatusTmrTimer();
  void Exit1Click();
  void Info1Click();
  void ToggleMuiClick(QAction* Sender);
  void Add1Click();
  // Edit and Delete act on `item` (none when it is not valid).
  void Edit1Click(const QPersistentModelIndex& item);
  void Delete1Click(const QPersistentModelIndex& item);
  void Send1Click();
  void SendMmoKeyPress(QKeyEvent& Key);
  void Useserver1Click();
  void servername1Click();
  void Saveas1Click();
  void Saveas2Click();
  void Open1Click();
  void Clear1Click();
  void Clear2Click();
  void RecvdFont1Click(QAction* Sender);
  void RecvdColor1Click(QAction* Sender);
  void PanelsPnlResize();
  void Splitter1Moved();
  void ControlPnlResize();
  void TrayIconMinimize();
  void TrayIconRestore();
  void TrayIconDblClick();
  void TrayIconMouseDown();

  // Operations used across the window's commands.
  void ShowStatus(const QString& Text);
  // Shows a notice for the whole status interval: incoming messages meanwhile do
  // not write "Incoming" over it.
  void ShowNotice(const QString& Text);
  void ResetTrayIcon();
  void SignalIncoming();
  int AddReceiver(const QString& Name);
  void SendToSelected(QString Text);
  std::string LocalUserName();
  std::string LocalComputerName();

  // The menus and their actions, named as their object names (tests reach them
  // by these names).
  QMenu* ReceiversMnu;
  QAction *Add1, *Edit1, *Delete1, *N1, *Send1, *N3, *NamesColor1, *NamesFont1;
  QMenu* ReceivedMnu;
  QAction *Clear1, *Saveas1, *N11, *RecvdColor1, *RecvdFont1;
  QMenu* SendMnu;
  QAction *Clear2, *Open1, *Saveas2, *Sendselection1, *N2, *SendColor1, *SendFont1;
  QMenu* StartMnu;
  QAction *Info1, *N15, *Receivers1, *Add2, *Edit2, *Delete2, *N8, *Send3, *N14, *Automaticadd1;
  QAction* Network1;  // the Network window
  QAction *N4, *Received1, *Clear3, *N5, *Saveas3, *N12, *Popup1, *Seperators1, *Timestamps1;
  QAction *Playincoming1, *RecvLinewrap, *Send2, *Clear4, *N6, *Open2, *Saveas4, *Sendselection2;
  QAction *N13, *Automaticsend1, *SendLinewrap, *N7, *Server1, *Useserver1, *N9, *servername1;
  QAction *Activate1, *N10, *Exit1;

  // Puts a text into the status line, with `tip` (the text itself when empty) as
  // its tooltip and accessible name.
  void SetStatusText(const QString& text, const QString& tip = QString());
  // Shows the resting status unless a status text is running; updates the tray tip.
  void UpdateRestingStatus();
  void UpdateTrayTip();
  // Tells the user once why messages from other computers cannot be received.
  void ReportNetworkNotice();
  // Moves (and if need be shrinks) the window so that all of it, frame included,
  // lies inside the work area of a screen that exists.
  void KeepOnScreen();
  // The problems found at the start, in one message, once the window is shown.
  void ReportStartProblems();
  void SetAccessibleTexts();
  void CreateComponents();
  void FollowTrayHost();
  void CreateMenus();
  void Realign();
  void SetWrapState(TMemo& memo, bool wrap);
  void PickFont(QWidget& control);
  void PickColor(QWidget& control);
  void SavePane(const TMemo& memo, bool linesEndWithBreak);
  int Px(int pixelsAt96) const;
  // A name as the receivers list keeps it (CapitalizeName in the ANSI page).
  static QString NormalName(const QString& Name);
  // Tells the user when a name typed into Add or Edit lost characters that the
  // code page cannot hold.
  void ReportLostCharacters(const QString& typed);

  // One stored value: section, key and its text.
  using TSetting = TStoredSetting;
  // One option the window keeps: its key (StoredKeys.h), how the window takes
  // the key's stored value (which may raise EConvertError), and its text as the
  // window has it now. FormCreate reads and FormClose writes them in this table's order.
  struct TSettingItem {
    const settings::TStoredKey* key;
    std::function<void(const settings::TStoredKey&)> read;
    std::function<std::string()> text;
  };
  std::vector<TSettingItem> SettingItems();
  // Every value FormClose stores, as the window has it now: the receivers, then
  // the options of SettingItems; the first `leaveOut` receivers' entries left out.
  std::vector<TSetting> SettingsToStore(std::size_t leaveOut = 0);
  TReceiversRecord FReceivers;  // the receivers' entries, and whether the store holds them
  // The values as FormCreate left them, the receivers' and the others: what a
  // failed write at exit is told against.
  TReceiversRecord::TEntries FStartReceivers = std::make_shared<std::vector<TSetting>>();
  std::vector<TSetting> FStartSettings;
  // Runs `read`; a stored value that cannot be read is noted for the start's
  // report (section, key, stored text, why), and is not overwritten at close
  // unless the user changed that setting.
  void ReadSetting(const settings::TStoredKey& key, const std::function<void()>& read);
  static std::string SettingId(std::string_view section, std::string_view key);

  qtbridge::TFormSizerFilter* FSizerFilter;
  std::unique_ptr<TPlingOwnerForm> FForm;
  TAligner FAligner;
  bool FClosed = false;

  QPersistentModelIndex FMenuItem;
  std::string FUserName;
  std::string FComputerName;
  QString FLastMessage;
  bool FNoticeShown = false;  // a notice holds the status line until the timer ends
  QString FSavePath = QStringLiteral("Pling.txt");  // where the next save starts
  QString FOpenPath = QStringLiteral("Pling.txt");  // where the next open starts
  // Stored values that could not be read at the start, by SettingId, with the
  // text the window would have written for them then.
  std::unordered_map<std::string, std::string> FUnreadSettings;
  bool FStoredActive = false;      // the stored Active while FormCreate reads
  QStringList FStartProblems;      // reported in one message once the window stands
  bool FAutoAddFullShown = false;  // the full list was reported since the last add
  TAutoAddRule FAutoAdd;           // which senders join the list, and stay in it
  // The batch of incoming messages under way (see TakeIncoming).
  struct TIncomingBatch {
    struct TLines {
      QString text;  // the lines one message adds, joined by line breaks
      int count;     // how many lines that is at least
    };
    std::deque<TLines> pending;  // oldest first; not yet in the pane
    int pendingLines = 0;
    int knownLines = 0;  // the pane's lines with the pending ones, at least
    int shown = 0;       // messages that passed the duplicate filter
    // The last few of them, for the desktop's notification (ANSI code page).
    std::deque<net::TMessengerMessage> latest;
    bool listFull = false;
    QString stamp;
  };
  TIncomingBatch FBatch;
  TIncomingNotifier* FNotifier = nullptr;
  TNetworkView* FNetwork = nullptr;  // receivers' marks, the Network window
  THistoryLog* FHistory = nullptr;   // the message history the window writes
  QString FNetworkNotice;            // the network notice the user was shown (stored)
  bool FShownOnce = false;
};

}  // namespace pling::app
