// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A line of a settings file that could not be read as it stands, for a report to
// the user: its number (the first line is 1) and, in words, what was wrong with it
// and what was made of it.
#include <cstddef>
#include <string>
#include <string_view>

namespace pling::platform {

struct TLineProblem {
  std::size_t line = 0;
  std::string text;
  bool operator==(const TLineProblem&) const = default;
};

// The start of a line as a report quotes it: at most 60 bytes, "..." after a cut.
inline std::string QuotedLine(std::string_view line) {
  constexpr std::size_t kMaxQuoted = 60;
  std::string quoted = "\"";
  quoted.append(line.substr(0, kMaxQuoted));
  if (line.size() > kMaxQuoted) quoted.append("...");
  quoted.append("\"");
  return quoted;
}

}  // namespace pling::platform
