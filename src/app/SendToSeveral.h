// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's send to its selected receivers. Each receiver's route is chosen
// first, then the messages go out together (TlxCustomPling::DeliverTogether: the
// window waits as long as the slowest receiver takes, not as long as all of them
// together), and then the status line tells each receiver's outcome in the
// receivers' order, as it did when they went one after another: a route that
// cannot be chosen shows its reason; the receivers that did not get the message
// are named together ("Not sent to A, B"); those a datagram reached without a
// receipt are named together ("No receipt from A, B") unless something was not
// sent; characters the code page cannot hold are told as having gone as "?".
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "mailslot/message_text.h"
#include "platform/mailslot_service.h"
#include "runtime/result.h"

namespace pling::mailslot {
class TlxCustomPling;
}

namespace pling::app {

using TRouteChooser = std::function<runtime::TResult<mailslot::TSendRoute>(const QString&)>;

// One receiver's part of a send, as the window's send tells it (ANSI code page).
struct TSentRecord {
  std::string receiver;
  std::string sender;   // the name the message went out under ("" without a route)
  std::string machine;  // the machine or server it was written to ("" without a route)
  std::string text;
  // How it went, or why it was not sent.
  runtime::TResult<platform::TWriteDelivery> outcome;
};

// Sends `text` (not empty) to each of `receivers` through `pling`; `showStatus`
// gets each status text in turn, the last one standing; `sent` (when given) gets
// every receiver's part in the receivers' order, once the sends are done.
void SendToSeveral(mailslot::TlxCustomPling& pling, const QStringList& receivers,
                   const QString& text, const TRouteChooser& route,
                   const std::function<void(const QString&)>& showStatus,
                   const std::function<void(const std::vector<TSentRecord>&)>& sent = {});

}  // namespace pling::app
