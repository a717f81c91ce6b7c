// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TFormSizer: limits the window of the form that owns it. While enabled it
// stands in front of the window's own message handling: it fills in the window
// system's size-limit request (smallest and largest size while the user drags
// the border, size and position when maximised), re-checks the position rule
// after every move, and for a fixed position keeps the caption from dragging
// the window.
//
// The rules here know no window system. The GUI implements TSizerWindow for a
// real window and calls GetMinMaxInfo, WindowMoved and HitTest where the window
// system's size-limit request, move notice and hit test arrive.
#include <cstdint>
#include <functional>
#include <string>

#include "runtime/component.h"

namespace pling::settings {

class TFormSizer;
class TOwnerForm;

struct TPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// The window system's size-limit record; all values in pixels, screen coordinates.
struct TMinMaxInfo {
  TPoint ptReserved;
  TPoint ptMaxSize;       // size of the maximised window
  TPoint ptMaxPosition;   // left and top edge of the maximised window
  TPoint ptMinTrackSize;  // smallest size while the user drags the border
  TPoint ptMaxTrackSize;  // largest size while the user drags the border
  friend bool operator==(const TMinMaxInfo&, const TMinMaxInfo&) = default;
};
static_assert(sizeof(TMinMaxInfo) == 40);

// The position rule.
enum TCoordinate : std::uint8_t {
  ctNone = 0,     // none
  ctEquals = 1,   // the window's left and top edges always equal Left and Top
  ctGreater = 2,  // the edges are at least Left and Top
  ctLess = 3,     // the edges are at most Left and Top
};

// Hit-test results of the window's non-client area that the sizer deals in.
inline constexpr int HTCLIENT = 1;
inline constexpr int HTCAPTION = 2;

using TNotifyOnTracking = std::function<void(TFormSizer& sender, TMinMaxInfo& info)>;
// Shows a warning message box with one "OK" button.
using TWarningBox = std::function<void(const std::string& caption, const std::string& text)>;

// The window of the form that owns a sizer, as the sizer sees it.
class TSizerWindow {
 public:
  virtual ~TSizerWindow() = default;
  // Puts the sizer in front of the window's own message handling, creating the
  // window first if it does not exist yet; RemoveSizer takes it away again and
  // leaves the window system's own limits in force.
  virtual void InstallSizer(TFormSizer& sizer) = 0;
  virtual void RemoveSizer(TFormSizer& sizer) = 0;
  // The sizer goes away while its owner is being torn down (no longer a form):
  // the window lets go of it without being touched otherwise.
  virtual void ForgetSizer(TFormSizer& sizer) = 0;
  // Has the window system ask for the size limits again and apply them to the
  // window where it stands (a window larger or smaller than allowed is resized).
  virtual void RefreshLimits() = 0;
};

// A form whose window a sizer can limit. The owner of a sizer is a form when it
// is a TOwnerForm (whose bounds the sizer reads and sets; setting Left or Top
// moves the window) that also implements this interface.
class TSizerForm {
 public:
  virtual ~TSizerForm() = default;
  virtual TSizerWindow& SizerWindow() = 0;
};

class TFormSizer : public runtime::TComponent {
 public:
  explicit TFormSizer(runtime::TComponent* owner);
  ~TFormSizer() override;
  const char* ClassName() const override { return "TFormSizer"; }

  // 0 or less leaves the window system's own value in place.
  std::int32_t MinTrackHeight() const { return FMinTrackHeight; }
  void SetMinTrackHeight(std::int32_t value) { FMinTrackHeight = value; }
  std::int32_t MinTrackWidth() const { return FMinTrackWidth; }
  void SetMinTrackWidth(std::int32_t value) { FMinTrackWidth = value; }
  std::int32_t MaxTrackHeight() const { return FMaxTrackHeight; }
  void SetMaxTrackHeight(std::int32_t value) { FMaxTrackHeight = value; }
  std::int32_t MaxTrackWidth() const { return FMaxTrackWidth; }
  void SetMaxTrackWidth(std::int32_t value) { FMaxTrackWidth = value; }
  std::int32_t MaximizedHeight() const { return FMaximizedHeight; }
  void SetMaximizedHeight(std::int32_t value) { FMaximizedHeight = value; }
  std::int32_t MaximizedTop() const { return FMaximizedTop; }
  void SetMaximizedTop(std::int32_t value) { FMaximizedTop = value; }
  std::int32_t MaximizedWidth() const { return FMaximizedWidth; }
  void SetMaximizedWidth(std::int32_t value) { FMaximizedWidth = value; }
  std::int32_t MaximizedLeft() const { return FMaximizedLeft; }
  void SetMaximizedLeft(std::int32_t value) { FMaximizedLeft = value; }

  // Enabling installs the sizer on the owner form's window, disabling removes
  // it; either way the window then gets the limits again and the position rule
  // is applied. An owner that is not a form gets the warning box, and Enabled
  // keeps its value.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);

  // Raised on every size-limit request, after the properties went into the
  // record; the handler may change the record. Not raised while designing.
  const TNotifyOnTracking& OnTracking() const { return FOnTracking; }
  void SetOnTracking(TNotifyOnTracking handler) { FOnTracking = std::move(handler); }

  // True copies the owner form's current size into the three sizes and its
  // position into the maximised position and Left/Top (plain assignments).
  bool UseDesignTimeDef() const { return FUseDesignTimeDef; }
  void SetUseDesignTimeDef(bool value);

  // Setting any of these applies the position rule.
  std::int32_t Top() const { return FTop; }
  void SetTop(std::int32_t value);
  std::int32_t Left() const { return FLeft; }
  void SetLeft(std::int32_t value);
  TCoordinate CoordType() const { return FCoordType; }
  void SetCoordType(TCoordinate value);

  // Where this sizer's warning box goes; while none is set, to the default box.
  void SetWarningBox(TWarningBox box) { FWarningBox = std::move(box); }
  // The warning box every new sizer starts with (the GUI sets a real message
  // box once at start; until then warnings go to the standard error stream).
  static void SetDefaultWarningBox(TWarningBox box);
  static constexpr const char* kWarningCaption = "Warning";
  static constexpr const char* kWarningText =
      "TFormSizer error.\rComponent's owner must be a form.";

  // The window's messages, called by the window that the sizer is installed on.
  // The size-limit request: each property greater than 0 replaces its member,
  // then OnTracking may change the record.
  void GetMinMaxInfo(TMinMaxInfo& info);
  // The window moved: applies the position rule.
  void WindowMoved();
  // The hit test's result as the window would report it, given the result of
  // the window's own handling: with ctEquals the caption reports the client
  // area, so that it cannot drag the window.
  int HitTest(int result) const;
  // Called by the window the sizer is installed on when the window goes away
  // first; the sizer then has nothing left to remove.
  void WindowDestroyed(TSizerWindow& window);

  // Applies the position rule to the owner form now (also done by the setters).
  void ApplyPositionRule();

 private:
  TOwnerForm* OwnerForm() const;
  TSizerWindow* OwnerWindow() const;
  void ShowWarning() const;

  std::int32_t FMinTrackHeight = 0;
  std::int32_t FMinTrackWidth = 0;
  std::int32_t FMaxTrackHeight = 0;
  std::int32_t FMaxTrackWidth = 0;
  std::int32_t FMaximizedHeight = 0;
  std::int32_t FMaximizedTop = 0;
  std::int32_t FMaximizedWidth = 0;
  bool FEnabled = false;
  TNotifyOnTracking FOnTracking;
  std::int32_t FMaximizedLeft = 0;
  bool FUseDesignTimeDef = false;
  std::int32_t FTop = 0;
  std::int32_t FLeft = 0;
  TCoordinate FCoordType = ctNone;
  // The window the sizer is installed on while enabled.
  TSizerWindow* FInstalledOn = nullptr;
  TWarningBox FWarningBox;
};

}  // namespace pling::settings
