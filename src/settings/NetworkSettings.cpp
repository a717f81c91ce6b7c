// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/NetworkSettings.h"

#include <exception>
#include <utility>

#include "platform/network.h"
#include "settings/Megares.h"
#include "settings/StoredKeys.h"

namespace pling::settings {

void ApplyTransportSettings(const TMegaRegistry& store) {
  platform::SetWinsServerSetting(store.ReadText(kWinsServerKey));
  platform::SetBrowseCommentSetting(store.ReadText(kCommentKey));
  platform::SetSessionMessagesEnabled(store.ReadBool(kSessionMessagesKey));
}

void ApplyNetworkSettings(const TMegaRegistry& store) {
  platform::SetNetworkEnabled(store.ReadBool(kNetworkKey));
  ApplyTransportSettings(store);
}

void FollowCommentSetting() {
  platform::SetCommentChangeHandler([] {
    // On the transport's thread: a store of its own, read once.
    try {
      TMegaRegistry store(nullptr);
      ConfigureProgramStore(store);
      store.OpenBackEnd();
      platform::SetBrowseCommentSetting(store.ReadText(kCommentKey));
    } catch (const std::exception&) {
      // A store that cannot be read now: the comment stays as it was.
    }
  });
}

void CommentStored(std::string comment) {
  platform::SetBrowseCommentSetting(std::move(comment));
  platform::TellCommentChanged();
}

}  // namespace pling::settings
