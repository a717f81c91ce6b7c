// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's notifications (org.freedesktop.Notifications on the session bus):
// one notification of the program's, shown and then replaced in place as more
// comes in, and taken away again. Every call is asynchronous: without a session
// bus or a notification server nothing is shown and nothing waits.
#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QDBusPendingCallWatcher;

namespace pling::app {

// One notification, shown and replaced, as the window's messages need it.
class INotificationSink {
 public:
  virtual ~INotificationSink() = default;
  // Shows the notification with this summary and body (plain text), or replaces
  // the one shown.
  virtual void Show(const QString& summary, const QString& body) = 0;
  // Takes the notification away, if one is shown.
  virtual void Close() = 0;
  // The user activated the notification (clicked it, or chose its action).
  std::function<void()> OnActivated;
};

class TDesktopNotifications : public QObject, public INotificationSink {
  Q_OBJECT
 public:
  // Notifications of the application `appName`, with `icon` as their picture and
  // `desktopEntry` as the program's menu entry, on `bus`.
  TDesktopNotifications(const QDBusConnection& bus, const QString& appName, const QIcon& icon,
                        const QString& desktopEntry);
  ~TDesktopNotifications() override;

  void Show(const QString& summary, const QString& body) override;
  void Close() override;

  // The server's id of the notification shown; 0 when none is known.
  std::uint32_t Id() const { return FId; }

 private slots:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  void AskCapabilities();
  void Send();
  void Sent(QDBusPendingCallWatcher* call);
  void CloseShown();

  QDBusConnection FBus;
  QString FAppName;
  QString FDesktopEntry;
  QIcon FIcon;
  QString FSummary;
  QString FBody;
  std::uint32_t FId = 0;
  bool FCapabilitiesAsked = false;
  bool FCapabilitiesKnown = false;
  bool FMarkup = false;    // the server reads markup in bodies: the text is escaped
  bool FWanted = false;    // a notification should be shown now
  bool FInFlight = false;  // a Notify call awaits its answer
  bool FResend = false;    // the text changed meanwhile
};

// Notifications of this program ("Pling", its icon) on the session bus.
std::unique_ptr<INotificationSink> CreateDesktopNotifications();

}  // namespace pling::app
