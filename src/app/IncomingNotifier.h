// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the desktop learns of messages coming in, beyond the received pane: while
// the window is out of sight (in the notification area, minimised, or not the
// active window) the count of unread messages grows and one desktop notification
// shows it with the latest messages; while the window is the active one, a
// screen reader announces them. Told once for each group of messages that came
// in together.
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/DesktopNotifications.h"

class QWidget;

namespace pling::app {

class TAnnouncer;

// One message as the received pane shows it.
struct TShownMessage {
  QString sender;
  QString receiver;
  QString text;
};

class TIncomingNotifier : public QObject {
  Q_OBJECT
 public:
  TIncomingNotifier(QWidget& window, TAnnouncer& announcer);
  ~TIncomingNotifier() override;

  // Messages just shown in the received pane, all that came in one go.
  void Incoming(const std::vector<TShownMessage>& batch) { Incoming(batch, batch.size()); }
  // The same for a batch of `count` messages of which `latest` are the last few
  // (at least one), oldest first: a flood is not copied to be counted.
  void Incoming(const std::vector<TShownMessage>& latest, std::size_t count);
  // The most messages of a batch a notification or an announcement names.
  static constexpr std::size_t kLatestShown = 3;
  // The window is in sight again: its messages count as read, the notification
  // goes away. Also called when the window becomes the active one.
  void Seen();
  // Messages that came in since the window went out of sight.
  int Unread() const { return FUnread; }

  // The desktop's notifications, made at their first use; tests give their own.
  void SetSink(std::unique_ptr<INotificationSink> sink);

  // The count of unread messages changed.
  std::function<void()> OnUnreadChange;
  // The user activated the notification: the window should come back.
  std::function<void()> OnActivate;

  // The texts a notification and an announcement carry (plain text).
  QString Summary() const;
  QString Body() const;
  static QString Announcement(const std::vector<TShownMessage>& latest, std::size_t count);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool OutOfSight() const;
  INotificationSink& Sink();

  QWidget& FWindow;
  TAnnouncer& FAnnouncer;
  std::unique_ptr<INotificationSink> FSink;
  int FUnread = 0;
  std::deque<TShownMessage> FLatest;  // the last few unread, oldest first
};

}  // namespace pling::app
