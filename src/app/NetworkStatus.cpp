#include "app/NetworkStatus.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <memory>

#include "app/QtAdapters.h"
#include "platform/network.h"
#include "settings/Megares.h"

namespace pling::app {

namespace {

// How often a window waiting for a name lookup looks whether it has ended.
constexpr int kLookupPollMs = 15;
// How long the network message box waits for the window to be placed on screen.
constexpr int kPlacementPollMs = 50;
constexpr int kPlacementPolls = 40;

void WaitServingTheWindow(const std::function<bool()>& done) {
  if (done()) return;
  // The window repaints and takes incoming messages meanwhile; the user's input
  // (a second Send, closing the window) waits until the write is done.
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(kLookupPollMs);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

void InstallNetworkWait() {
  platform::SetNetworkWait(
      platform::TNetworkWait{[] {
                               const QCoreApplication* app = QCoreApplication::instance();
                               return app != nullptr && QThread::currentThread() == app->thread();
                             },
                             WaitServingTheWindow});
}

void ApplyNetworkSetting(const settings::TMegaRegistry& registry) {
  platform::SetNetworkEnabled(registry.ReadBool(kNetworkSection, kNetworkKey, true));
  platform::SetSessionMessagesEnabled(
      registry.ReadBool(kNetworkSection, kSessionMessagesKey, true));
}

QString NetworkProblemText() {
  return FromAnsi(platform::NetworkReceiveProblem());
}

QString ReportNetworkProblem(QWidget* parent, const QString& shownBefore) {
  static bool reported = false;
  const QString text = NetworkProblemText();
  if (text.isEmpty()) return shownBefore;
  if (text == shownBefore || reported) return text;
  reported = true;
  auto* box =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Pling"), text, QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("NetworkProblemBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  // Once the window is on screen, so that the box is centred over it where the
  // window manager put it; a window that stays hidden (in the notification area)
  // gets the box in the middle of the screen after a moment.
  auto* wait = new QTimer(box);
  wait->setInterval(kPlacementPollMs);
  QObject::connect(wait, &QTimer::timeout, box, [box, wait, polls = 0]() mutable {
    const QWidget* window =
        box->parentWidget() != nullptr ? box->parentWidget()->window() : nullptr;
    const bool placed =
        window == nullptr || (window->isVisible() && window->windowHandle() != nullptr &&
                              window->windowHandle()->isExposed());
    if (!placed && ++polls < kPlacementPolls) return;
    wait->deleteLater();
    box->show();
  });
  wait->start();
  return text;
}

void ShowDroppedSenders(QObject* window, std::function<void(const QString&)> show) {
  // The handler runs on the transport's thread: it only queues the text for the
  // main thread, where the window is looked at.
  auto target = std::make_shared<const QPointer<QObject>>(window);
  auto shown = std::make_shared<const std::function<void(const QString&)>>(std::move(show));
  platform::SetNetworkNoticeHandler([target, shown](std::uint32_t address) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [target, shown, address] {
          if (!target->isNull()) (*shown)(FromAnsi(platform::DroppedSenderStatus(address)));
        },
        Qt::QueuedConnection);
  });
  // The handler goes with the window (unless a later window put its own).
  static int registered = 0;
  const int mine = ++registered;
  QObject::connect(window, &QObject::destroyed, [mine] {
    if (registered == mine) platform::SetNetworkNoticeHandler({});
  });
}

}  // namespace pling::app
