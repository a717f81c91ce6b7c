// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/TrayHostWatch.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef PLING_TRAY_XCB
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#endif

namespace pling::tray {

#ifdef PLING_TRAY_XCB
namespace {

// The screen number of the display name (":0.1" is screen 1), as the connection
// chose it.
int ScreenNumber(const char* display) {
  if (!display) return 0;
  const char* colon = std::strrchr(display, ':');
  if (!colon) return 0;
  const char* dot = std::strchr(colon, '.');
  return dot ? std::atoi(dot + 1) : 0;
}

xcb_atom_t InternAtom(xcb_connection_t* connection, const std::string& name) {
  const auto cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

class TXcbTrayHostWatch final : public TTrayHostWatch, public QAbstractNativeEventFilter {
 public:
  TXcbTrayHostWatch(xcb_connection_t* connection, xcb_window_t root, int screen,
                    std::function<void()> changed)
      : FConnection(connection), FRoot(root), FChanged(std::move(changed)) {
    FSelection = InternAtom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
    FManager = InternAtom(connection, "MANAGER");
    ListenOnRoot();
    WatchOwner();
    QCoreApplication::instance()->installNativeEventFilter(this);
  }

  ~TXcbTrayHostWatch() override {
    if (auto* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
  }

  unsigned long Owner() const override { return FOwner; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/) override {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
      case XCB_CLIENT_MESSAGE: {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        // A new tray host took the selection.
        if (client->window == FRoot && client->type == FManager && client->format == 32 &&
            client->data.data32[1] == FSelection) {
          Changed();
        }
        break;
      }
      case XCB_DESTROY_NOTIFY: {
        const auto* destroy = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (FOwner != XCB_WINDOW_NONE && destroy->window == FOwner) Changed();
        break;
      }
      default:
        break;
    }
    // Qt sees the events too: it follows the tray host for its own icon.
    return false;
  }

 private:
  void Changed() {
    WatchOwner();
    FChanged();
  }

  // The MANAGER message is sent to the root window for its structure listeners. The
  // root's event mask of this connection is shared with Qt, so its bits are kept.
  void ListenOnRoot() {
    auto* attributes = xcb_get_window_attributes_reply(
        FConnection, xcb_get_window_attributes(FConnection, FRoot), nullptr);
    if (!attributes) return;
    const std::uint32_t mask = attributes->your_event_mask;
    std::free(attributes);
    if (mask & XCB_EVENT_MASK_STRUCTURE_NOTIFY) return;
    const std::uint32_t value = mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(FConnection, FRoot, XCB_CW_EVENT_MASK, &value);
    xcb_flush(FConnection);
  }

  xcb_window_t QueryOwner() const {
    auto* reply = xcb_get_selection_owner_reply(
        FConnection, xcb_get_selection_owner(FConnection, FSelection), nullptr);
    if (!reply) return XCB_WINDOW_NONE;
    const xcb_window_t owner = reply->owner;
    std::free(reply);
    return owner;
  }

  // Finds the selection's owner and asks for its destruction notice. An owner that
  // goes away before the request reaches the server leaves the selection to the
  // next one (or none), so the owner is read again until it holds still.
  void WatchOwner() {
    FOwner = XCB_WINDOW_NONE;
    if (FSelection == XCB_ATOM_NONE) return;
    for (int attempt = 0; attempt < 5; ++attempt) {
      const xcb_window_t owner = QueryOwner();
      if (owner == XCB_WINDOW_NONE) return;
      const std::uint32_t value = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
      xcb_generic_error_t* error = xcb_request_check(
          FConnection,
          xcb_change_window_attributes_checked(FConnection, owner, XCB_CW_EVENT_MASK, &value));
      if (!error && QueryOwner() == owner) {
        FOwner = owner;
        return;
      }
      std::free(error);
    }
  }

  xcb_connection_t* FConnection;
  xcb_window_t FRoot;
  std::function<void()> FChanged;
  xcb_atom_t FSelection = XCB_ATOM_NONE;
  xcb_atom_t FManager = XCB_ATOM_NONE;
  xcb_window_t FOwner = XCB_WINDOW_NONE;
};

}  // namespace
#endif

std::unique_ptr<TTrayHostWatch> TTrayHostWatch::Create(std::function<void()> changed) {
#ifdef PLING_TRAY_XCB
  auto* app = qGuiApp;
  if (!app || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return nullptr;
  xcb_connection_t* connection = x11->connection();
  const int screen = ScreenNumber(std::getenv("DISPLAY"));
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; roots.rem > 0 && i < screen; ++i) xcb_screen_next(&roots);
  if (roots.rem <= 0) return nullptr;
  return std::make_unique<TXcbTrayHostWatch>(connection, roots.data->root, screen,
                                             std::move(changed));
#else
  (void)changed;
  return nullptr;
#endif
}

}  // namespace pling::tray
