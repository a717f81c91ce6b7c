// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_settings.h"

#include "runtime/exceptions.h"
#include "settings/StoredKeys.h"

namespace pling::history {

TSettings ReadSettings(const settings::TMegaRegistry& store, std::vector<std::string>* problems) {
  TSettings result;
  const auto read = [&](const settings::TStoredKey& key, auto get) {
    try {
      get(key.section, key.key);
    } catch (const runtime::EConvertError& error) {
      if (problems != nullptr) {
        problems->push_back(settings::SettingProblemText(
            key.section, key.key, store.ReadText(key.section, key.key, ""), error.what()));
      }
    }
  };
  read(settings::kHistoryKey, [&](const char* section, const char* key) {
    result.enabled = store.ReadBool(section, key, result.enabled);
  });
  read(settings::kHistoryDaysKey, [&](const char* section, const char* key) {
    result.days = store.ReadInteger(section, key, result.days);
  });
  read(settings::kHistoryMBKey, [&](const char* section, const char* key) {
    result.megabytes = store.ReadInteger(section, key, result.megabytes);
  });
  return result.Clamped();
}

}  // namespace pling::history
