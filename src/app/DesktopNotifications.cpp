// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DesktopNotifications.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QImage>
#include <QVariantMap>

namespace pling::app {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The size of the picture handed to the server.
constexpr int kImageSize = 48;

// A picture as the "image-data" hint carries it: (iiibiiay), RGBA bytes.
struct TImageData {
  int width = 0;
  int height = 0;
  int rowStride = 0;
  bool hasAlpha = true;
  int bitsPerSample = 8;
  int channels = 4;
  QByteArray data;
};

QDBusArgument& operator<<(QDBusArgument& out, const TImageData& image) {
  out.beginStructure();
  out << image.width << image.height << image.rowStride << image.hasAlpha << image.bitsPerSample
      << image.channels << image.data;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, TImageData& image) {
  in.beginStructure();
  in >> image.width >> image.height >> image.rowStride >> image.hasAlpha >> image.bitsPerSample >>
      image.channels >> image.data;
  in.endStructure();
  return in;
}

}  // namespace
}  // namespace pling::app

Q_DECLARE_METATYPE(pling::app::TImageData)

namespace pling::app {
namespace {

TImageData ImageOf(const QIcon& icon) {
  TImageData image;
  if (icon.isNull()) return image;
  const QImage picture =
      icon.pixmap(kImageSize, kImageSize).toImage().convertToFormat(QImage::Format_RGBA8888);
  image.width = picture.width();
  image.height = picture.height();
  image.rowStride = static_cast<int>(picture.bytesPerLine());
  image.data = QByteArray(reinterpret_cast<const char*>(picture.constBits()),
                          static_cast<qsizetype>(picture.sizeInBytes()));
  return image;
}

}  // namespace

TDesktopNotifications::TDesktopNotifications(const QDBusConnection& bus, const QString& appName,
                                             const QIcon& icon, const QString& desktopEntry)
    : FBus(bus), FAppName(appName), FDesktopEntry(desktopEntry), FIcon(icon) {
  qDBusRegisterMetaType<TImageData>();
  if (!FBus.isConnected()) return;
  // From whoever serves notifications now (a server may start after the program,
  // or be replaced); the id tells which notification is meant.
  FBus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(ActionInvoked(uint, QString)));
  FBus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(NotificationClosed(uint, uint)));
}

TDesktopNotifications::~TDesktopNotifications() {
  if (!FBus.isConnected()) return;
  FBus.disconnect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(ActionInvoked(uint, QString)));
  FBus.disconnect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(NotificationClosed(uint, uint)));
}

void TDesktopNotifications::Show(const QString& summary, const QString& body) {
  FSummary = summary;
  FBody = body;
  FWanted = true;
  if (!FBus.isConnected()) return;
  // Whether the server reads markup decides how the text goes: asked once, before
  // the first notification.
  if (!FCapabilitiesKnown) return AskCapabilities();
  Send();
}

void TDesktopNotifications::AskCapabilities() {
  if (FCapabilitiesAsked) return;
  FCapabilitiesAsked = true;
  const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                          QStringLiteral("GetCapabilities"));
  auto* call = new QDBusPendingCallWatcher(FBus.asyncCall(ask), this);
  connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    const QDBusPendingReply<QStringList> reply = *done;
    if (reply.isError()) {
      // No server now; the next notification asks again.
      FCapabilitiesAsked = false;
      return;
    }
    FCapabilitiesKnown = true;
    FMarkup = reply.value().contains(QStringLiteral("body-markup"));
    if (FWanted) Send();
  });
}

void TDesktopNotifications::Send() {
  // One call at a time, so that the next one replaces the notification the
  // server made of this one.
  if (FInFlight) {
    FResend = true;
    return;
  }
  QDBusMessage notify =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), FDesktopEntry);
  hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
  const TImageData image = ImageOf(FIcon);
  if (!image.data.isEmpty()) hints.insert(QStringLiteral("image-data"), QVariant::fromValue(image));
  // A message's text and its sender's name are shown as they came, never read
  // as markup (servers that read the body's markup may read the summary's too).
  const QString summary = FMarkup ? FSummary.toHtmlEscaped() : FSummary;
  const QString body = FMarkup ? FBody.toHtmlEscaped() : FBody;
  notify << FAppName << static_cast<uint>(FId) << FDesktopEntry << summary << body
         << QStringList{QStringLiteral("default"), QStringLiteral("Show")} << hints
         << static_cast<int>(-1);
  FInFlight = true;
  auto* call = new QDBusPendingCallWatcher(FBus.asyncCall(notify), this);
  connect(call, &QDBusPendingCallWatcher::finished, this,
          [this](QDBusPendingCallWatcher* done) { Sent(done); });
}

void TDesktopNotifications::Sent(QDBusPendingCallWatcher* call) {
  call->deleteLater();
  FInFlight = false;
  const QDBusPendingReply<uint> reply = *call;
  if (!reply.isError()) FId = reply.value();
  if (!FWanted) {
    // Taken away while the call was under way.
    FResend = false;
    CloseShown();
  } else if (std::exchange(FResend, false)) {
    Send();
  }
}

void TDesktopNotifications::Close() {
  FWanted = false;
  FResend = false;
  if (!FBus.isConnected() || FInFlight) return;  // Sent closes it
  CloseShown();
}

void TDesktopNotifications::CloseShown() {
  if (FId == 0) return;
  QDBusMessage close = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                      QStringLiteral("CloseNotification"));
  close << static_cast<uint>(FId);
  FId = 0;
  FBus.asyncCall(close);
}

void TDesktopNotifications::ActionInvoked(uint id, const QString& /*action*/) {
  if (id == 0 || id != FId) return;
  if (OnActivated) OnActivated();
}

void TDesktopNotifications::NotificationClosed(uint id, uint /*reason*/) {
  // The next message makes a new notification.
  if (id != 0 && id == FId) FId = 0;
}

std::unique_ptr<INotificationSink> CreateDesktopNotifications() {
  return std::make_unique<TDesktopNotifications>(
      QDBusConnection::sessionBus(), QStringLiteral("Pling"),
      QIcon(QStringLiteral(":/pling/pling.svg")), QStringLiteral("pling"));
}

}  // namespace pling::app
