// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the settings store needs of the form that owns it: the form's bounds in
// pixels, its class name (from the component) and the size of the screen it is
// on, or better the work areas of every screen. The GUI implements it with a real window.
//
// What a form must do for its bounds to be saved (with SaveFormCoord):
// - Free its components while it is still a form: the most derived form's
//   destructor calls DestroyComponents() before anything else. A form that leaves
//   its components to the base destructor is no form any more when the store goes
//   away, and saves no bounds.
// - Keep answering Left, Top, Width and Height with the bounds the window had
//   when its teardown began, until DestroyComponents() has returned (a window
//   that is hidden or destroyed first must report its last bounds, not zeros).
// The store records the bounds at each removal notice during the teardown and
// once more when it is freed itself, so the order in which the form created its
// components (the store first or last) does not matter.
#include <cstdint>
#include <vector>

#include "runtime/component.h"
#include "settings/Placement.h"

namespace pling::settings {

class TOwnerForm : public runtime::TComponent {
 public:
  using runtime::TComponent::TComponent;

  virtual std::int32_t Left() const = 0;
  virtual std::int32_t Top() const = 0;
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;
  virtual void SetLeft(std::int32_t value) = 0;
  virtual void SetTop(std::int32_t value) = 0;
  virtual void SetWidth(std::int32_t value) = 0;
  virtual void SetHeight(std::int32_t value) = 0;

  // The screen's size in pixels.
  virtual std::int32_t ScreenWidth() const = 0;
  virtual std::int32_t ScreenHeight() const = 0;

  // The work areas of the screens that exist (in the pixels of the bounds), and
  // what the window's frame adds to its width and height. A form that names work
  // areas is restored wholly inside one of them; one that names none only kept
  // from the screen's left and top edges and from beyond its size.
  virtual std::vector<TRect> WorkAreas() const { return {}; }
  virtual std::int32_t FrameExtraWidth() const { return 0; }
  virtual std::int32_t FrameExtraHeight() const { return 0; }
};

}  // namespace pling::settings
