#include "app/NetworkStatus.h"

#include <QMessageBox>
#include <QTimer>

#include "app/QtAdapters.h"
#include "platform/network.h"
#include "settings/Megares.h"

namespace pling::app {

void ApplyNetworkSetting(const settings::TMegaRegistry& registry) {
  platform::SetNetworkEnabled(registry.ReadBool(kNetworkSection, kNetworkKey, true));
}

QString NetworkProblemText() {
  return FromAnsi(platform::NetworkReceiveProblem());
}

void ReportNetworkProblem(QWidget* parent) {
  static bool reported = false;
  if (reported) return;
  const QString text = NetworkProblemText();
  if (text.isEmpty()) return;
  reported = true;
  auto* box =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Pling"), text, QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("NetworkProblemBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  // Once the event loop runs: the mailslot may open while the window is made.
  QTimer::singleShot(0, box, [box] { box->show(); });
}

}  // namespace pling::app
