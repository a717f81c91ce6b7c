// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartupNotice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <QByteArray>
#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtGlobal>
#ifdef PLING_APP_XCB
#include <xcb/xcb.h>
#endif

#include "tray/TrayIcon.h"

namespace pling::app {

namespace {

std::string TakeVariable(const char* name) {
  const char* value = std::getenv(name);
  std::string text = value != nullptr ? value : "";
  ::unsetenv(name);
  return text;
}

bool OnWayland() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void ActivateNow(QWidget& window, const std::string& token) {
  if (!token.empty()) qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token));
  window.activateWindow();
}

// Waits on the native window of a widget just shown for its first exposure, and
// activates the widget once that exposure has been drawn: the widget draws it
// after this filter has seen the event, so the request reaches the compositor
// after the picture. Found by its name (kPendingName), so that a later start
// need not make a second one; it goes when the window is hidden first.
constexpr const char* kPendingName = "pling-activate-when-drawn";

class TActivateWhenDrawn : public QObject {
 public:
  TActivateWhenDrawn(QWindow& native, QWidget& window, std::string token)
      : QObject(&native), FWindow(&window), FToken(std::move(token)) {
    setObjectName(QLatin1String(kPendingName));
    native.installEventFilter(this);
  }

  // A later start's token, with which the window is activated instead.
  void SetToken(const std::string& token) {
    if (!token.empty()) FToken = token;
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (FDrawn) return false;
    if (event->type() == QEvent::Hide) {
      // Shown again, the window waits anew: this one is no longer found.
      FDrawn = true;
      setObjectName(QString());
      deleteLater();
    } else if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
      FDrawn = true;
      QTimer::singleShot(0, this, [this] {
        if (FWindow && FWindow->isVisible()) ActivateNow(*FWindow, FToken);
        deleteLater();
      });
    }
    return false;
  }

 private:
  QPointer<QWidget> FWindow;
  std::string FToken;
  bool FDrawn = false;
};

// Activates `window` with `token`: at once where it stands on the screen
// (`drawn`), else once it has been drawn.
void Activate(QWidget& window, const std::string& token, bool drawn) {
  QWindow* native = window.windowHandle();
  if (!OnWayland() || native == nullptr) {
    window.activateWindow();
    return;
  }
  QObject* pending =
      native->findChild<QObject*>(QLatin1String(kPendingName), Qt::FindDirectChildrenOnly);
  if (pending != nullptr) {
    static_cast<TActivateWhenDrawn*>(pending)->SetToken(token);
  } else if (drawn) {
    ActivateNow(window, token);
  } else {
    new TActivateWhenDrawn(*native, window, token);
  }
}

#ifdef PLING_APP_XCB
xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  xcb_atom_t atom = XCB_ATOM_NONE;
  if (reply != nullptr) atom = reply->atom;
  std::free(reply);
  return atom;
}
#endif

}  // namespace

std::string TakeActivationToken() {
  return TakeVariable("XDG_ACTIVATION_TOKEN");
}

std::string StartupRemoveMessage(const std::string& startupId) {
  std::string message = "remove: ID=\"";
  for (const char c : startupId) {
    if (c == '"' || c == '\\') message += '\\';
    message += c;
  }
  message += '"';
  message += '\0';
  return message;
}

void EndStartupNotification() {
  const std::string startupId = TakeVariable("DESKTOP_STARTUP_ID");
  if (startupId.empty()) return;
#ifdef PLING_APP_XCB
  if (std::getenv("DISPLAY") == nullptr) return;
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    return;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem > 0) {
    const xcb_window_t root = screens.data->root;
    // The messages name a window of the sender's: one that is never shown.
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t overrideRedirect = 1;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      &overrideRedirect);
    const xcb_atom_t begin = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
    const std::string message = StartupRemoveMessage(startupId);
    // Twenty bytes a message: the first of type _BEGIN, the rest continue it.
    constexpr std::size_t kChunk = 20;
    for (std::size_t at = 0; at < message.size(); at += kChunk) {
      xcb_client_message_event_t event{};
      event.response_type = XCB_CLIENT_MESSAGE;
      event.format = 8;
      event.window = window;
      event.type = at == 0 ? begin : more;
      std::memcpy(event.data.data8, message.data() + at, std::min(kChunk, message.size() - at));
      xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                     reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, window);
    // A round trip: everything sent has reached the server before the program ends.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  }
  xcb_disconnect(connection);
#endif
}

void ActivateShownWindow(QWidget& window, const std::string& token) {
  Activate(window, token, false);
}

void BringForward(QWidget& window, const std::string& token) {
  if (!OnWayland()) {
    tray::RestoreWindow(window);
    return;
  }
  // A window that stands shown has been drawn: it is not necessarily exposed, as
  // where the compositor keeps it out of sight behind others.
  const bool drawn = window.isVisible();
  window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.show();
  window.raise();
  Activate(window, token, drawn);
}

}  // namespace pling::app
