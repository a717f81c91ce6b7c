// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/TaskbarEntry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QVariant>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef PLING_TRAY_XCB
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#endif

namespace pling::tray {
namespace {

constexpr char EntryProperty[] = "plingTaskbarEntry";
constexpr char FilterName[] = "plingTaskbarEntryFilter";

#ifdef PLING_TRAY_XCB
xcb_connection_t* X11Connection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const std::string text(name);
  auto* reply = xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(text.size()), text.c_str()),
      nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// A window that is not mapped: its _NET_WM_STATE is its own to write. The states
// that others put there (Qt's among them) are kept.
void WriteState(xcb_connection_t* connection, xcb_window_t window, bool skip) {
  const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
  const xcb_atom_t skips[] = {Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                              Atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
  std::vector<xcb_atom_t> atoms;
  auto* reply = xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
  if (reply && reply->type == XCB_ATOM_ATOM && reply->format == 32) {
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    const int count = xcb_get_property_value_length(reply) / 4;
    for (int i = 0; i < count; ++i) {
      if (values[i] != skips[0] && values[i] != skips[1]) atoms.push_back(values[i]);
    }
  }
  std::free(reply);
  if (skip) atoms.insert(atoms.end(), std::begin(skips), std::end(skips));
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                      static_cast<std::uint32_t>(atoms.size()), atoms.data());
  xcb_flush(connection);
}

// A mapped window: the window manager owns its state and is asked to change it.
void RequestState(xcb_connection_t* connection, xcb_window_t window, bool skip) {
  auto* geometry =
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
  if (!geometry) return;
  const xcb_window_t root = geometry->root;
  std::free(geometry);
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = Atom(connection, "_NET_WM_STATE");
  message.data.data32[0] = skip ? 1 : 0;  // _NET_WM_STATE_ADD : _NET_WM_STATE_REMOVE
  message.data.data32[1] = Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
  message.data.data32[2] = Atom(connection, "_NET_WM_STATE_SKIP_PAGER");
  message.data.data32[3] = 1;  // from an application
  xcb_send_event(connection, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection);
}

// Sets the state again at every showing, before the window is mapped.
class TShowFilter : public QObject {
 public:
  explicit TShowFilter(QWidget& window) : QObject(&window) { setObjectName(FilterName); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched == parent()) {
      auto& window = *static_cast<QWidget*>(watched);
      if (xcb_connection_t* connection = X11Connection())
        WriteState(connection, static_cast<xcb_window_t>(window.winId()), !TaskbarEntry(window));
    }
    return false;
  }
};
#endif

}  // namespace

bool TaskbarEntry(const QWidget& window) {
  const QVariant value = window.property(EntryProperty);
  return !value.isValid() || value.toBool();
}

void SetTaskbarEntry(QWidget& window, bool shown) {
  window.setProperty(EntryProperty, shown);
#ifdef PLING_TRAY_XCB
  if (xcb_connection_t* connection = X11Connection()) {
    if (!window.findChild<TShowFilter*>(FilterName, Qt::FindDirectChildrenOnly))
      window.installEventFilter(new TShowFilter(window));      // a child of the window
    if (!window.testAttribute(Qt::WA_WState_Created)) return;  // the first showing sets it
    const auto id = static_cast<xcb_window_t>(window.winId());
    if (window.isVisible()) {
      RequestState(connection, id, !shown);
    } else {
      WriteState(connection, id, !shown);
    }
    return;
  }
#endif
  if (window.windowFlags().testFlag(Qt::Tool) == !shown) return;
  const bool visible = window.isVisible();
  window.setWindowFlag(Qt::Tool, !shown);  // hides a shown window
  if (visible) window.show();
}

}  // namespace pling::tray
