// SPDX-License-Identifier: GPL-3.0-or-later
// Profile text: any bytes read without harm, and a write changes only what it
// should. After setting a key, the key reads back the value, setting it again
// changes nothing, and every other key reads as before. Several writes at once
// leave the text that writes one by one leave, and the index reads as the walk.
// A value written in the form ProfileTextFor gives reads back whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile_parser.h"

namespace {

using pling::platform::FindProfileValue;
using pling::platform::IsWritableProfileEntry;
using pling::platform::ProfileTextFor;
using pling::platform::SetProfileValue;
using pling::platform::SetProfileValues;
using pling::platform::TProfileIndex;
using pling::platform::TProfileWrite;

void Check(bool condition) {
  if (!condition) std::abort();
}

// The (section, key) pairs of the text, as a simple reading sees them.
std::vector<std::pair<std::string, std::string>> Entries(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::string section;
  std::size_t pos = 0;
  while (pos < text.size() && entries.size() < 64) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t open = line.find('[');
    const std::size_t close = line.rfind(']');
    if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
      section = std::string(line.substr(open + 1, close - open - 1));
    } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      entries.emplace_back(section, std::string(line.substr(0, equals)));
    }
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view text = input.empty() ? input : input.substr(1);
  const std::uint8_t choice = input.empty() ? 0 : data[0];

  const auto entries = Entries(text);

  // Problems come in line order, each on a line of the text.
  {
    const auto problems = pling::platform::ProfileProblems(text);
    const std::size_t lines =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (std::size_t i = 0; i < problems.size(); ++i) {
      Check(problems[i].line >= 1 && problems[i].line <= lines);
      if (i > 0) Check(problems[i - 1].line < problems[i].line);
    }
  }

  // Writes to the keys the text has and to new ones, several at once.
  {
    std::vector<TProfileWrite> writes;
    std::string oneByOne(text);
    const std::string value = "w" + std::to_string(size % 7);
    for (std::size_t i = 0; i < entries.size() && writes.size() < 8; i += 1 + choice % 3) {
      const auto& [s, k] = entries[i];
      if (!IsWritableProfileEntry(s, k, value)) continue;
      writes.push_back({s, k, value});
      oneByOne = SetProfileValue(oneByOne, s, k, value);
    }
    writes.push_back({"New", "key", value});
    oneByOne = SetProfileValue(oneByOne, "New", "key", value);
    const std::string batched = SetProfileValues(text, writes);
    Check(batched == oneByOne);
    const TProfileIndex index(batched);
    for (const auto& [s, k] : entries) Check(index.Find(s, k) == FindProfileValue(batched, s, k));
    Check(index.Find("New", "key") == FindProfileValue(batched, "New", "key"));
  }
  std::string section = "Settings";
  std::string key = "Split";
  if (!entries.empty() && choice % 4 != 0) {
    section = entries[choice % entries.size()].first;
    key = entries[choice % entries.size()].second;
  }
  const std::string value = choice % 3 == 0 ? "" : "v" + std::to_string(size);
  if (!IsWritableProfileEntry(section, key, value)) {
    FindProfileValue(text, section, key);
    return 0;
  }

  const std::string changed = SetProfileValue(text, section, key, value);
  const auto readBack = FindProfileValue(changed, section, key);
  Check(readBack.has_value() && *readBack == value);
  Check(SetProfileValue(changed, section, key, value) == changed);

  // Any value without a line break, written as ProfileTextFor gives it, reads
  // back as itself: blanks at its ends and quotes around it included.
  {
    std::string_view raw = text.substr(0, std::min<std::size_t>(text.size(), 40));
    raw = raw.substr(0, raw.find_first_of("\r\n"));
    raw = raw.substr(0, raw.find('\0'));
    if (IsWritableProfileEntry(section, key, raw)) {
      const std::string written = SetProfileValue(text, section, key, ProfileTextFor(raw));
      const auto whole = FindProfileValue(written, section, key);
      Check(whole.has_value() && *whole == raw);
    }
  }

  const auto sameName = [](std::string_view a, std::string_view b) {
    constexpr std::string_view blanks = " \t\r\f\v";
    const auto trim = [&](std::string_view s) {
      const std::size_t first = s.find_first_not_of(blanks);
      return first == s.npos ? std::string_view()
                             : s.substr(first, s.find_last_not_of(blanks) - first + 1);
    };
    a = trim(a);
    b = trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
      };
      if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
  };
  for (const auto& [otherSection, otherKey] : entries) {
    if (sameName(otherSection, section) && sameName(otherKey, key)) continue;
    Check(FindProfileValue(text, otherSection, otherKey) ==
          FindProfileValue(changed, otherSection, otherKey));
  }
  return 0;
}
