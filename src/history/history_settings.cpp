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
    result.Enabled = store.ReadBool(section, key, result.Enabled);
  });
  read(settings::kHistoryDaysKey, [&](const char* section, const char* key) {
    result.Days = store.ReadInteger(section, key, result.Days);
  });
  read(settings::kHistoryMBKey, [&](const char* section, const char* key) {
    result.Megabytes = store.ReadInteger(section, key, result.Megabytes);
  });
  return result.Clamped();
}

}  // namespace pling::history
