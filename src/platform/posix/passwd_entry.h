// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The effective user's entry in the password database.
#include <optional>
#include <string>

namespace pling::platform {

struct TPasswdEntry {
  std::string name;  // login name, empty if the entry has none
  std::string home;  // home folder, empty if the entry has none
};

// The entry of the effective user, or nothing if the database has none or cannot be read.
std::optional<TPasswdEntry> EffectiveUserEntry();

}  // namespace pling::platform
