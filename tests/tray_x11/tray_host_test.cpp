// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon on a real X server: a tray host that takes the system tray
// selection, announces itself and goes away is followed as it happens, and the main
// window moves into the tray and out of it with the host.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tray/SystemTrayShell.h"
#include "tray/TaskbarEntry.h"
#include "tray/TrayIcon.h"

namespace pling::tray {
namespace {

// A tray host of its own X connection, as a tray program is: it owns
// _NET_SYSTEM_TRAY_S<screen> through a window and announces that on the root window.
// It ignores dock requests. Going out of scope destroys its window, as a host that
// ends does.
class FakeTrayHost {
 public:
  FakeTrayHost() {
    int screenNumber = 0;
    FConnection = xcb_connect(nullptr, &screenNumber);
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(FConnection));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&roots);
    const xcb_window_t root = roots.data->root;
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
    const xcb_atom_t selection = Atom(name);
    FWindow = xcb_generate_id(FConnection);
    xcb_create_window(FConnection, XCB_COPY_FROM_PARENT, FWindow, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(FConnection, FWindow, selection, XCB_CURRENT_TIME);
    xcb_client_message_event_t manager{};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = root;
    manager.type = Atom("MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = FWindow;
    xcb_send_event(FConnection, 0, root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&manager));
    Sync();
  }
  ~FakeTrayHost() {
    xcb_destroy_window(FConnection, FWindow);
    Sync();
    xcb_disconnect(FConnection);
  }
  FakeTrayHost(const FakeTrayHost&) = delete;
  FakeTrayHost& operator=(const FakeTrayHost&) = delete;

 private:
  // Returns once the server has carried out every request so far.
  void Sync() {
    std::free(xcb_get_input_focus_reply(FConnection, xcb_get_input_focus(FConnection), nullptr));
  }

  xcb_atom_t Atom(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        FConnection,
        xcb_intern_atom(FConnection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }

  xcb_connection_t* FConnection = nullptr;
  xcb_window_t FWindow = 0;
};

constexpr int WaitMs = 10000;  // a bound for a hung test, not a measure

class TrayHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      GTEST_SKIP() << "no private X server (Xvfb) to test with";
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Pling"));
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(0xff2060d0);
    QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
  }

  // The hosts of a test are gone from the server before the next test starts.
  void TearDown() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    EXPECT_TRUE(QTest::qWaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, WaitMs));
  }

  std::unique_ptr<TTrayIcon> Make() {
    auto shell = std::make_unique<TSystemTrayShell>();
    Shell = shell.get();
    auto tray = std::make_unique<TTrayIcon>(nullptr, std::move(shell));
    tray->OnTrayAvailableChange = [this](TComponent& sender) {
      Changes.push_back(static_cast<TTrayIcon&>(sender).TrayAvailable());
    };
    return tray;
  }

  TSystemTrayShell* Shell = nullptr;
  std::vector<bool> Changes;
};

TEST_F(TrayHostTest, AHostThatComesAndGoesIsFollowed) {
  auto tray = Make();
  ASSERT_TRUE(Shell->Following());
  EXPECT_FALSE(tray->TrayAvailable());
  {
    FakeTrayHost host;
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray->TrayAvailable(); }, WaitMs));
    // A second host taking over: still a tray.
    FakeTrayHost successor;
    QTest::qWait(100);
    EXPECT_TRUE(tray->TrayAvailable());
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tray->TrayAvailable(); }, WaitMs));
  // And a host that comes later again.
  FakeTrayHost late;
  ASSERT_TRUE(QTest::qWaitFor([&] { return tray->TrayAvailable(); }, WaitMs));
  EXPECT_EQ(Changes, (std::vector<bool>{true, false, true}));
}

TEST_F(TrayHostTest, TheWindowFollowsTheHostInAndOutOfTheTray) {
  QWidget window;
  auto tray = Make();
  tray->SetApplicationWindow(&window);
  tray->SetActive(false);
  tray->OnMinimize = [&](TComponent&) { tray->SetActive(true); };
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, WaitMs));

  // No host: minimising leaves the window where minimised windows are.
  window.showMinimized();
  QTest::qWait(50);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(tray->Active());

  auto host = std::make_unique<FakeTrayHost>();
  ASSERT_TRUE(QTest::qWaitFor([&] { return tray->InTray(); }, WaitMs));
  EXPECT_FALSE(window.isVisible());

  host.reset();  // the host ends while the window is in the tray
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, WaitMs));
  EXPECT_TRUE(window.isMinimized());
  EXPECT_FALSE(tray->InTray());
}

TEST_F(TrayHostTest, AHostThatIsThereAtStartIsSeen) {
  FakeTrayHost host;
  auto tray = Make();
  QTest::qWait(50);  // the announcement reaches a watch that knows the host already
  EXPECT_TRUE(tray->TrayAvailable());
  EXPECT_TRUE(Changes.empty());
}

// The window's _NET_WM_STATE as the X server holds it: whether it skips the task bar
// and the pager (both, or -1 when only one of them is there).
int SkipsTaskbar(const QWidget& window) {
  auto* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  const auto atom = [&](const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
  };
  auto* reply = xcb_get_property_reply(
      connection,
      xcb_get_property(connection, 0, static_cast<xcb_window_t>(window.winId()),
                       atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 1024),
      nullptr);
  int found = 0;
  if (reply && reply->format == 32) {
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i) {
      if (values[i] == atom("_NET_WM_STATE_SKIP_TASKBAR") ||
          values[i] == atom("_NET_WM_STATE_SKIP_PAGER"))
        ++found;
    }
  }
  std::free(reply);
  return found == 2 ? 1 : found == 0 ? 0 : -1;
}

// A window manager takes the state of a window away when it is withdrawn; every
// showing puts the task-bar choice back, next to what Qt keeps there.
TEST_F(TrayHostTest, TheTaskbarChoiceHoldsAtEveryShowing) {
  QWidget window;
  window.setWindowFlag(Qt::WindowStaysOnTopHint);  // a state of Qt's own
  SetTaskbarEntry(window, false);
  EXPECT_FALSE(TaskbarEntry(window));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, WaitMs));
  EXPECT_EQ(SkipsTaskbar(window), 1);

  window.hide();
  auto* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  auto* reply = xcb_intern_atom_reply(connection,
                                      xcb_intern_atom(connection, 0, 13, "_NET_WM_STATE"), nullptr);
  xcb_delete_property(connection, static_cast<xcb_window_t>(window.winId()), reply->atom);
  std::free(reply);
  window.show();
  EXPECT_EQ(SkipsTaskbar(window), 1);

  // Changed while hidden: the next showing has the entry back.
  window.hide();
  SetTaskbarEntry(window, true);
  window.show();
  EXPECT_EQ(SkipsTaskbar(window), 0);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

}  // namespace
}  // namespace pling::tray
