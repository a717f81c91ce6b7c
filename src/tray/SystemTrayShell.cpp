// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/SystemTrayShell.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#include "tray/TrayHostWatch.h"

namespace pling::tray {

TShiftState GetShiftState() {
  TShiftState shift = 0;
  const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
  if (keys.testFlag(Qt::ShiftModifier)) shift |= ssShift;
  if (keys.testFlag(Qt::ControlModifier)) shift |= ssCtrl;
  if (keys.testFlag(Qt::AltModifier)) shift |= ssAlt;
  return shift;
}

std::unique_ptr<ITrayShell> CreateSystemTrayShell() {
  return std::make_unique<TSystemTrayShell>();
}

bool TSystemTrayShell::StatusNotifierHostRegistered() {
  const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(watcher)) {
    return false;
  }
  QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
  return host.isValid() && host.property("IsStatusNotifierHostRegistered").toBool();
}

TSystemTrayShell::TSystemTrayShell() {
  FAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  // Qt makes the same choice once, when the first icon is made.
  FStatusNotifierItem = FAvailable && StatusNotifierHostRegistered();
  QObject::connect(&FIcon, &QSystemTrayIcon::activated, &FIcon,
                   [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
  // The program is ending, by its own Exit or because the session ends: the icon
  // leaves the notification area. The shell never objects to the end of a session.
  FQuit = QObject::connect(qApp, &QCoreApplication::aboutToQuit, &FIcon,
                           [this] { Dispatch({TTrayMessage::EndSession}); });
  FWatch = TTrayHostWatch::Create([this] {
    // Qt takes the same X event after this one; ask once it has.
    if (FRecheckPending) return;
    FRecheckPending = true;
    QTimer::singleShot(0, &FIcon, [this] { RecheckAvailable(); });
  });
}

TSystemTrayShell::~TSystemTrayShell() {
  QObject::disconnect(FQuit);
}

void TSystemTrayShell::Apply(const TNotifyIconData& Data) {
  FIcon.setIcon(Data.hIcon);
  FIcon.setToolTip((Data.uFlags & NIF_TIP) ? Data.szTip : QString());
}

bool TSystemTrayShell::Add(const TNotifyIconData& Data) {
  Apply(Data);
  FAdded = true;
  ScheduleSync();
  return true;
}

bool TSystemTrayShell::Modify(const TNotifyIconData& Data) {
  if (!FAdded) return false;
  Apply(Data);
  ScheduleSync();
  return true;
}

bool TSystemTrayShell::Delete(const TNotifyIconData& /*Data*/) {
  if (!FAdded) return false;
  FAdded = false;
  // At once: the program may be ending and its event loop with it.
  FIcon.setVisible(false);
  return true;
}

QPoint TSystemTrayShell::CursorPos() const {
  return QCursor::pos();
}

void TSystemTrayShell::Popup(QMenu& Menu, QPoint At) {
  Menu.popup(At);
}

void TSystemTrayShell::ScheduleSync() {
  if (FSyncPending) return;
  FSyncPending = true;
  QTimer::singleShot(0, &FIcon, [this] { Sync(); });
}

void TSystemTrayShell::Sync() {
  FSyncPending = false;
  FIcon.setVisible(FAdded && !FIcon.icon().isNull());
}

std::vector<TTrayMessage> TSystemTrayShell::MessagesFor(QSystemTrayIcon::ActivationReason reason,
                                                        bool statusNotifierItem) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      if (statusNotifierItem) {
        return {TTrayMessage::LButtonDown, TTrayMessage::LButtonUp, TTrayMessage::LButtonDblClk,
                TTrayMessage::LButtonUp};
      }
      return {TTrayMessage::LButtonDown, TTrayMessage::LButtonUp};
    case QSystemTrayIcon::DoubleClick:
      return {TTrayMessage::LButtonDblClk, TTrayMessage::LButtonUp};
    case QSystemTrayIcon::Context:
      return {TTrayMessage::RButtonDown, TTrayMessage::RButtonUp};
    case QSystemTrayIcon::MiddleClick:
      return {TTrayMessage::MButtonDown, TTrayMessage::MButtonUp};
    case QSystemTrayIcon::Unknown:
      break;
  }
  return {};
}

void TSystemTrayShell::Activated(QSystemTrayIcon::ActivationReason reason) {
  Dispatch(MessagesFor(reason, FStatusNotifierItem));
}

void TSystemTrayShell::Dispatch(const std::vector<TTrayMessage>& messages) {
  // A handler may free the component, and this shell with it.
  const QPointer<QSystemTrayIcon> alive(&FIcon);
  for (TTrayMessage message : messages) {
    if (!alive || !FSink) return;
    FSink->WndProc(message);
  }
}

void TSystemTrayShell::RecheckAvailable() {
  FRecheckPending = false;
  const bool available = QSystemTrayIcon::isSystemTrayAvailable();
  if (available == FAvailable) return;
  FAvailable = available;
  Dispatch({TTrayMessage::TrayAvailableChange});
}

}  // namespace pling::tray
