// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NetworkStatus.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <memory>
#include <type_traits>

#include "platform/network.h"
#include "qtbridge/AnsiText.h"
#include "settings/Megares.h"
#include "settings/NetworkSettings.h"

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
  settings::ApplyNetworkSettings(registry);
  settings::FollowCommentSetting();
}

QString NetworkProblemText() {
  return qtbridge::FromAnsi(platform::NetworkReceiveProblem());
}

QString NetworkProblemBrief() {
  if (platform::SessionMessagesThroughSamba()) return kThroughSambaBrief;
  const std::vector<net::TPortRefusal> refused = platform::NetworkRefusedPorts();
  if (refused.empty()) return kNetworkProblemBrief;
  const bool datagrams = std::any_of(refused.begin(), refused.end(),
                                     [](const net::TPortRefusal& port) { return !port.tcp; });
  return (datagrams ? kNetworkProblemBrief : kNoSessionMessagesBrief) + QStringLiteral(": ") +
         QString::fromStdString(net::RefusalBrief(refused));
}

QString NewNetworkProblemBrief() {
  static QString told;
  const QString text = NetworkProblemText();
  if (text == told) return {};
  told = text;
  return text.isEmpty() ? QString() : NetworkProblemBrief();
}

QString NetworkRestingStatus() {
  if (!NetworkProblemText().isEmpty()) return NetworkProblemBrief();
  if (ClaimingNames()) return kClaimingNamesBrief;  // until WatchReachable's call
  return {};
}

namespace {

// A warning box over `parent` that does not block the window, shown once the
// window is on screen.
QMessageBox* ShowNetworkBox(QWidget* parent, const QString& text, const QString& objectName) {
  auto* box =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Pling"), text, QMessageBox::Ok, parent);
  box->setObjectName(objectName);
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
  return box;
}

// Hands the notices of the network to the window's thread while it lives.
class TNameNoticeWatcher final : public QObject {
 public:
  TNameNoticeWatcher(QWidget* parent, std::function<void(const QString&)> showStatus)
      : QObject(parent), FParent(parent), FShowStatus(std::move(showStatus)) {
    setObjectName(QStringLiteral("NameNoticeWatcher"));
    platform::SetNameNoticeHandler([this](const platform::TNameNoticeText& notice) {
      // On a thread of the transport's; this object outlives the call (see below).
      QMetaObject::invokeMethod(
          this,
          [this, text = qtbridge::FromAnsi(notice.text), brief = qtbridge::FromAnsi(notice.brief)] {
            Show(text, brief);
          },
          Qt::QueuedConnection);
    });
  }
  // No call is running, or comes, once the handler is gone; calls queued before
  // go with this object.
  ~TNameNoticeWatcher() override { platform::SetNameNoticeHandler(nullptr); }

 private:
  void Show(const QString& text, const QString& brief) {
    if (FShowStatus) FShowStatus(brief);
    if (FBox != nullptr) {
      FBox->setText(FBox->text() + QStringLiteral("\n\n") + text);
      return;
    }
    FBox = ShowNetworkBox(FParent, text, QStringLiteral("NameNoticeBox"));
  }

  QWidget* FParent;
  std::function<void(const QString&)> FShowStatus;
  QPointer<QMessageBox> FBox;
};

}  // namespace

QString ReportNetworkProblem(QWidget* parent, const QString& shownBefore) {
  static bool reported = false;
  const QString text = NetworkProblemText();
  if (text.isEmpty()) return shownBefore;
  if (text == shownBefore || reported) return text;
  reported = true;
  ShowNetworkBox(parent, text, QStringLiteral("NetworkProblemBox"));
  return text;
}

void WatchNameNotices(QWidget* parent, std::function<void(const QString&)> showStatus) {
  if (parent->findChild<QObject*>(QStringLiteral("NameNoticeWatcher"),
                                  Qt::FindDirectChildrenOnly) != nullptr) {
    return;
  }
  new TNameNoticeWatcher(parent, std::move(showStatus));
}

namespace {

// `call`, made to run on the main thread (queued there from any thread), and only
// while `window` exists.
template <typename... TArgs>
std::function<void(TArgs...)> QueuedForWindow(
    QObject* window, std::type_identity_t<std::function<void(TArgs...)>> call) {
  auto target = std::make_shared<const QPointer<QObject>>(window);
  auto shared = std::make_shared<const std::function<void(TArgs...)>>(std::move(call));
  return [target, shared](TArgs... args) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [target, shared, args...] {
          if (!target->isNull()) (*shared)(args...);
        },
        Qt::QueuedConnection);
  };
}

// Runs `clear` when `window` goes, unless a later window registered in `latest`
// since (it put a handler of its own).
void ClearWhenGone(QObject* window, int& latest, std::function<void()> clear) {
  const int mine = ++latest;
  QObject::connect(window, &QObject::destroyed, [&latest, mine, clear = std::move(clear)] {
    if (latest == mine) clear();
  });
}

}  // namespace

void ShowDroppedSenders(QObject* window, std::function<void(const QString&)> show) {
  // The handler runs on the transport's thread: it only queues the text for the
  // main thread, where the window is looked at.
  platform::SetNetworkNoticeHandler(
      QueuedForWindow<std::uint32_t>(window, [show = std::move(show)](std::uint32_t address) {
        show(qtbridge::FromAnsi(platform::DroppedSenderStatus(address)));
      }));
  static int registered = 0;
  ClearWhenGone(window, registered, [] { platform::SetNetworkNoticeHandler({}); });
}

bool ClaimingNames() {
  return platform::NetworkClaimingNames();
}

void WatchReachable(QObject* window, std::function<void(const QString& news)> changed) {
  // Whether messages from other computers could not be received when last looked at.
  auto couldNot = std::make_shared<bool>(!NetworkProblemText().isEmpty());
  const auto look = QueuedForWindow<>(window, [window, couldNot, changed = std::move(changed)] {
    const bool cannot = !NetworkProblemText().isEmpty();
    // Reached after all (a holder of the ports started meanwhile): the box that
    // said messages could not be received is out of date.
    if (!cannot) {
      for (QMessageBox* box :
           window->findChildren<QMessageBox*>(QStringLiteral("NetworkProblemBox"))) {
        box->close();
      }
    }
    const QString news = *couldNot && !cannot ? kReceivingFromOthers : QString();
    *couldNot = cannot;
    if (changed) changed(news);
  });
  platform::SetReachableHandler(look);
  platform::SetReceiveChangeHandler(look);
  static int registered = 0;
  ClearWhenGone(window, registered, [] {
    platform::SetReachableHandler({});
    platform::SetReceiveChangeHandler({});
  });
}

}  // namespace pling::app
