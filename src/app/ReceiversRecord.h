// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The receivers' part of the settings the window writes at exit, kept while the
// list stays as it was, with whether the store holds it as it stands. A long list
// that nobody changed then costs the exit neither a second making of its entries
// nor a look at each of them in the store: only what changed is looked at.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/SettingsAtExit.h"

namespace pling::app {

class TAutoAddRule;
class TListBox;

// The stored values of the receivers list in its order: each name and its mark,
// and the empty value after the last (TAutoAddRule::Stored).
std::vector<std::string> StoredReceivers(const TListBox& list, const TAutoAddRule& autoAdd);

class TReceiversRecord {
 public:
  using TEntries = std::shared_ptr<const std::vector<TStoredSetting>>;

  // The entries (NAME0, NAME1, ... in the receivers' section) of the list's
  // stored values (StoredReceivers), made anew only when the list, its selection
  // or the auto-add marks changed since they were made (TListBox::Changes,
  // TAutoAddRule::Changes). Entries given out stay as they were.
  TEntries Entries(const TListBox& list, const TAutoAddRule& autoAdd);

  // The start read `read`, the values up to the empty one that ended the
  // reading, from one version of `store`: when the kept entries are those values
  // and the empty one is stored too, the store holds them in that version.
  void NoteRead(const settings::TMegaRegistry& store, const std::vector<std::string>& read);

  // How many of the leading entries of the settings the store holds as they
  // stand: all of the receivers' entries while the list is as they were made
  // for and the store is in the version they were read from; else none.
  std::size_t Held(const settings::TMegaRegistry& store, const TListBox& list,
                   const TAutoAddRule& autoAdd) const;

 private:
  struct TState {
    std::uint64_t list = 0;
    std::uint64_t marks = 0;
    bool operator==(const TState&) const = default;
  };
  static TState StateOf(const TListBox& list, const TAutoAddRule& autoAdd);

  TState FState;
  TEntries FEntries;
  std::weak_ptr<const void> FHeldIn;  // the store's version that holds FEntries
};

}  // namespace pling::app
