// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's notification area through QSystemTrayIcon.
//
// What QSystemTrayIcon reports is less than a mouse: one activation per click, on
// the press (X11 embedding) or after the click (StatusNotifierItem hosts). Each
// activation is handed on as the callbacks it stands for (see MessagesFor); there is
// no mouse movement and no separate release. Whether a notification area is there is
// followed on X11 through the owner of the _NET_SYSTEM_TRAY_S<screen> selection,
// which costs nothing while nothing changes; elsewhere Qt's answer at start holds.
#include <QMetaObject>
#include <QSystemTrayIcon>
#include <memory>
#include <vector>

#include "tray/TrayIcon.h"

namespace pling::tray {

class TTrayHostWatch;

class TSystemTrayShell final : public ITrayShell {
 public:
  TSystemTrayShell();
  ~TSystemTrayShell() override;
  TSystemTrayShell(const TSystemTrayShell&) = delete;
  TSystemTrayShell& operator=(const TSystemTrayShell&) = delete;

  void SetSink(ITrayShellSink* Sink) override { FSink = Sink; }
  // The icon is registered at once; it is shown when control returns to the event
  // loop, so that an add followed by a delete in the same turn shows nothing. An
  // icon without image waits for one. A delete hides it at once.
  bool Add(const TNotifyIconData& Data) override;
  bool Modify(const TNotifyIconData& Data) override;
  bool Delete(const TNotifyIconData& Data) override;
  bool TrayAvailable() const override { return FAvailable; }
  QPoint CursorPos() const override;
  TShiftState KeyboardState() const override { return GetShiftState(); }
  // Opens the menu at the point and returns at once.
  void Popup(QMenu& Menu, QPoint At) override;

  // The callbacks that an activation of the icon stands for, in order. A single
  // click: down and up; the second press of a double click: double click and up.
  // A StatusNotifierItem host has no double click: its activation (the item's
  // primary action, a plain click there) stands for a whole double click, so that
  // it restores the window as a double click does elsewhere.
  static std::vector<TTrayMessage> MessagesFor(QSystemTrayIcon::ActivationReason reason,
                                               bool statusNotifierItem = false);
  // Whether a StatusNotifierItem host is registered on the session bus, which is
  // where Qt puts the icon when there is one.
  static bool StatusNotifierHostRegistered();

  const QSystemTrayIcon& SystemTrayIcon() const { return FIcon; }
  // Whether appearing and disappearing notification areas are followed.
  bool Following() const { return FWatch != nullptr; }

 private:
  void Apply(const TNotifyIconData& Data);
  void ScheduleSync();
  void Sync();
  void Activated(QSystemTrayIcon::ActivationReason reason);
  void Dispatch(const std::vector<TTrayMessage>& messages);
  void RecheckAvailable();

  QSystemTrayIcon FIcon;
  ITrayShellSink* FSink = nullptr;
  bool FAdded = false;
  bool FSyncPending = false;
  bool FStatusNotifierItem = false;
  bool FRecheckPending = false;
  bool FAvailable = false;
  std::unique_ptr<TTrayHostWatch> FWatch;
  QMetaObject::Connection FQuit;
};

}  // namespace pling::tray
