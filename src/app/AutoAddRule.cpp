// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AutoAddRule.h"

#include <algorithm>

namespace pling::app {

TAutoAddRule::TVerdict TAutoAddRule::Admit(const std::string& name, bool known, int count,
                                           int bound, TClock::time_point now) {
  if (known) return TVerdict::NotNow;
  if (count >= bound) return TVerdict::ListFull;
  if (now < FPausedUntil) return TVerdict::NotNow;
  std::erase_if(FRecent,
                [now](TClock::time_point at) { return now - at >= std::chrono::minutes(1); });
  if (FRecent.size() >= static_cast<std::size_t>(kAutoAddsPerMinute)) return TVerdict::NotNow;
  FRecent.push_back(now);
  Used(name);
  FUnused.push_back(name);
  ++FChanges;
  return TVerdict::Add;
}

void TAutoAddRule::Used(const std::string& name) {
  if (std::erase(FUnused, name) > 0) ++FChanges;
}

void TAutoAddRule::Restore(const std::string& name, char mark) {
  if (mark == '*') {
    Used(name);
    FUnused.push_back(name);
    ++FChanges;
  }
}

std::vector<std::string> TAutoAddRule::Stored(
    const std::vector<std::pair<std::string, bool>>& list) const {
  // The unused names kept: the ones added last.
  const std::size_t skip = FUnused.size() > kKeptUnused ? FUnused.size() - kKeptUnused : 0;
  std::vector<std::string> values;
  values.reserve(list.size() + 1);
  for (const auto& [name, selected] : list) {
    const auto unused = std::find(FUnused.begin(), FUnused.end(), name);
    if (selected || unused == FUnused.end()) {
      values.push_back(name + (selected ? "+" : "-"));
    } else if (static_cast<std::size_t>(unused - FUnused.begin()) >= skip) {
      values.push_back(name + "*");
    }
  }
  values.emplace_back();
  return values;
}

}  // namespace pling::app
