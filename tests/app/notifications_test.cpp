// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's notifications over D-Bus, against a stand-in notification server
// on a private bus that the test starts: nothing waits while there is no server;
// then one notification, replaced in place, with the program's name and picture,
// its text never read as markup; activation and closing both ways.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/DesktopNotifications.h"
#include "child_process.h"

namespace pling::testing {
namespace {

// A session bus of the test's own, without service activation.
class PrivateBus {
 public:
  PrivateBus() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pling-bus-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    FFolder = pattern;
    const std::string config = FFolder + "/bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir=" << FFolder
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
    FDaemon = std::make_unique<TChildProcess>(
        "/usr/bin/dbus-daemon",
        std::vector<std::string>{"--config-file=" + config, "--nofork", "--print-address=1"});
    // Its first line is the address, once it listens.
    FDaemon->ReadLine(FAddress);
  }
  ~PrivateBus() {
    if (FDaemon) {
      FDaemon->Signal(SIGTERM);
      FDaemon->Wait();
    }
    if (!FFolder.empty()) std::filesystem::remove_all(FFolder);
  }
  const std::string& Address() const { return FAddress; }

 private:
  std::string FFolder;
  std::string FAddress;
  std::unique_ptr<TChildProcess> FDaemon;
};

// What the stand-in server was asked.
struct TNotify {
  QString AppName;
  uint ReplacesId = 0;
  QString Summary;
  QString Body;
  QStringList Actions;
  QVariantMap Hints;
};

class TStandInServer : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    if (member == QLatin1String("GetCapabilities")) {
      connection.send(message.createReply(QVariant(Capabilities)));
    } else if (member == QLatin1String("Notify")) {
      const QList<QVariant> args = message.arguments();
      TNotify notify;
      notify.AppName = args.value(0).toString();
      notify.ReplacesId = args.value(1).toUInt();
      notify.Summary = args.value(3).toString();
      notify.Body = args.value(4).toString();
      notify.Actions = args.value(5).toStringList();
      const QDBusArgument hints = args.value(6).value<QDBusArgument>();
      hints >> notify.Hints;
      Notified.push_back(notify);
      const uint id = notify.ReplacesId != 0 ? notify.ReplacesId : ++LastId;
      connection.send(message.createReply(QVariant(id)));
    } else if (member == QLatin1String("CloseNotification")) {
      Closed.push_back(message.arguments().value(0).toUInt());
      connection.send(message.createReply());
    } else {
      return false;
    }
    return true;
  }
  QString introspect(const QString&) const override { return {}; }

  QStringList Capabilities{QStringLiteral("body"), QStringLiteral("actions")};
  std::vector<TNotify> Notified;
  std::vector<uint> Closed;
  uint LastId = 6;
};

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kName = QStringLiteral("org.freedesktop.Notifications");

TEST(DesktopNotificationsTest, WithoutAServerNothingWaitsThenOneNotificationIsReplacedInPlace) {
  PrivateBus bus;
  ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
  const QString address = QString::fromStdString(bus.Address());
  QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
  QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("server"));
  ASSERT_TRUE(client.isConnected() && server.isConnected());
  {
    app::TDesktopNotifications notifications(client, QStringLiteral("Pling"),
                                             QIcon(QStringLiteral(":/pling/pling.svg")),
                                             QStringLiteral("pling"));
    int activated = 0;
    notifications.OnActivated = [&] { ++activated; };

    // No server: the call returns at once and nothing breaks.
    QElapsedTimer clock;
    clock.start();
    notifications.Show(QStringLiteral("Message from ALICE"), QStringLiteral("ALICE: hi"));
    EXPECT_LT(clock.elapsed(), 1000) << "a call never waits for a server";
    QTest::qWait(200);
    EXPECT_EQ(notifications.Id(), 0u);

    TStandInServer standIn;
    standIn.Capabilities << QStringLiteral("body-markup");
    ASSERT_TRUE(server.registerVirtualObject(kPath, &standIn));
    ASSERT_TRUE(server.registerService(kName));

    // The server is there: one notification, replaced as more comes in; what
    // comes in while a call is under way goes as one more call, the latest text.
    notifications.Show(QStringLiteral("Message from <i>ALICE</i>"),
                       QStringLiteral("<i>ALICE</i>: <b>hi</b> & bye"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifications.Id() == 7; }, 10000));
    notifications.Show(QStringLiteral("2 new messages"), QStringLiteral("ALICE: one\nBOB: two"));
    notifications.Show(QStringLiteral("3 new messages"),
                       QStringLiteral("ALICE: one\nBOB: two\nC: 3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return standIn.Notified.size() >= 3; }, 10000));
    QTest::qWait(100);
    ASSERT_EQ(standIn.Notified.size(), 3u);
    const TNotify& first = standIn.Notified[0];
    EXPECT_EQ(first.AppName, QStringLiteral("Pling"));
    EXPECT_EQ(first.ReplacesId, 0u);
    EXPECT_EQ(first.Summary, QStringLiteral("Message from &lt;i&gt;ALICE&lt;/i&gt;"));
    EXPECT_EQ(first.Body,
              QStringLiteral("&lt;i&gt;ALICE&lt;/i&gt;: &lt;b&gt;hi&lt;/b&gt; &amp; bye"))
        << "a server that reads markup gets the texts escaped";
    EXPECT_TRUE(first.Actions.contains(QStringLiteral("default")));
    EXPECT_EQ(first.Hints.value(QStringLiteral("desktop-entry")).toString(),
              QStringLiteral("pling"));
    EXPECT_TRUE(first.Hints.contains(QStringLiteral("image-data"))) << "the program's picture";
    EXPECT_EQ(standIn.Notified[1].ReplacesId, 7u) << "the second replaces the first";
    EXPECT_EQ(standIn.Notified[2].ReplacesId, 7u);
    EXPECT_EQ(standIn.Notified[2].Summary, QStringLiteral("3 new messages"));
    EXPECT_EQ(notifications.Id(), 7u);

    // The user clicks it.
    QDBusMessage invoked =
        QDBusMessage::createSignal(kPath, kName, QStringLiteral("ActionInvoked"));
    invoked << uint{7} << QStringLiteral("default");
    server.send(invoked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return activated == 1; }, 10000));

    // Taken away by the program; closed by the server, the next one is new.
    notifications.Close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !standIn.Closed.empty(); }, 10000));
    EXPECT_EQ(standIn.Closed[0], 7u);
    notifications.Show(QStringLiteral("Message from BOB"), QStringLiteral("BOB: again"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return standIn.Notified.size() == 4; }, 10000));
    EXPECT_EQ(standIn.Notified[3].ReplacesId, 0u);
    QTest::qWait(100);
    QDBusMessage closed =
        QDBusMessage::createSignal(kPath, kName, QStringLiteral("NotificationClosed"));
    closed << uint{8} << uint{2};
    server.send(closed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifications.Id() == 0; }, 10000));
    server.unregisterObject(kPath);
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("client"));
  QDBusConnection::disconnectFromBus(QStringLiteral("server"));
}

}  // namespace
}  // namespace pling::testing
