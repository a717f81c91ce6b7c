// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/IncomingNotifier.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>
#include <climits>

#include "app/Accessibility.h"

namespace pling::app {
namespace {

// The latest messages a notification shows, and the most of a text it shows.
constexpr qsizetype kTextShown = 200;

// A message's text on one line: its line breaks (and the line-break marker) as
// blanks, control characters left out, a long text cut.
QString OneLine(const QString& text) {
  QString line;
  line.reserve(std::min(text.size(), kTextShown + 1));
  for (const QChar c : text) {
    if (line.size() > kTextShown) break;
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0x00B6)) {
      if (!line.endsWith(QLatin1Char(' '))) line += QLatin1Char(' ');
    } else if (c.category() != QChar::Other_Control) {
      line += c;
    }
  }
  if (line.size() > kTextShown) {
    line.truncate(kTextShown);
    line += QChar(0x2026);
  }
  return line.trimmed();
}

QString Sender(const TShownMessage& message) {
  return message.sender.isEmpty() ? QStringLiteral("\"\"") : OneLine(message.sender);
}

}  // namespace

TIncomingNotifier::TIncomingNotifier(QWidget& window, TAnnouncer& announcer)
    : QObject(&window), FWindow(window), FAnnouncer(announcer) {
  FWindow.installEventFilter(this);
}

bool TIncomingNotifier::eventFilter(QObject* watched, QEvent* event) {
  // The user turned to the window: what came in meanwhile is read.
  if (watched == &FWindow && event->type() == QEvent::WindowActivate) Seen();
  return QObject::eventFilter(watched, event);
}

TIncomingNotifier::~TIncomingNotifier() = default;

void TIncomingNotifier::SetSink(std::unique_ptr<INotificationSink> sink) {
  FSink = std::move(sink);
  if (FSink) {
    FSink->OnActivated = [this] {
      if (OnActivate) OnActivate();
    };
  }
}

INotificationSink& TIncomingNotifier::Sink() {
  if (!FSink) SetSink(CreateDesktopNotifications());
  return *FSink;
}

bool TIncomingNotifier::OutOfSight() const {
  // A window behind others, or shown while the user works elsewhere, is not
  // looked at: only the active window is in sight.
  return !FWindow.isVisible() || FWindow.isMinimized() || !FWindow.isActiveWindow();
}

void TIncomingNotifier::Incoming(const std::vector<TShownMessage>& latest, std::size_t count) {
  if (latest.empty() || count == 0) return;
  if (!OutOfSight()) {
    // In sight: the pane shows them; a screen reader is told.
    FAnnouncer.Announce(Announcement(latest, count));
    return;
  }
  const auto room = static_cast<std::size_t>(INT_MAX - FUnread);
  FUnread += static_cast<int>(std::min(count, room));
  for (const TShownMessage& message : latest) FLatest.push_back(message);
  while (FLatest.size() > kLatestShown) FLatest.pop_front();
  Sink().Show(Summary(), Body());
  if (OnUnreadChange) OnUnreadChange();
}

void TIncomingNotifier::Seen() {
  if (FUnread == 0) return;
  FUnread = 0;
  FLatest.clear();
  if (FSink) FSink->Close();
  if (OnUnreadChange) OnUnreadChange();
}

QString TIncomingNotifier::Summary() const {
  if (FUnread == 1 && !FLatest.empty())
    return QStringLiteral("Message from ") + Sender(FLatest.back());
  return QStringLiteral("%1 new messages").arg(FUnread);
}

QString TIncomingNotifier::Body() const {
  QStringList lines;
  for (const TShownMessage& message : FLatest)
    lines << Sender(message) + QStringLiteral(": ") + OneLine(message.text);
  return lines.join(QLatin1Char('\n'));
}

QString TIncomingNotifier::Announcement(const std::vector<TShownMessage>& latest,
                                        std::size_t count) {
  const TShownMessage& last = latest.back();
  QString text = QStringLiteral("Message from ") + Sender(last) + QStringLiteral(" to ") +
                 OneLine(last.receiver) + QStringLiteral(": ") + OneLine(last.text);
  if (count > 1) {
    text = QStringLiteral("%1 messages. Last: ").arg(count) + text;
  }
  return text;
}

}  // namespace pling::app
