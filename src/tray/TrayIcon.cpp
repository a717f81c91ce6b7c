// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/TrayIcon.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace pling::tray {

QString CutTip(const QString& text) {
  if (text.size() <= MaxTipLength) return text;
  qsizetype length = MaxTipLength;
  if (text.at(length - 1).isHighSurrogate()) --length;
  return text.left(length);
}

void RestoreWindow(QWidget& window) {
  window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.show();
  window.raise();
  window.activateWindow();
}

void BringUpWindow(QWidget& window) {
  // Shown without activation, the window manager is told the window wants no
  // focus (a user time of 0); raise() restacks without focusing. The native
  // window, once it exists, reads the flag from its own property.
  const bool withoutActivating = window.testAttribute(Qt::WA_ShowWithoutActivating);
  window.setAttribute(Qt::WA_ShowWithoutActivating, true);
  const QPointer<QWindow> handle = window.windowHandle();
  if (handle) handle->setProperty("_q_showWithoutActivating", true);
  window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.show();
  window.raise();
  if (handle) handle->setProperty("_q_showWithoutActivating", QVariant());
  window.setAttribute(Qt::WA_ShowWithoutActivating, withoutActivating);
  if (!window.isActiveWindow()) QApplication::alert(&window);
}

// The minimise and restore hooks: an event filter on the application's main window
// that follows its window state. A change is acted on once control is back in the
// event loop: showMinimized() shows the window again right after its state change,
// which would undo a hide done at once, and several changes in one turn count as
// the last of them. The filter is freed with the component, which takes it off the
// window and cancels what it had queued, so a minimise after the component is gone
// calls nothing.
class TTrayIcon::THooks : public QObject {
 public:
  explicit THooks(TTrayIcon& tray) : FTray(tray) {}

  // Where the window is now, as the hooks last saw it.
  void Watch(QWidget* window) { FMinimized = window && window->isMinimized(); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    const bool change = event->type() == QEvent::WindowStateChange || event->type() == QEvent::Show;
    if (change && watched == FTray.FApplicationWindow.data() && !FPending) {
      FPending = true;
      QTimer::singleShot(0, this, [this] { Check(); });
    }
    return false;
  }

 private:
  void Check() {
    FPending = false;
    QWidget* window = FTray.FApplicationWindow;
    if (!window) return;
    // A window hidden in the notification area stays minimised until it is shown
    // again, whatever its state says meanwhile: a window manager may drop the
    // state of a window it no longer manages, and that is no restore.
    const bool minimized = window->isMinimized() || (FTray.FInTray && !window->isVisible());
    if (minimized == FMinimized) return;
    FMinimized = minimized;
    if (!FTray.FHooksInstalled) return;
    if (minimized) {
      FTray.AppMinimize();
    } else {
      FTray.AppRestore();
    }
  }

  TTrayIcon& FTray;
  bool FMinimized = false;
  bool FPending = false;
};

TTrayIcon::TTrayIcon(TComponent* owner, std::unique_ptr<ITrayShell> shell)
    : TComponent(owner),
      FIcon(QGuiApplication::windowIcon()),
      FShell(shell ? std::move(shell) : CreateSystemTrayShell()),
      FHooks(std::make_unique<THooks>(*this)) {
  FTrayAvailable = FShell->TrayAvailable();
  FShell->SetSink(this);
  // Created by a designer's form, the component stays out of the notification area.
  if (!(owner && owner->Designing())) ShowIcon();
}

TTrayIcon::~TTrayIcon() {
  *FAlive = false;
  FShell->SetSink(nullptr);
  if (FApplicationWindow) FApplicationWindow->removeEventFilter(FHooks.get());
  if (!Designing()) FShell->Delete(FIconData);
}

bool TTrayIcon::TrayAvailable() const {
  return FShell->TrayAvailable();
}

void TTrayIcon::SetApplicationWindow(QWidget* window) {
  if (window == FApplicationWindow) return;
  if (FApplicationWindow) FApplicationWindow->removeEventFilter(FHooks.get());
  FApplicationWindow = window;
  FInTray = false;
  FHooks->Watch(window);
  if (window) window->installEventFilter(FHooks.get());
}

void TTrayIcon::SetHint(const QString& value) {
  if (value == FHint) return;
  FHint = value;
  FIconData.szTip = CutTip(value);
  if (value.isEmpty()) {
    FIconData.uFlags &= ~NIF_TIP;
  } else {
    FIconData.uFlags |= NIF_TIP;
  }
  ModifyIcon();
}

void TTrayIcon::SetIcon(const QIcon& value) {
  // The component's own icon, or a copy sharing its image, changes nothing.
  if (&value == &FIcon || value.cacheKey() == FIcon.cacheKey()) return;
  FIcon = value;
  FIconData.hIcon = FIcon;
  ModifyIcon();
}

void TTrayIcon::PopupAtCursor() {
  if (!FPopupMenu) return;
  if (FApplicationWindow && FApplicationWindow->isVisible()) return;
  FShell->Popup(*FPopupMenu, FShell->CursorPos());
}

void TTrayIcon::DoClick() {
  if (OnClick) OnClick(*this);
}

void TTrayIcon::DoDblClick() {
  if (OnDblClick) OnDblClick(*this);
}

void TTrayIcon::ShowIcon() {
  if (FActive) return;
  FActive = true;
  FIconData = TNotifyIconData{};
  FIconData.hIcon = FIcon;
  // Every showing takes the tip from the application's title, not from Hint.
  const QString title = QGuiApplication::applicationDisplayName();
  FIconData.szTip = CutTip(title);
  FIconData.uFlags = NIF_MESSAGE | NIF_ICON;
  if (!title.isEmpty()) FIconData.uFlags |= NIF_TIP;
  if (!FShell->Add(FIconData)) {
    // Left marked hidden, so that a later showing tries again.
    FActive = false;
    throw EOutOfResources("Cannot create shell notification icon");
  }
  FHooksInstalled = true;
}

void TTrayIcon::HideIcon() {
  if (!FActive) return;
  FActive = false;
  FShell->Delete(FIconData);
}

void TTrayIcon::DoMouseMove(TShiftState Shift, int X, int Y) {
  if (OnMouseMove) OnMouseMove(*this, Shift, X, Y);
}

void TTrayIcon::DoMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(*this, Button, Shift, X, Y);
}

void TTrayIcon::DoMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseUp) OnMouseUp(*this, Button, Shift, X, Y);
}

void TTrayIcon::WndProc(TTrayMessage Message) {
  // A handler may free the component; nothing of it is touched after that.
  const std::shared_ptr<const bool> alive = FAlive;
  const auto mouse = [&](auto&& handle) {
    const QPoint pos = FShell->CursorPos();
    handle(FShell->KeyboardState(), pos.x(), pos.y());
    return *alive;
  };
  switch (Message) {
    case TTrayMessage::MouseMove:
      mouse([&](TShiftState shift, int x, int y) { DoMouseMove(shift, x, y); });
      break;
    case TTrayMessage::LButtonDown:
      if (mouse([&](TShiftState shift, int x, int y) {
            DoMouseDown(mbLeft, shift | ssLeft, x, y);
          })) {
        FClicked = true;
      }
      break;
    case TTrayMessage::LButtonUp:
      if (FClicked) {
        FClicked = false;
        DoClick();
        if (!*alive) return;
      }
      mouse([&](TShiftState shift, int x, int y) { DoMouseUp(mbLeft, shift | ssLeft, x, y); });
      break;
    case TTrayMessage::RButtonDown:
      if (mouse([&](TShiftState shift, int x, int y) {
            DoMouseDown(mbRight, shift | ssRight, x, y);
          })) {
        PopupAtCursor();
      }
      break;
    case TTrayMessage::RButtonUp:
      mouse([&](TShiftState shift, int x, int y) { DoMouseUp(mbRight, shift | ssRight, x, y); });
      break;
    case TTrayMessage::MButtonDown:
      mouse(
          [&](TShiftState shift, int x, int y) { DoMouseDown(mbMiddle, shift | ssMiddle, x, y); });
      break;
    case TTrayMessage::MButtonUp:
      mouse([&](TShiftState shift, int x, int y) { DoMouseUp(mbMiddle, shift | ssMiddle, x, y); });
      break;
    case TTrayMessage::LButtonDblClk:
    case TTrayMessage::RButtonDblClk:
    case TTrayMessage::MButtonDblClk:
      DoDblClick();
      break;
    case TTrayMessage::EndSession:
      HideIcon();
      break;
    case TTrayMessage::TrayAvailableChange:
      TrayAvailableChanged();
      break;
  }
}

void TTrayIcon::ModifyIcon() {
  if (!Designing()) FShell->Modify(FIconData);
}

void TTrayIcon::SetActive(bool value) {
  if (value == FActive) return;
  if (value) {
    ShowIcon();
  } else {
    HideIcon();
  }
}

void TTrayIcon::DoMinimize() {
  // Without a notification area the window stays minimised where the desktop puts
  // minimised windows, since hidden it could not be reached any more.
  if (FApplicationWindow && FShell->TrayAvailable()) {
    FApplicationWindow->hide();
    FInTray = true;
  }
  if (OnMinimize) OnMinimize(*this);
}

void TTrayIcon::DoRestore() {
  FInTray = false;
  if (FApplicationWindow && !FApplicationWindow->isVisible()) FApplicationWindow->show();
  if (OnRestore) OnRestore(*this);
}

void TTrayIcon::TrayAvailableChanged() {
  const bool available = FShell->TrayAvailable();
  if (available == FTrayAvailable) return;
  FTrayAvailable = available;
  QWidget* window = FApplicationWindow;
  if (available) {
    // A window minimised while there was no notification area moves into it now
    // that its icon can be seen; it is hidden before the event, so that a handler
    // can change its task-bar entry while it is not shown.
    if (FHooksInstalled && FActive && window && window->isVisible() && window->isMinimized()) {
      window->hide();
      FInTray = true;
    }
    if (OnTrayAvailableChange) OnTrayAvailableChange(*this);
  } else {
    // The event first, so that the window gets its task-bar entry back before it is
    // shown again, minimised, where the desktop keeps minimised windows.
    const std::shared_ptr<const bool> alive = FAlive;
    if (OnTrayAvailableChange) OnTrayAvailableChange(*this);
    if (!*alive) return;
    window = FApplicationWindow;
    if (FInTray && window && !window->isVisible()) {
      FInTray = false;
      window->showMinimized();
    }
  }
}

}  // namespace pling::tray
