// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which senders "Automatic add" puts in the receivers list, and which of them the
// list keeps across a restart. Qt-free: names are the list's texts (ANSI bytes).
//
// - A sender is added only while the list is below its bound, at most
//   kAutoAddsPerMinute a minute, and not for kLimitedPause after a sender was
//   limited for sending too much (a flood): a flood within the limits can no
//   longer fill the list with names nobody writes to.
// - A name added so is "unused" until it is selected (which any write to it
//   needs). At saving, at most kKeptUnused unused names are kept, the ones added
//   last; the others are left out of the stored list. Unused names are stored
//   with the mark '*' in place of '-' (read back as not selected by any reader).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pling::app {

inline constexpr int kAutoAddsPerMinute = 20;
inline constexpr std::size_t kKeptUnused = 50;
inline constexpr std::chrono::seconds kLimitedPause{60};

class TAutoAddRule {
 public:
  using TClock = std::chrono::steady_clock;
  enum class TVerdict { Add, ListFull, NotNow };

  // Whether `name` is added now to the list of `count` names (bound `bound`);
  // NotNow when it is `known` there already. Add marks it unused.
  TVerdict Admit(const std::string& name, bool known, int count, int bound,
                 TClock::time_point now = TClock::now());
  // A sender was limited: nothing is added for a while.
  void Limited(TClock::time_point now = TClock::now()) { FPausedUntil = now + kLimitedPause; }
  // `name` was selected (or written to): it is kept like any name.
  void Used(const std::string& name);
  // A stored value's mark ('+', '-' or '*'); '*' marks the name unused again.
  void Restore(const std::string& name, char mark);
  // The stored values for the list (name and whether selected, in order): the
  // name and its mark, unused names beyond the kKeptUnused added last left out,
  // and an empty value after the last (where reading stops).
  std::vector<std::string> Stored(const std::vector<std::pair<std::string, bool>>& list) const;
  // Counts the changes of what Stored gives for a list: while it stays, it gives
  // the same.
  std::uint64_t Changes() const { return FChanges; }

 private:
  std::vector<std::string> FUnused;         // in the order they were added
  std::vector<TClock::time_point> FRecent;  // adds in the last minute
  TClock::time_point FPausedUntil{};
  std::uint64_t FChanges = 0;
};

}  // namespace pling::app
