// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ReceiversRecord.h"

#include <utility>

#include "app/AutoAddRule.h"
#include "app/Controls.h"
#include "qtbridge/AnsiText.h"
#include "settings/StoredKeys.h"

namespace pling::app {

std::vector<std::string> StoredReceivers(const TListBox& list, const TAutoAddRule& autoAdd) {
  std::vector<std::pair<std::string, bool>> names;
  names.reserve(static_cast<std::size_t>(list.count()));
  const std::vector<bool> selected = list.SelectedFlags();
  for (int i = 0; i < list.count(); ++i) {
    names.emplace_back(qtbridge::ToAnsi(list.item(i)->text()),
                       selected[static_cast<std::size_t>(i)]);
  }
  return autoAdd.Stored(names);
}

TReceiversRecord::TState TReceiversRecord::StateOf(const TListBox& list,
                                                   const TAutoAddRule& autoAdd) {
  return {list.Changes(), autoAdd.Changes()};
}

TReceiversRecord::TEntries TReceiversRecord::Entries(const TListBox& list,
                                                     const TAutoAddRule& autoAdd) {
  const TState state = StateOf(list, autoAdd);
  if (!FEntries || state != FState) {
    std::vector<std::string> values = StoredReceivers(list, autoAdd);
    auto entries = std::make_shared<std::vector<TStoredSetting>>();
    entries->reserve(values.size());
    for (std::string& value : values) {
      entries->push_back(
          {std::string(settings::kReceiversKey.section),
           settings::IndexedKey(settings::kReceiversKey, static_cast<int>(entries->size())),
           std::move(value)});
    }
    FEntries = std::move(entries);
    FState = state;
    FHeldIn.reset();  // other entries: whether the store holds them is not known
  }
  return FEntries;
}

void TReceiversRecord::NoteRead(const settings::TMegaRegistry& store,
                                const std::vector<std::string>& read) {
  FHeldIn.reset();
  if (!FEntries || FEntries->size() != read.size() + 1 || !FEntries->back().text.empty()) return;
  for (std::size_t i = 0; i < read.size(); ++i) {
    if ((*FEntries)[i].text != read[i]) return;
  }
  // The empty value that ends the list must be stored, not merely absent.
  const TStoredSetting& end = FEntries->back();
  const settings::TSettingText stored{end.section, end.key, end.text};
  if (!store.Holds({&stored, 1})) return;
  FHeldIn = store.Version();
}

std::size_t TReceiversRecord::Held(const settings::TMegaRegistry& store, const TListBox& list,
                                   const TAutoAddRule& autoAdd) const {
  if (!FEntries || StateOf(list, autoAdd) != FState || FHeldIn.expired()) return 0;
  const std::shared_ptr<const void> now = store.Version();
  if (!now || now.owner_before(FHeldIn) || FHeldIn.owner_before(now)) return 0;
  return FEntries->size();
}

}  // namespace pling::app
