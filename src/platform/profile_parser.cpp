#include "platform/profile_parser.h"

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

enum class LineKind { kOther, kSection, kKey };

struct Line {
  std::size_t begin = 0;  // first character
  std::size_t end = 0;    // one past the last character before the line end
  std::size_t next = 0;   // start of the next line
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

// Walks the lines of a text, classifying each.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : FText(text) {}

  bool Next(Line& line) {
    if (FPos >= FText.size()) return false;
    line = Line{};
    line.begin = FPos;
    const std::size_t newline = FText.find('\n', FPos);
    if (newline == std::string_view::npos) {
      line.end = line.next = FText.size();
    } else {
      line.next = newline + 1;
      line.end = newline > FPos && FText[newline - 1] == '\r' ? newline - 1 : newline;
    }
    FPos = line.next;
    Classify(FText.substr(line.begin, line.end - line.begin), line);
    return true;
  }

 private:
  static void Classify(std::string_view content, Line& line) {
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return;
    if (trimmed.front() == '[') {
      const std::size_t close = trimmed.rfind(']');
      if (close != std::string_view::npos && close > 0) {
        line.kind = LineKind::kSection;
        line.name = Trim(trimmed.substr(1, close - 1));
        return;
      }
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return;
    line.kind = LineKind::kKey;
    line.name = Trim(trimmed.substr(0, equals));
    line.value = Trim(trimmed.substr(equals + 1));
  }

  std::string_view FText;
  std::size_t FPos = 0;
};

std::string_view LineEndOf(std::string_view text) {
  const std::size_t newline = text.find('\n');
  if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') return "\r\n";
  return "\n";
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != text.npos;
}

}  // namespace

std::optional<std::string_view> FindProfileValue(std::string_view text, std::string_view section,
                                                 std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  LineReader reader(text);
  Line line;
  bool inSection = false;
  while (reader.Next(line)) {
    if (line.kind == LineKind::kSection) {
      if (inSection) return std::nullopt;  // only the first matching section counts
      inSection = EqualIgnoringCase(line.name, section);
    } else if (inSection && line.kind == LineKind::kKey && EqualIgnoringCase(line.name, key)) {
      std::string_view value = line.value;
      if (value.size() >= 2 && value.front() == value.back() &&
          (value.front() == '"' || value.front() == '\'')) {
        value = value.substr(1, value.size() - 2);
      }
      return value;
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
  LineReader reader(text);
  Line line;
  bool inSection = false;
  bool foundSection = false;
  std::size_t insertAt = 0;  // just after the header or the section's last key line
  while (reader.Next(line)) {
    if (line.kind == LineKind::kSection) {
      if (inSection) break;
      if (!foundSection && EqualIgnoringCase(line.name, section)) {
        foundSection = inSection = true;
        insertAt = line.next;
      }
    } else if (inSection && line.kind == LineKind::kKey) {
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
    if (insertAt > 0 && text[insertAt - 1] != '\n') result.append(lineEnd);
    result.append(key).append("=").append(value).append(lineEnd);
    result.append(text.substr(insertAt));
    return result;
  }
  result.append(text);
  if (!text.empty()) {
    if (text.back() != '\n') result.append(lineEnd);
    // Separate the new section from the text before it by a blank line.
    const std::size_t lastEnd = result.size() - 1;  // the final '\n'
    const std::size_t lastStart =
        lastEnd == 0 ? 0 : result.find_last_of('\n', lastEnd - 1) + 1;  // npos + 1 == 0
    if (!Trim(std::string_view(result).substr(lastStart, lastEnd - lastStart)).empty()) {
      result.append(lineEnd);
    }
  }
  result.append("[").append(section).append("]").append(lineEnd);
  result.append(key).append("=").append(value).append(lineEnd);
  return result;
}

}  // namespace pling::platform
