// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SendToSeveral.h"

#include <optional>
#include <string>
#include <vector>

#include "app/SendOutcome.h"
#include "mailslot/lxMailSlot.h"
#include "qtbridge/AnsiText.h"

namespace pling::app {

void SendToSeveral(mailslot::TlxCustomPling& pling, const QStringList& receivers,
                   const QString& text, const TRouteChooser& route,
                   const std::function<void(const QString&)>& showStatus,
                   const std::function<void(const std::vector<TSentRecord>&)>& sent) {
  // Characters the code page cannot hold travel as "?"; the user is told.
  const std::string ansiText = qtbridge::ToAnsi(text);
  const bool replaced = qtbridge::FromAnsi(ansiText) != text;
  // Per receiver: why no route could be chosen, or the message it is sent.
  std::vector<std::optional<QString>> routeProblems;
  std::vector<mailslot::TOutgoingMessage> messages;
  std::vector<TSentRecord> records;  // every receiver's part, in order
  for (const QString& receiver : receivers) {
    const auto chosen = route(receiver);
    if (!chosen) {
      records.push_back({qtbridge::ToAnsi(receiver), {}, {}, ansiText, chosen.Error()});
      routeProblems.emplace_back(qtbridge::FromAnsi(chosen.Error().text));
      continue;
    }
    routeProblems.emplace_back();
    records.push_back({qtbridge::ToAnsi(receiver), chosen.Value().sender, chosen.Value().machine,
                       ansiText, platform::TWriteDelivery::Local});
    messages.push_back(
        {chosen.Value().machine, {chosen.Value().sender, qtbridge::ToAnsi(receiver), ansiText}});
  }
  const auto outcomes = pling.DeliverTogether(std::move(messages));

  QStringList notSent, notSentWhy, unconfirmed;
  std::size_t next = 0;
  for (qsizetype i = 0; i < receivers.size(); ++i) {
    const QString& receiver = receivers[i];
    if (routeProblems[static_cast<std::size_t>(i)]) {
      showStatus(*routeProblems[static_cast<std::size_t>(i)]);
      continue;
    }
    const auto& outcome = outcomes[next++];
    records[static_cast<std::size_t>(i)].outcome = outcome;
    if (!outcome) {
      // The target did not open, or the message is too long for it: every
      // receiver that did not get it is named, with why.
      notSent << (receiver.isEmpty() ? QStringLiteral("\"\"") : receiver);
      notSentWhy << qtbridge::FromAnsi(outcome.Error().text);
      showStatus(NotSentText(notSent, notSentWhy));
    } else if (replaced && notSent.isEmpty()) {
      showStatus(QStringLiteral("Some characters could not be sent and went as \"?\""));
    } else if (platform::NotConfirmed(outcome.Value())) {
      // Sent to one machine, which did not confirm the message (as a datagram, or
      // a session message it did not answer); a confirmed delivery adds nothing.
      unconfirmed << receiver;
      if (notSent.isEmpty()) {
        showStatus(QStringLiteral("No receipt from ") + unconfirmed.join(QStringLiteral(", ")));
      }
    }
  }
  if (sent) sent(records);
}

}  // namespace pling::app
