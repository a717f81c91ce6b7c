// SPDX-License-Identifier: GPL-3.0-or-later
// The status line after a send to other machines: a machine that confirmed the
// message adds nothing; one that got it as a datagram only is named.
#include <QAction>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "app_fixture.h"
#include "platform/mailslot_service.h"

namespace pling::testing {
namespace {

// Other machines as the network transport reaches them: those whose name starts
// with "C" confirm a message (a session message), "Una" takes it as a session
// message without confirming it, "Rex" refuses it, "Zed" cannot be reached, "Xl"
// takes no message as long as one to it is, the rest get a datagram.
class TReceiptTransport : public platform::IMailslotTransport {
 public:
  runtime::TResult<platform::TWriteDelivery> Write(std::string_view machine, std::string_view,
                                                   std::string_view) override {
    if (machine == "Zed") return runtime::TError{platform::ERROR_BAD_NETPATH, {}};
    if (machine == "Rex") return runtime::TError{platform::ERROR_REQ_NOT_ACCEP, {}};
    if (machine == "Xl") return runtime::TError{platform::ERROR_INVALID_PARAMETER, {}};
    if (machine == "Una") return platform::TWriteDelivery::Unconfirmed;
    if (machine.starts_with("C")) return platform::TWriteDelivery::Confirmed;
    return platform::TWriteDelivery::Datagram;
  }
};

class ReceiptTest : public AppTest {
 protected:
  void TearDown() override {
    platform::SetMailslotTransport(nullptr);
    AppTest::TearDown();
  }
  QString SendTo(const QStringList& receivers) {
    app::TPlingFrm& w = Window();
    Expire(Timer(w, "StatusTmr"));
    FResting = Widget<app::TColorLabel>(w, "StatusLbl")
                   ->text();  // what the line says when nothing is to be said
    Widget<app::TListBox>(w, "ReceiversLbx")->clear();
    for (const QString& receiver : receivers)
      Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(receiver);
    for (int i = 0; i < Widget<app::TListBox>(w, "ReceiversLbx")->count(); ++i)
      Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(i, true);
    Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("hi"));
    Widget<app::TMemo>(w, "SendMmo")->selectAll();
    Action(w, "Send1")->trigger();
    return Widget<app::TColorLabel>(w, "StatusLbl")->text();
  }
  QString FResting;
};

TEST_F(ReceiptTest, TheStatusLineNamesTheReceiversWhoseMachinesDidNotConfirm) {
  platform::SetMailslotTransport(std::make_shared<TReceiptTransport>());
  Start();
  EXPECT_EQ(SendTo({"Bob", "Carol", "Dan"}), QStringLiteral("No receipt from Bob, Dan"));
  EXPECT_EQ(SendTo({"Carol", "Cyd"}), FResting) << "confirmed: nothing to say";
  // What was not sent at all is what the user is told.
  // A session message nobody confirmed counts as no receipt; a refusal, as not sent.
  EXPECT_EQ(SendTo({"Una", "Carol"}), QStringLiteral("No receipt from Una"));
  EXPECT_EQ(SendTo({"Rex", "Una"}).left(16), QStringLiteral("Not sent to Rex:"));
  // and why, in the status line and its tooltip, receivers grouped by reason.
  // (An unknown machine's reason depends on whether the network is switched on.)
  const QString unknown =
      QString::fromStdString(mailslot::WriteFailureText(platform::ERROR_BAD_NETPATH));
  EXPECT_EQ(SendTo({"Bob", "Zed"}), QStringLiteral("Not sent to Zed: ") + unknown);
  const QString both = SendTo({"Xl", "Zed"});
  EXPECT_EQ(both,
            QStringLiteral("Not sent to Xl: message too long for the mailslot; Zed: ") + unknown);
  EXPECT_EQ(Widget<app::TColorLabel>(Window(), "StatusLbl")->toolTip(), both);
}

// Every write waits until the three of a send have begun: sent one after
// another, none would get that far and each would fail.
class TTogetherTransport : public TReceiptTransport {
 public:
  runtime::TResult<platform::TWriteDelivery> Write(std::string_view machine, std::string_view slot,
                                                   std::string_view data) override {
    {
      std::unique_lock<std::mutex> guard(FLock);
      const int send = FBegun++ / 3;
      FChanged.notify_all();
      if (!FChanged.wait_for(guard, std::chrono::seconds(10),
                             [&] { return FBegun >= 3 * (send + 1); })) {
        return runtime::TError{platform::ERROR_SEM_TIMEOUT, {}};
      }
    }
    return TReceiptTransport::Write(machine, slot, data);
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  int FBegun = 0;
};

TEST_F(ReceiptTest, ReceiversAreSentToTogetherAndEachOutcomeIsItsOwn) {
  platform::SetMailslotTransport(std::make_shared<TTogetherTransport>());
  Start();
  EXPECT_EQ(SendTo({"Bob", "Carol", "Dan"}), QStringLiteral("No receipt from Bob, Dan"));
  EXPECT_EQ(SendTo({"Bob", "Cyd", "Zed"}),
            QStringLiteral("Not sent to Zed: ") +
                QString::fromStdString(mailslot::WriteFailureText(platform::ERROR_BAD_NETPATH)));
}

}  // namespace
}  // namespace pling::testing
