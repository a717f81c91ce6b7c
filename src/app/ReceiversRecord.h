// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The receivers' part of the settings the window writes at exit, kept while the
// list stays as it was, with whether the store holds it as it stands. A long list
// that nobody changed then costs the exit neither a second making of its entries
// nor a look at each of them in the store: only what changed is looked at.
#include <cstddef>
#include <cstdint>
#include <functional>
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
  // The list's changes (TListBox::Changes) and the auto-add marks' changes
  // (TAutoAddRule::Changes) when the entries were made.
  struct TState {
    std::uint64_t list = 0;
    std::uint64_t marks = 0;
    bool operator==(const TState&) const = default;
  };

  // The entries (NAME0, NAME1, ... in the receivers' section) of the stored
  // values `values()` gives, made anew only when `state` is not the one the kept
  // entries were made in.
  const std::vector<TStoredSetting>& Entries(
      TState state, const std::function<std::vector<std::string>()>& values);

  // The start read `read`, the values up to the empty one that ended the
  // reading, from one version of `store`: when the kept entries are those values
  // and the empty one is stored too, the store holds them in that version.
  void NoteRead(const settings::TMegaRegistry& store, const std::vector<std::string>& read);

  // How many of the leading entries of settings made in `state` the store holds
  // as they stand: all of the receivers' entries while the list is as it was and
  // the store is in the version they were read from; else none.
  std::size_t Held(const settings::TMegaRegistry& store, TState state) const;

 private:
  bool FKept = false;
  TState FState;
  std::vector<TStoredSetting> FEntries;
  std::weak_ptr<const void> FHeldIn;  // the store's version that holds FEntries
};

}  // namespace pling::app
