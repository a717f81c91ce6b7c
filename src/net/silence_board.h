// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the programs of one user on one machine remember together of name
// servers and machines that did not answer. Each `pling-cli send` is a process
// of its own: without this, each would wait out a silence that the one before
// it met already (a WINS server that is down costs every look-up its three
// tries).
//
// The memory is a small text file, one line per entry:
//   KEY UNTIL NEXT
// KEY names what was silent ("wins:NAME", "path:ADDRESS"; no spaces), UNTIL is
// when the silence is over (milliseconds of the monotonic clock, which every
// process of the machine shares), NEXT how many seconds the next silence is to
// be remembered. Lines that do not read so are skipped, and so is an entry that
// ends further ahead than kLongestSilence: the file then outlived a restart of
// the machine. The file is read and written under a lock on itself; it is to
// live in a folder that only its user may enter, and it is used only when it
// is a plain file of this user's.
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pling::net {

inline constexpr std::chrono::seconds kLongestSilence{600};
// Entries kept at most; when more, those that ended first go.
inline constexpr std::size_t kMaxSilences = 256;

struct TSilence {
  std::chrono::steady_clock::time_point until;
  std::chrono::seconds next{};
  bool operator==(const TSilence&) const = default;
};

using TSilences = std::map<std::string, TSilence, std::less<>>;

// The entries of a board file's text, as the format above says; those that
// ended longer than kLongestSilence before `now` are left out, like those too
// far ahead.
TSilences ReadSilences(std::string_view text, std::chrono::steady_clock::time_point now);
// The text of a board file that holds `silences`.
std::string WriteSilences(const TSilences& silences);

class TSilenceBoard {
 public:
  using TClock = std::chrono::steady_clock;

  // `path` empty: nothing is shared (Find finds nothing, the rest does nothing).
  explicit TSilenceBoard(std::string path = {}) : FPath(std::move(path)) {}

  // What the board says of `key` (maybe a silence that is over, with its NEXT).
  std::optional<TSilence> Find(std::string_view key, TClock::time_point now) const;
  // Records `silence` for `key`.
  void Put(std::string_view key, TSilence silence, TClock::time_point now) const;
  // Forgets `key` (it answered); writes only when the board held it.
  void Remove(std::string_view key, TClock::time_point now) const;

 private:
  std::string FPath;
};

}  // namespace pling::net
