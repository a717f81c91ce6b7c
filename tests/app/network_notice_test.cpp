// The window names a computer whose messages were dropped because it sent too
// many, once, in its status line; the report comes from a thread of the
// transport's.
#include <thread>

#include "app_fixture.h"
#include "platform/network.h"

namespace pling::testing {
namespace {

TEST_F(AppTest, AComputerWhoseMessagesWereDroppedIsNamedOnceInTheStatusLine) {
  app::TPlingFrm& w = Start();
  const auto report = [](std::uint32_t address) {
    std::thread([address] { platform::ReportDroppedSender(address); }).join();
  };
  report(0xC0000205);  // 192.0.2.5
  const QString first =
      QStringLiteral("Messages from 192.0.2.5 were dropped: it sent more than 200 a second");
  ASSERT_TRUE(WaitFor([&] { return w.StatusLbl->text() == first; }))
      << w.StatusLbl->text().toStdString();
  // Told of already: a report that came last would leave its text there.
  w.StatusLbl->clear();
  report(0xC0000206);
  report(0xC0000205);
  ASSERT_TRUE(WaitFor([&] { return !w.StatusLbl->text().isEmpty(); }));
  QCoreApplication::processEvents();
  EXPECT_EQ(w.StatusLbl->text().toStdString(),
            "Messages from 192.0.2.6 were dropped: it sent more than 200 a second");
  // Once the window is gone, nobody is told (and nothing breaks).
  FWindow.reset();
  report(0xC0000207);
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace pling::testing
