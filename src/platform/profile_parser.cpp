// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile_parser.h"

#include <algorithm>
#include <vector>

namespace pling::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return text.substr(text.size());
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

enum class TLineKind { kOther, kSection, kKey };

struct TLine {
  std::size_t begin = 0;  // first character
  std::size_t end = 0;    // one past the last character before the line end
  std::size_t next = 0;   // start of the next line
  TLineKind kind = TLineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
  bool unclosed = false;   // a section header without its closing "]"
};

// Walks the lines of a text, classifying each.
class TLineReader {
 public:
  explicit TLineReader(std::string_view text) : FText(text) {}

  bool Next(TLine& line) {
    if (FPos >= FText.size()) return false;
    line = TLine{};
    line.begin = FPos;
    const std::size_t newline = FText.find('\n', FPos);
    if (newline == std::string_view::npos) {
      // A last line without a line feed may still end in a carriage return,
      // which stays with the line end when the line is rewritten.
      line.end = line.next = FText.size();
      if (line.end > FPos && FText[line.end - 1] == '\r') --line.end;
    } else {
      line.next = newline + 1;
      line.end = newline > FPos && FText[newline - 1] == '\r' ? newline - 1 : newline;
    }
    FPos = line.next;
    Classify(FText.substr(line.begin, line.end - line.begin), line);
    return true;
  }

 private:
  static void Classify(std::string_view content, TLine& line) {
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return;
    if (trimmed.front() == '[') {
      const std::size_t close = trimmed.rfind(']');
      line.kind = TLineKind::kSection;
      if (close != std::string_view::npos) {
        line.name = Trim(trimmed.substr(1, close - 1));
      } else {
        // A header that lost its "]" still starts its section, so that the keys
        // below it do not land in the section before.
        line.name = Trim(trimmed.substr(1));
        line.unclosed = true;
      }
      return;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return;
    line.kind = TLineKind::kKey;
    line.name = Trim(trimmed.substr(0, equals));
    line.value = Trim(trimmed.substr(equals + 1));
  }

  std::string_view FText;
  std::size_t FPos = 0;
};

// The line end the text uses, by its first line feed. A text without one that
// stops after a carriage return gets CR LF: completing that line makes it so.
std::string_view LineEndOf(std::string_view text) {
  const std::size_t newline = text.find('\n');
  if (newline == std::string_view::npos)
    return !text.empty() && text.back() == '\r' ? "\r\n" : "\n";
  if (newline > 0 && text[newline - 1] == '\r') return "\r\n";
  return "\n";
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != text.npos;
}

std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == '"' || value.front() == '\'')) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// A name as names are compared: without regard to ASCII case.
std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = LowerAscii(c);
  return folded;
}

// The look-up key of a section and key name; a line break never occurs in a
// name read from a line.
std::string IndexKey(std::string_view section, std::string_view key) {
  std::string folded = Folded(section);
  folded.push_back('\n');
  folded.append(Folded(key));
  return folded;
}

// Ends the text's last line when it lacks a line end: a last line that stops
// after a carriage return gets only the line feed that completes it.
void EndLastLine(std::string& result, std::string_view lineEnd) {
  if (result.empty() || result.back() == '\n') return;
  result.append(result.back() == '\r' ? std::string_view("\n") : lineEnd);
}

// Appends the blank line that separates a new section from the text before it,
// and the line end the text's last line lacks, as SetProfileValue does.
void SeparateNewSection(std::string& result, std::string_view lineEnd) {
  if (result.empty()) return;
  EndLastLine(result, lineEnd);
  const std::size_t lastEnd = result.size() - 1;  // the final '\n'
  const std::size_t lastStart =
      lastEnd == 0 ? 0 : result.find_last_of('\n', lastEnd - 1) + 1;  // npos + 1 == 0
  if (!Trim(std::string_view(result).substr(lastStart, lastEnd - lastStart)).empty()) {
    result.append(lineEnd);
  }
}

}  // namespace

std::optional<std::string_view> FindProfileValue(std::string_view text, std::string_view section,
                                                 std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  TLineReader reader(text);
  TLine line;
  bool inSection = false;
  while (reader.Next(line)) {
    if (line.kind == TLineKind::kSection) {
      if (inSection) return std::nullopt;  // only the first matching section counts
      inSection = EqualIgnoringCase(line.name, section);
    } else if (inSection && line.kind == TLineKind::kKey && EqualIgnoringCase(line.name, key)) {
      return Unquoted(line.value);
    }
  }
  return std::nullopt;
}

bool IsWritableProfileEntry(std::string_view section, std::string_view key,
                            std::string_view value) {
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  key = Trim(key);
  if (key.find('=') != std::string_view::npos) return false;
  return key.empty() || (key.front() != ';' && key.front() != '#' && key.front() != '[');
}

std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  const std::string_view lineEnd = LineEndOf(text);
  TLineReader reader(text);
  TLine line;
  bool inSection = false;
  bool foundSection = false;
  std::size_t insertAt = 0;  // just after the header or the section's last key line
  while (reader.Next(line)) {
    if (line.kind == TLineKind::kSection) {
      if (inSection) break;
      if (!foundSection && EqualIgnoringCase(line.name, section)) {
        foundSection = inSection = true;
        insertAt = line.next;
      }
    } else if (inSection && line.kind == TLineKind::kKey) {
      if (EqualIgnoringCase(line.name, key)) {
        // Keep the line's indentation and the key's own spelling; replace the rest.
        const std::size_t nameEnd =
            static_cast<std::size_t>(line.name.data() + line.name.size() - text.data());
        std::string result;
        result.reserve(text.size() + value.size() + 1);
        result.append(text.substr(0, nameEnd));
        result.append("=");
        result.append(value);
        result.append(text.substr(line.end));
        return result;
      }
      insertAt = line.next;
    }
  }

  std::string result;
  result.reserve(text.size() + section.size() + key.size() + value.size() + 8);
  if (foundSection) {
    result.append(text.substr(0, insertAt));
    // The line before may be the last one of the text, without a line end.
    EndLastLine(result, lineEnd);
    result.append(key).append("=").append(value).append(lineEnd);
    result.append(text.substr(insertAt));
    return result;
  }
  result.append(text);
  // Separate the new section from the text before it by a blank line.
  SeparateNewSection(result, lineEnd);
  result.append("[").append(section).append("]").append(lineEnd);
  result.append(key).append("=").append(value).append(lineEnd);
  return result;
}

namespace {

// A key line to add to a section: the key as written, its latest value.
struct TAddedKey {
  std::string_view key;
  std::string_view value;
};

// A section that writes go to: one of the text (its first occurrence) or a new
// one added at the end.
struct TTargetSection {
  std::string_view name;     // as written, for a new section
  std::size_t insertAt = 0;  // in the text: after the header or last key line
  std::unordered_map<std::string, std::size_t> lines;       // folded key -> first key line
  std::vector<TAddedKey> added;                             // in the order of their first write
  std::unordered_map<std::string, std::size_t> addedByKey;  // folded key -> index in added
};

}  // namespace

std::string SetProfileValues(std::string_view text, std::span<const TProfileWrite> writes) {
  const std::string_view lineEnd = LineEndOf(text);
  std::vector<TLine> lines;
  {
    TLineReader reader(text);
    TLine line;
    while (reader.Next(line)) lines.push_back(line);
  }

  // The first occurrence of each section, with its key lines.
  std::vector<TTargetSection> sections;
  std::unordered_map<std::string, std::size_t> sectionByName;  // folded name -> index
  {
    TTargetSection* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const TLine& line = lines[i];
      if (line.kind == TLineKind::kSection) {
        current = nullptr;
        auto [found, inserted] = sectionByName.try_emplace(Folded(line.name), sections.size());
        if (inserted) {
          sections.emplace_back();
          current = &sections.back();
          current->insertAt = line.next;
        }
      } else if (current != nullptr && line.kind == TLineKind::kKey) {
        current->lines.try_emplace(Folded(line.name), i);
        current->insertAt = line.next;
      }
    }
  }
  const std::size_t textSections = sections.size();

  // Each write lands on a key line of the text, on a key added before, or is added.
  std::vector<std::optional<std::string_view>> replaced(lines.size());
  for (const TProfileWrite& write : writes) {
    const std::string_view section = Trim(write.section);
    const std::string_view key = Trim(write.key);
    auto [found, inserted] = sectionByName.try_emplace(Folded(section), sections.size());
    if (inserted) {
      sections.emplace_back();
      sections.back().name = section;
    }
    TTargetSection& target = sections[found->second];
    std::string foldedKey = Folded(key);
    if (const auto line = target.lines.find(foldedKey); line != target.lines.end()) {
      replaced[line->second] = write.value;
    } else if (const auto added = target.addedByKey.find(foldedKey);
               added != target.addedByKey.end()) {
      target.added[added->second].value = write.value;
    } else {
      target.addedByKey.emplace(std::move(foldedKey), target.added.size());
      target.added.push_back(TAddedKey{key, write.value});
    }
  }

  // Keys added to the text's sections, by where they go.
  std::vector<std::pair<std::size_t, const TTargetSection*>> insertions;
  for (std::size_t i = 0; i < textSections; ++i) {
    if (!sections[i].added.empty()) insertions.emplace_back(sections[i].insertAt, &sections[i]);
  }
  std::sort(insertions.begin(), insertions.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });

  std::string result;
  result.reserve(text.size() + text.size() / 4 + 64);
  auto insertion = insertions.begin();
  const auto insertUpTo = [&](std::size_t offset) {
    for (; insertion != insertions.end() && insertion->first <= offset; ++insertion) {
      // The line before may be the last one of the text, without a line end.
      if (insertion->first > 0) EndLastLine(result, lineEnd);
      for (const TAddedKey& added : insertion->second->added) {
        result.append(added.key).append("=").append(added.value).append(lineEnd);
      }
    }
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TLine& line = lines[i];
    insertUpTo(line.begin);
    if (replaced[i]) {
      // Keep the line's indentation and the key's own spelling; replace the rest.
      const std::size_t nameEnd =
          static_cast<std::size_t>(line.name.data() + line.name.size() - text.data());
      result.append(text.substr(line.begin, nameEnd - line.begin));
      result.append("=").append(*replaced[i]);
      result.append(text.substr(line.end, line.next - line.end));
    } else {
      result.append(text.substr(line.begin, line.next - line.begin));
    }
  }
  insertUpTo(text.size());

  for (std::size_t i = textSections; i < sections.size(); ++i) {
    SeparateNewSection(result, lineEnd);
    result.append("[").append(sections[i].name).append("]").append(lineEnd);
    for (const TAddedKey& added : sections[i].added) {
      result.append(added.key).append("=").append(added.value).append(lineEnd);
    }
  }
  return result;
}

std::vector<TLineProblem> ProfileProblems(std::string_view text) {
  std::vector<TLineProblem> problems;
  TLineReader reader(text);
  TLine line;
  std::size_t number = 0;
  while (reader.Next(line)) {
    ++number;
    const std::string_view content = Trim(text.substr(line.begin, line.end - line.begin));
    if (line.kind == TLineKind::kSection && line.unclosed) {
      problems.push_back(TLineProblem{number, "the section " + QuotedLine(content) +
                                                  " has no closing \"]\"; read as if it had one"});
    } else if (line.kind == TLineKind::kOther && !content.empty() && content.front() != ';' &&
               content.front() != '#') {
      problems.push_back(TLineProblem{
          number,
          QuotedLine(content) + " is neither a section, a key nor a comment; kept as it is"});
    }
  }
  return problems;
}

std::string_view ProfileValueAsRead(std::string_view value) {
  return Unquoted(Trim(value));
}

std::string ProfileTextFor(std::string_view value) {
  if (ProfileValueAsRead(value) == value) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted.append("\"").append(value).append("\"");
  return quoted;
}

std::string ProfileKeyId(std::string_view section, std::string_view key) {
  return IndexKey(Trim(section), Trim(key));
}

TProfileIndex::TProfileIndex(std::string_view text) {
  TLineReader reader(text);
  TLine line;
  std::unordered_map<std::string, bool> seenSections;
  std::string section;  // folded; meaningful while inSection
  bool inSection = false;
  while (reader.Next(line)) {
    if (line.kind == TLineKind::kSection) {
      // Only the first occurrence of a section counts.
      section = Folded(line.name);
      inSection = seenSections.try_emplace(section, true).second;
    } else if (inSection && line.kind == TLineKind::kKey) {
      FValues.try_emplace(IndexKey(section, line.name), Unquoted(line.value));
    }
  }
}

std::optional<std::string_view> TProfileIndex::Find(std::string_view section,
                                                    std::string_view key) const {
  const auto found = FValues.find(IndexKey(Trim(section), Trim(key)));
  if (found == FValues.end()) return std::nullopt;
  return found->second;
}

}  // namespace pling::platform
