// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The notification-area icon: an icon with a tip in the desktop's notification area,
// its mouse events, a popup menu on the right button, and the minimise and restore
// hooks on the application's main window, with which the window lives only in the
// notification area while it is minimised.
//
// Everything runs on the main thread. The desktop side sits behind ITrayShell, so
// that the component can be driven by a fake shell; CreateSystemTrayShell gives the
// real one (QSystemTrayIcon).
#include <QIcon>
#include <QMenu>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "runtime/component.h"
#include "runtime/exceptions.h"

namespace pling::tray {

using runtime::TComponent;

// The runtime's error for a resource the system could not give.
class EOutOfResources : public runtime::Exception {
 public:
  using Exception::Exception;
};

enum class TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };
using enum TMouseButton;

// A set of these bits.
enum TShiftStateBit : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
};
using TShiftState = unsigned;

using TNotifyEvent = std::function<void(TComponent& Sender)>;
using TMouseMoveEvent = std::function<void(TComponent& Sender, TShiftState Shift, int X, int Y)>;
using TMouseEvent =
    std::function<void(TComponent& Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

// ---------------------------------------------------------------------------
// The desktop side.

inline constexpr unsigned NIF_MESSAGE = 1;
inline constexpr unsigned NIF_ICON = 2;
inline constexpr unsigned NIF_TIP = 4;
// The longest tip; longer texts are cut.
inline constexpr int MaxTipLength = 63;

// What the component hands to the notification area at every add, modify and delete.
struct TNotifyIconData {
  unsigned uFlags = 0;  // NIF_MESSAGE | NIF_ICON, and NIF_TIP while the tip is not empty
  QIcon hIcon;
  QString szTip;  // at most MaxTipLength characters
};

// What reaches the component from the desktop: the icon's mouse callbacks, in the
// order the mouse produced them, the end of the session, and a change in whether a
// notification area is there.
enum class TTrayMessage : std::uint8_t {
  MouseMove,
  LButtonDown,
  LButtonUp,
  LButtonDblClk,
  RButtonDown,
  RButtonUp,
  RButtonDblClk,
  MButtonDown,
  MButtonUp,
  MButtonDblClk,
  EndSession,           // the session ends (log-off, shut-down) or the program quits
  TrayAvailableChange,  // a notification area appeared or went away
};

class ITrayShellSink {
 public:
  virtual void WndProc(TTrayMessage Message) = 0;

 protected:
  ~ITrayShellSink() = default;
};

class ITrayShell {
 public:
  virtual ~ITrayShell() = default;
  // Where the shell's messages go; nullptr stops them.
  virtual void SetSink(ITrayShellSink* Sink) = 0;
  // Put the icon into the notification area, update it, take it out. Add reports
  // whether the icon could be created; Modify and Delete report whether an added
  // icon was there to change.
  virtual bool Add(const TNotifyIconData& Data) = 0;
  virtual bool Modify(const TNotifyIconData& Data) = 0;
  virtual bool Delete(const TNotifyIconData& Data) = 0;
  // Whether the desktop has a notification area now. An added icon stays registered
  // while there is none and appears when one comes.
  virtual bool TrayAvailable() const = 0;
  virtual QPoint CursorPos() const = 0;           // screen coordinates
  virtual TShiftState KeyboardState() const = 0;  // Shift, Ctrl and Alt as held now
  virtual void Popup(QMenu& Menu, QPoint At) = 0;
};

// The real shell on QSystemTrayIcon (see SystemTrayShell.h). Needs a QApplication.
std::unique_ptr<ITrayShell> CreateSystemTrayShell();

// The keyboard's Shift, Ctrl and Alt as held now.
TShiftState GetShiftState();

// ---------------------------------------------------------------------------
// The component.

class TTrayIcon : public TComponent, private ITrayShellSink {
 public:
  // Shows the icon at once (unless the owner is being designed), with the
  // application's icon and its display name as the tip. Without a shell, the real
  // one is used.
  explicit TTrayIcon(TComponent* owner = nullptr, std::unique_ptr<ITrayShell> shell = nullptr);
  ~TTrayIcon() override;

  const char* ClassName() const override { return "TTrayIcon"; }

  // The icon is in the notification area.
  bool Active() const { return FActive; }
  const TNotifyIconData& IconData() const { return FIconData; }
  const QIcon& Icon() const { return FIcon; }
  // The tip last set through SetHint; a showing takes the application's title instead.
  const QString& Hint() const { return FHint; }
  QMenu* PopupMenu() const { return FPopupMenu; }
  // Not owned; the reference clears itself when the menu is destroyed.
  void SetPopupMenu(QMenu* value) { FPopupMenu = value; }
  // The left button went down on the icon and has not come up since.
  bool Clicked() const { return FClicked; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnMinimize;  // after the application's main window was minimised
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TNotifyEvent OnRestore;  // after the application's main window was restored

  // Whether the desktop has a notification area now; OnTrayAvailableChange fires
  // when that changes. While there is none, minimising leaves the window minimised
  // in the ordinary way (its task-bar entry should stay); when the notification area
  // goes away while the window is hidden in it, the window comes back minimised.
  bool TrayAvailable() const;
  TNotifyEvent OnTrayAvailableChange;

  // The application's main window, whose minimise and restore the component hooks.
  // The hooks act from the first showing of the icon on (at run time: from
  // construction) and stay while the icon is hidden. Restoring the window
  // (RestoreWindow) brings it back from the notification area and fires
  // OnRestore.
  void SetApplicationWindow(QWidget* window);
  QWidget* ApplicationWindow() const { return FApplicationWindow; }
  // The window is hidden in the notification area.
  bool InTray() const { return FInTray; }

  // Property writers: each does nothing when the value is unchanged.
  virtual void SetHint(const QString& value);
  virtual void SetIcon(const QIcon& value);
  // Shows the popup menu at the cursor, only while the application's main window is
  // not visible (it sits in the notification area).
  virtual void PopupAtCursor();
  // Each fires its event, with the component as sender, if a handler is assigned.
  virtual void DoClick();
  virtual void DoDblClick();
  // Add the icon to the notification area (EOutOfResources "Cannot create shell
  // notification icon" when that fails, and the icon stays hidden) and remove it.
  virtual void ShowIcon();
  virtual void HideIcon();
  virtual void DoMouseMove(TShiftState Shift, int X, int Y);
  virtual void DoMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void DoMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  // Hands the icon's present data to the notification area.
  virtual void ModifyIcon();
  // true shows the icon, false hides it.
  virtual void SetActive(bool value);
  // Hide the main window into the notification area (when there is one), then fire
  // OnMinimize; show it again, then fire OnRestore.
  virtual void DoMinimize();
  virtual void DoRestore();

 protected:
  // The shell's messages: mouse callbacks, session end, notification area changes.
  void WndProc(TTrayMessage Message) override;

 private:
  class THooks;
  friend class THooks;
  void AppMinimize() { DoMinimize(); }
  void AppRestore() { DoRestore(); }
  void TrayAvailableChanged();

  bool FActive = false;
  TNotifyIconData FIconData;
  QIcon FIcon;
  QString FHint;
  QPointer<QMenu> FPopupMenu;
  bool FClicked = false;

  std::unique_ptr<ITrayShell> FShell;
  bool FHooksInstalled = false;
  std::unique_ptr<THooks> FHooks;  // the event filter on the main window
  QPointer<QWidget> FApplicationWindow;
  bool FInTray = false;
  bool FTrayAvailable = false;                                  // as last reported
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);  // false once destroyed
};

// Brings a minimised window back, from the notification area too, in the size it had
// (maximised stays maximised), and to the front. A plain show() would not do: a
// window hidden while minimised comes back minimised.
void RestoreWindow(QWidget& window);
// Brings the window up as RestoreWindow does, but leaves the keyboard where it
// is: what the user types goes on to the program they type in. Where the window
// manager does not raise a window that asks without the focus, the window asks
// for attention (the urgency hint) instead.
void BringUpWindow(QWidget& window);

// The first MaxTipLength characters of a text (a character made of two UTF-16
// units is not split).
QString CutTip(const QString& text);

}  // namespace pling::tray
