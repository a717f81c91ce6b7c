// SPDX-License-Identifier: GPL-3.0-or-later
// The window names a computer whose messages were dropped because it sent too
// many, once, in its status line, where incoming messages do not write over it;
// the report comes from a thread of the transport's.
#include <thread>

#include "app_fixture.h"
#include "platform/network.h"

namespace pling::testing {
namespace {

using NetworkNoticeTest = AppTest;

TEST_F(NetworkNoticeTest,
       AComputerWhoseMessagesWereDroppedIsNamedOnceInTheStatusLineAndStaysThere) {
  app::TPlingFrm& w = Start();
  const auto report = [](std::uint32_t address) {
    std::thread([address] { platform::ReportDroppedSender(address); }).join();
  };
  report(0xC0000205);  // 192.0.2.5
  const QString first = QStringLiteral("Dropped: 192.0.2.5");
  ASSERT_TRUE(WaitFor([&] { return Widget<app::TColorLabel>(w, "StatusLbl")->text() == first; }))
      << Widget<app::TColorLabel>(w, "StatusLbl")->text().toStdString();
  // The flood's messages that still get through do not write over it.
  w.PlingMessage("BOB", "F1", "flood");
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text(), first);
  EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")
                ->toPlainText()
                .count(QStringLiteral("F1 to BOB : flood")),
            1);
  // Told of already: a report that came last would leave its text there.
  Widget<app::TColorLabel>(w, "StatusLbl")->clear();
  report(0xC0000206);
  report(0xC0000205);
  ASSERT_TRUE(WaitFor([&] { return !Widget<app::TColorLabel>(w, "StatusLbl")->text().isEmpty(); }));
  QCoreApplication::processEvents();
  EXPECT_EQ(Widget<app::TColorLabel>(w, "StatusLbl")->text().toStdString(), "Dropped: 192.0.2.6");
  // Once the window is gone, nobody is told (and nothing breaks).
  FWindow.reset();
  report(0xC0000207);
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace pling::testing
