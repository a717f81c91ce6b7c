// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/FormSize.h"

#include <cstdio>
#include <utility>

#include "settings/owner_form.h"

namespace pling::settings {

namespace {

TWarningBox& DefaultWarningBox() {
  static TWarningBox box = [](const std::string& caption, const std::string& text) {
    std::string line = text;
    for (char& c : line) {
      if (c == '\r') c = ' ';
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), line.c_str());
  };
  return box;
}

}  // namespace

TFormSizer::TFormSizer(runtime::TComponent* owner) : runtime::TComponent(owner) {}

TFormSizer::~TFormSizer() {
  // A window that still holds this sizer must not keep it once it is gone. The
  // window's own limits are put back only while the owner is still a form; in
  // the middle of the form's teardown the window is left alone.
  if (TSizerWindow* window = std::exchange(FInstalledOn, nullptr)) {
    if (FEnabled && OwnerForm() != nullptr) {
      window->RemoveSizer(*this);
    } else {
      window->ForgetSizer(*this);
    }
  }
}

void TFormSizer::SetDefaultWarningBox(TWarningBox box) {
  DefaultWarningBox() = std::move(box);
}

TOwnerForm* TFormSizer::OwnerForm() const {
  return dynamic_cast<TOwnerForm*>(Owner());
}

TSizerWindow* TFormSizer::OwnerWindow() const {
  auto* form = dynamic_cast<TSizerForm*>(Owner());
  if (form == nullptr || OwnerForm() == nullptr) return nullptr;
  return &form->SizerWindow();
}

void TFormSizer::ShowWarning() const {
  const TWarningBox& box = FWarningBox ? FWarningBox : DefaultWarningBox();
  if (box) box(kWarningCaption, kWarningText);
}

void TFormSizer::SetEnabled(bool value) {
  TOwnerForm* form = OwnerForm();
  TSizerWindow* window = OwnerWindow();
  if (form == nullptr || window == nullptr) {
    ShowWarning();
    return;
  }
  if (value && !FEnabled) {
    window->InstallSizer(*this);
    FInstalledOn = window;
  } else if (!value && FEnabled) {
    if (TSizerWindow* installed = std::exchange(FInstalledOn, nullptr)) {
      installed->RemoveSizer(*this);
    }
  }
  FEnabled = value;
  window->RefreshLimits();
  ApplyPositionRule();
}

void TFormSizer::SetUseDesignTimeDef(bool value) {
  TOwnerForm* form = OwnerForm();
  if (form == nullptr || OwnerWindow() == nullptr) {
    ShowWarning();
    return;
  }
  if (value) {
    const std::int32_t height = form->Height();
    const std::int32_t width = form->Width();
    FMinTrackHeight = FMaxTrackHeight = FMaximizedHeight = height;
    FMinTrackWidth = FMaxTrackWidth = FMaximizedWidth = width;
    FMaximizedTop = FTop = form->Top();
    FMaximizedLeft = FLeft = form->Left();
  }
  FUseDesignTimeDef = value;
}

void TFormSizer::SetTop(std::int32_t value) {
  FTop = value;
  ApplyPositionRule();
}

void TFormSizer::SetLeft(std::int32_t value) {
  FLeft = value;
  ApplyPositionRule();
}

void TFormSizer::SetCoordType(TCoordinate value) {
  FCoordType = value;
  ApplyPositionRule();
}

void TFormSizer::ApplyPositionRule() {
  if (!FEnabled) return;
  TOwnerForm* form = OwnerForm();
  if (form == nullptr) return;
  // Each assignment moves the window, and the move comes back here through
  // WindowMoved; it then finds that edge in place.
  switch (FCoordType) {
    case ctNone:
      break;
    case ctEquals:
      if (form->Left() != FLeft) form->SetLeft(FLeft);
      if (form->Top() != FTop) form->SetTop(FTop);
      break;
    case ctGreater:
      if (form->Left() < FLeft) form->SetLeft(FLeft);
      if (form->Top() < FTop) form->SetTop(FTop);
      break;
    case ctLess:
      if (form->Left() > FLeft) form->SetLeft(FLeft);
      if (form->Top() > FTop) form->SetTop(FTop);
      break;
  }
}

void TFormSizer::GetMinMaxInfo(TMinMaxInfo& info) {
  // The handler works on a copy, so a handler that throws leaves the request as
  // the window system filled it.
  TMinMaxInfo copy = info;
  const auto replace = [](std::int32_t& member, std::int32_t property) {
    if (property > 0) member = property;
  };
  replace(copy.ptMinTrackSize.x, FMinTrackWidth);
  replace(copy.ptMinTrackSize.y, FMinTrackHeight);
  replace(copy.ptMaxTrackSize.x, FMaxTrackWidth);
  replace(copy.ptMaxTrackSize.y, FMaxTrackHeight);
  replace(copy.ptMaxSize.x, FMaximizedWidth);
  replace(copy.ptMaxSize.y, FMaximizedHeight);
  replace(copy.ptMaxPosition.x, FMaximizedLeft);
  replace(copy.ptMaxPosition.y, FMaximizedTop);
  if (FOnTracking && !Designing()) FOnTracking(*this, copy);
  info = copy;
}

void TFormSizer::WindowMoved() {
  ApplyPositionRule();
}

int TFormSizer::HitTest(int result) const {
  return FCoordType == ctEquals && result == HTCAPTION ? HTCLIENT : result;
}

void TFormSizer::WindowDestroyed(TSizerWindow& window) {
  if (FInstalledOn == &window) FInstalledOn = nullptr;
}

}  // namespace pling::settings
