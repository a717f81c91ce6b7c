#pragma once
// What the settings store needs of the form that owns it: the form's bounds in
// pixels, its class name (from the component) and the size of the screen it is
// on. The GUI implements it with a real window.
//
// A form's teardown must free its components while it is still a form: the
// most derived form's destructor calls DestroyComponents() (its child controls
// first, the settings store after them). The store records the form's bounds
// from the removal notices it gets then, and saves those; a form that leaves
// its components to the base destructor saves no bounds.
#include <cstdint>

#include "platform/component.h"

namespace pling::settings {

class TOwnerForm : public platform::TComponent {
 public:
  using platform::TComponent::TComponent;

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
};

}  // namespace pling::settings
