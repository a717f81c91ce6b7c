// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the settings store's tests share: a store of a chosen platform version, a
// form on a fixed screen, the program's store names, the owner's loading, and
// the names of the two back ends for parameterised tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/version.h"
#include "runtime/component.h"
#include "settings/Megares.h"
#include "settings/owner_form.h"

namespace pling::settings {

// A store that reports a chosen platform version.
class TVersionedStore : public TMegaRegistry {
 public:
  TVersionedStore(runtime::TComponent* owner, platform::DWORD version)
      : TMegaRegistry(owner), FVersion(version) {}

 protected:
  platform::DWORD PlatformVersion() const override { return FVersion; }

 private:
  platform::DWORD FVersion;
};

// A form on a 1024 x 768 screen. Its teardown frees its components while it is
// still a form, as a real form's does.
class TFakeForm : public TOwnerForm {
 public:
  TFakeForm() : TOwnerForm(nullptr) {}
  ~TFakeForm() override { DestroyComponents(); }
  const char* ClassName() const override { return "TPlingFrm"; }

  std::int32_t Left() const override { return FLeft; }
  std::int32_t Top() const override { return FTop; }
  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void SetLeft(std::int32_t value) override { FLeft = value; }
  void SetTop(std::int32_t value) override { FTop = value; }
  void SetWidth(std::int32_t value) override { FWidth = value; }
  void SetHeight(std::int32_t value) override { FHeight = value; }
  std::int32_t ScreenWidth() const override { return 1024; }
  std::int32_t ScreenHeight() const override { return 768; }
  // None unless a test gives some: then the form is restored inside one of them.
  std::vector<TRect> WorkAreas() const override { return Areas; }
  std::int32_t FrameExtraWidth() const override { return 8; }
  std::int32_t FrameExtraHeight() const override { return 30; }

  std::vector<TRect> Areas;

  void SetBounds(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
  }

 private:
  std::int32_t FLeft = 10;
  std::int32_t FTop = 20;
  std::int32_t FWidth = 448;
  std::int32_t FHeight = 400;
};

inline void Configure(TMegaRegistry& store, TMRPreference preference) {
  store.SetApp("Pling");
  store.SetCompany("Corvid");
  store.SetIniName("Pling");
  store.SetPreference(preference);
}

// Runs the owner's loading, and so the store's after-load step.
inline void Load(runtime::TComponent& owner) {
  owner.BeginLoading();
  owner.EndLoading();
}

inline std::string BackEndName(const ::testing::TestParamInfo<TMRPreference>& param) {
  return param.param == mrpIni ? "Ini" : "Registry";
}

}  // namespace pling::settings
