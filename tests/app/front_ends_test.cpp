// SPDX-License-Identifier: GPL-3.0-or-later
// The window and pling-cli side by side over the same inputs: the datagrams they
// write for a message, byte for byte, and the line they show for one received.
#include <QAction>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "child_process.h"
#include "mailslot/lxMailSlot.h"

namespace pling::testing {
namespace {

using FrontEndsTest = AppTest;

// This machine's messenger mailslot, seen as whole datagrams.
class TRawListener : public mailslot::TlxCustomMailSlot {
 public:
  TRawListener() : TlxCustomMailSlot(nullptr) {
    SetSlotName(mailslot::MessengerSlotName);
    OnRawMessage = [this](runtime::TComponent&, const std::string& datagram) {
      Datagrams.push_back(datagram);
    };
  }
  std::vector<std::string> Datagrams;
};

// pling-cli in a UTF-8 terminal, as a user runs it.
TRunResult Cli(const std::vector<std::string>& args) {
  return RunProgram(TestProgram("pling-cli"), args, {}, {"LC_ALL=C.UTF-8"});
}

TEST_F(FrontEndsTest, TheWindowAndTheCommandLineWriteAndShowTheSameBytes) {
  app::TPlingFrm& w = Start();
  Action(w, "Timestamps1")->setChecked(false);
  Action(w, "Seperators1")->setChecked(false);
  Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QStringLiteral("."));
  Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(0, true);
  struct TSend {
    bool Server;
    QString Text;
  };
  // Directly (this computer as sender) and through the server "." (the user as
  // sender); line breaks, and letters of the ANSI page that differ in the OEM one.
  const std::vector<TSend> sends = {
      {false, QStringLiteral("hello")},
      {true, QStringLiteral("line one\nline two")},
      {false, QStringLiteral("caf\u00E9 \u00BD \u00A7 \u00FF")},
  };
  {
    TRawListener listener;
    listener.Open();
    for (const TSend& send : sends) {
      listener.Datagrams.clear();
      Action(w, "Useserver1")->setChecked(send.Server);
      Action(w, "servername1")->setText(QStringLiteral("."));
      Widget<app::TMemo>(w, "SendMmo")->setPlainText(send.Text);
      Widget<app::TMemo>(w, "SendMmo")->selectAll();
      Action(w, "Send1")->trigger();
      ASSERT_TRUE(WaitFor([&] { return listener.Datagrams.size() == 1; }))
          << qtbridge::ToAnsi(send.Text);
      std::vector<std::string> args{"send"};
      if (send.Server) args.insert(args.end(), {"--server", "."});
      args.insert(args.end(), {".", send.Text.toStdString()});
      const TRunResult cli = Cli(args);
      ASSERT_EQ(cli.status, 0) << cli.err;
      ASSERT_TRUE(WaitFor([&] { return listener.Datagrams.size() == 2; }))
          << qtbridge::ToAnsi(send.Text);
      EXPECT_EQ(listener.Datagrams[0], listener.Datagrams[1]) << qtbridge::ToAnsi(send.Text);
    }
    listener.Close();
  }

  struct TShown {
    std::string Sender, Receiver, Text;  // ANSI
  };
  const std::vector<TShown> shown = {
      {"ALICE", "BOB", "hello"},
      {"PC1", "", ""},
      {"Ren\xE9", "Zo\xEB", "na\xEFve \xA7 1"},
  };
  mailslot::TlxPling sender(nullptr);
  for (const TShown& message : shown) {
    const auto send = [&] {
      return sender.Send(".", message.Sender, message.Receiver, message.Text);
    };
    Widget<app::TMemo>(w, "ReceivedMmo")->clear();
    Action(w, "Activate1")->trigger();
    ASSERT_TRUE(w.Messenger().Active());
    ASSERT_TRUE(send());
    ASSERT_TRUE(
        WaitFor([&] { return !Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().isEmpty(); }));
    const std::string windowLine =
        Widget<app::TMemo>(w, "ReceivedMmo")->toPlainText().toStdString();
    Action(w, "Activate1")->trigger();
    ASSERT_FALSE(w.Messenger().Active());

    TChildProcess listen(TestProgram("pling-cli"), {"listen", "--count", "1"}, {"LC_ALL=C.UTF-8"});
    ASSERT_TRUE(WaitUntil(send)) << "the listener takes the mailslot";
    std::string cliLine;
    ASSERT_TRUE(listen.ReadLine(cliLine));
    EXPECT_EQ(listen.Wait(), 0) << listen.ErrorText();
    EXPECT_EQ(windowLine, cliLine);
  }
}

}  // namespace
}  // namespace pling::testing
