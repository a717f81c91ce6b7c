// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound.h"

#include <dlfcn.h>

#include <string>

namespace pling::platform {
namespace {

// The event-sound library is loaded when it is first needed, so that the program
// neither needs it to start nor pays for it while no message is signalled by
// sound. Its interface is small and stable; these are its C signatures.
struct ca_context;
using CreateFn = int (*)(ca_context**);
using PlayFn = int (*)(ca_context*, unsigned int, ...);
using DestroyFn = int (*)(ca_context*);

constexpr const char* kEventId = "event.id";
constexpr const char* kEventDescription = "event.description";
constexpr const char* kApplicationName = "application.name";

class TEventSounds {
 public:
  TEventSounds() {
    FLibrary = dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
    if (FLibrary == nullptr) return;
    auto create = reinterpret_cast<CreateFn>(dlsym(FLibrary, "ca_context_create"));
    FPlay = reinterpret_cast<PlayFn>(dlsym(FLibrary, "ca_context_play"));
    FDestroy = reinterpret_cast<DestroyFn>(dlsym(FLibrary, "ca_context_destroy"));
    if (create == nullptr || FPlay == nullptr || FDestroy == nullptr || create(&FContext) != 0)
      FContext = nullptr;
  }
  ~TEventSounds() {
    if (FContext != nullptr) FDestroy(FContext);
    // The library stays loaded: its sound back ends may keep threads of their own.
  }
  TEventSounds(const TEventSounds&) = delete;
  TEventSounds& operator=(const TEventSounds&) = delete;

  bool Play(std::string_view eventId) {
    if (FContext == nullptr) return false;
    const std::string id(eventId);
    // Zero means the sound was started; every failure (no driver, no device, no
    // such sound) is a negative code.
    return FPlay(FContext, 0, kEventId, id.c_str(), kEventDescription, "Incoming message",
                 kApplicationName, "Pling", static_cast<const char*>(nullptr)) == 0;
  }

 private:
  void* FLibrary = nullptr;
  ca_context* FContext = nullptr;
  PlayFn FPlay = nullptr;
  DestroyFn FDestroy = nullptr;
};

}  // namespace

bool PlayEventSound(std::string_view eventId) {
  static TEventSounds sounds;
  return sounds.Play(eventId);
}

}  // namespace pling::platform
