// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Follows the notification area of an X11 desktop: a tray host owns the selection
// _NET_SYSTEM_TRAY_S<screen>, announces itself with a MANAGER client message on the
// root window, and goes away with its owner window. Both arrive as X events, so the
// watch costs nothing while nothing changes.
#include <functional>
#include <memory>

namespace pling::tray {

class TTrayHostWatch {
 public:
  virtual ~TTrayHostWatch() = default;
  // A watch for the running application's display, or nullptr where the platform
  // is not X11 (or the build has no X11 support).
  static std::unique_ptr<TTrayHostWatch> Create(std::function<void()> changed);
  // The present owner of the selection; 0 when there is no tray host.
  virtual unsigned long Owner() const = 0;
};

}  // namespace pling::tray
