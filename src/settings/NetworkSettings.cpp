// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/NetworkSettings.h"

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

}  // namespace pling::settings
