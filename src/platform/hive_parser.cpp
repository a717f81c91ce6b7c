// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/hive_parser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/codepage.h"
#include "platform/line_problem.h"

namespace pling::platform {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kBlanks = " \t\r\f\v";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return text.substr(text.size());
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

unsigned char LowerAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(static_cast<unsigned char>(x)) ==
                  LowerAscii(static_cast<unsigned char>(y));
         });
}

// The lower-case letter of a Unicode letter of the scripts the ANSI code pages
// hold (Latin, Latin Extended-A, Cyrillic), or the character itself.
char32_t LowerLetter(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1u;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1u) ? c + 1 : c;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x460 && c <= 0x4FF && c != 0x482 && !(c >= 0x483 && c <= 0x489)) {
    return c | 1u;
  }
  return c;
}

struct TFoldTables {
  std::array<unsigned char, 256> fold{};
  // Rank of each byte in the key order: the separator before everything, so that
  // a key comes right before its subkeys; letters without regard to case.
  std::array<unsigned short, 256> rank{};
};

// The tables of the active code page, made at its first use.
const TFoldTables& ActiveFoldTables() {
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<TFoldTables>> tables;
  const unsigned page = ActiveCodePages().ansi;
  std::lock_guard guard(mutex);
  auto& slot = tables[page];
  if (!slot) {
    slot = std::make_unique<TFoldTables>();
    std::unordered_map<char32_t, unsigned char> byteOf;
    for (unsigned c = 0; c < 256; ++c) {
      byteOf.emplace(AnsiToUnicode(static_cast<unsigned char>(c)), static_cast<unsigned char>(c));
    }
    for (unsigned c = 0; c < 256; ++c) {
      const auto lower = byteOf.find(LowerLetter(AnsiToUnicode(static_cast<unsigned char>(c))));
      slot->fold[c] = lower != byteOf.end() ? lower->second : static_cast<unsigned char>(c);
      slot->rank[c] = static_cast<unsigned short>(c == '\\' ? 0 : slot->fold[c] + 1);
    }
  }
  return *slot;
}

// Unicode text (UTF-16LE without its mark) as ANSI text; characters the code
// page cannot hold become a NUL and four hexadecimal digits.
std::string DecodeUtf16(std::string_view bytes) {
  std::unordered_map<char32_t, unsigned char> byteOf;
  for (unsigned c = 0x80; c < 256; ++c) {
    byteOf.emplace(AnsiToUnicode(static_cast<unsigned char>(c)), static_cast<unsigned char>(c));
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() / 2);
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const char32_t unit = static_cast<unsigned char>(bytes[i]) |
                          static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (unit != 0 && unit < 0x80) {
      text.push_back(static_cast<char>(unit));
    } else if (const auto found = byteOf.find(unit); unit != 0 && found != byteOf.end()) {
      text.push_back(static_cast<char>(found->second));
    } else {
      text.push_back('\0');
      for (int shift = 12; shift >= 0; shift -= 4) text.push_back(kHex[(unit >> shift) & 0xF]);
    }
  }
  // An odd last byte is half a character: it carries nothing.
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of `count` hexadecimal digits at `text[at]`, or -1.
long HexAt(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  long value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int digit = HexDigit(text[at + i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// ANSI text as UTF-16LE with the byte-order mark; undoes DecodeUtf16.
std::string EncodeUtf16(std::string_view text) {
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + text.size() * 2);
  const auto unit = [&](char32_t c) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\0') {
      unit(AnsiToUnicode(static_cast<unsigned char>(text[i])));
    } else if (const long value = HexAt(text, i + 1, 4); value >= 0) {
      unit(static_cast<char32_t>(value));
      i += 4;
    } else {
      unit(0);
    }
  }
  return bytes;
}

// Whether `name` is HKEY_CLASSES_ROOT or a key below it; writes the root's own
// spelling into `name` when so.
bool NormaliseClassesRoot(std::string& name) {
  if (name.size() < kClassesRootName.size() ||
      !EqualIgnoringCase(std::string_view(name).substr(0, kClassesRootName.size()),
                         kClassesRootName)) {
    return false;
  }
  if (name.size() > kClassesRootName.size() && name[kClassesRootName.size()] != '\\') return false;
  name.replace(0, kClassesRootName.size(), kClassesRootName);
  return true;
}

// The text of a quoted string value from `at` (just after its opening quote) up to
// `end`, with \\ and \" as escapes; a backslash before any other character
// stands for itself. In an 8-bit file the text ends at a NUL, as a string value
// does (in a Unicode file a NUL starts a kept character).
std::string Unescaped(std::string_view line, std::size_t at, std::size_t end, bool endAtNul) {
  std::string value;
  for (std::size_t i = at; i < end; ++i) {
    if (line[i] == '\\' && i + 1 < end && (line[i + 1] == '\\' || line[i + 1] == '"')) ++i;
    value.push_back(line[i]);
  }
  if (endAtNul) {
    const std::size_t nul = value.find('\0');
    if (nul != std::string::npos) value.resize(nul);
  }
  return value;
}

// Where the closing quote of a string that opens before `at` stands, or npos.
std::size_t ClosingQuote(std::string_view line, std::size_t at) {
  for (std::size_t i = at; i < line.size(); ++i) {
    if (line[i] == '"') return i;
    if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) ++i;
  }
  return std::string_view::npos;
}

// Whether what follows a value on its line may stand there: blanks, or a comment.
bool IsValueTail(std::string_view rest) {
  const std::string_view trimmed = Trim(rest);
  return trimmed.empty() || trimmed.front() == ';';
}

// Where the text of a default string value (@="text") starts, or npos when the
// line is no such value line.
std::size_t DefaultStringStart(std::string_view line) {
  if (line.empty() || line.front() != '@') return std::string_view::npos;
  std::size_t i = line.find_first_not_of(" \t", 1);
  if (i == std::string_view::npos || line[i] != '=') return std::string_view::npos;
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string_view::npos || line[i] != '"') return std::string_view::npos;
  return i + 1;
}

// A default value line: @="text", with \\ and \" as escapes. Blanks, or a
// comment (";..."), may follow the closing quote: they go to `comment`.
std::optional<std::string> ParseDefaultValue(std::string_view line, bool endAtNul,
                                             std::string& comment) {
  const std::size_t start = DefaultStringStart(line);
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t close = ClosingQuote(line, start);
  if (close == std::string_view::npos || !IsValueTail(line.substr(close + 1))) return std::nullopt;
  const std::string_view rest = line.substr(close + 1);
  comment = Trim(rest).empty() ? std::string() : std::string(rest);
  return Unescaped(line, start, close, endAtNul);
}

// A default value line that ParseDefaultValue does not take, read as its writer
// most likely meant it: without a closing quote, up to the end of the line; with
// a quote inside that is not escaped, up to the last quote (when only blanks or a
// comment follow it). `repair` says which; nullopt when neither applies.
std::optional<std::string> RepairDefaultValue(std::string_view line, bool endAtNul,
                                              std::string& comment, const char*& repair) {
  const std::size_t start = DefaultStringStart(line);
  if (start == std::string_view::npos) return std::nullopt;
  if (ClosingQuote(line, start) == std::string_view::npos) {
    comment.clear();
    repair = "has no closing quote; read up to the end of the line";
    return Unescaped(line, start, line.size(), endAtNul);
  }
  const std::size_t last = line.rfind('"');
  if (!IsValueTail(line.substr(last + 1))) return std::nullopt;
  const std::string_view rest = line.substr(last + 1);
  comment = Trim(rest).empty() ? std::string() : std::string(rest);
  repair = "holds a quote that is not escaped; read up to its last quote";
  return Unescaped(line, start, last, endAtNul);
}

// Lines a registry file may hold besides keys and default string values, which
// are kept as they are: comments, named values, default values of other types
// (a default string value that cannot be read is none of these).
bool IsKnownOtherLine(std::string_view trimmed) {
  if (trimmed.front() == ';') return true;
  if (trimmed.front() == '"') return trimmed.find('=') != std::string_view::npos;
  if (trimmed.front() == '@') {
    const std::size_t equals = trimmed.find_first_not_of(" \t", 1);
    if (equals == std::string_view::npos || trimmed[equals] != '=') return false;
    const std::size_t type = trimmed.find_first_not_of(" \t", equals + 1);
    return type != std::string_view::npos && trimmed[type] != '"';
  }
  return false;
}

void AppendEscaped(std::string& out, std::string_view value) {
  for (const char c : value) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
}

}  // namespace

THiveKeyOrder::THiveKeyOrder()
    : rank(ActiveFoldTables().rank.data()), codePage(ActiveCodePages().ansi) {}

bool THiveKeyOrder::operator()(std::string_view a, std::string_view b) const {
  const std::size_t common = std::min(a.size(), b.size());
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  std::size_t i = 0;
  while (i < common) {
    // Names share long prefixes: the bytes that are the same in both are passed
    // eight at a time, up to the first that differs.
    if (i + 8 <= common) {
      std::uint64_t p = 0, q = 0;
      std::memcpy(&p, x + i, 8);
      std::memcpy(&q, y + i, 8);
      if (p == q) {
        i += 8;
        continue;
      }
      const std::uint64_t differ = p ^ q;
      i += static_cast<std::size_t>(std::endian::native == std::endian::little
                                        ? std::countr_zero(differ)
                                        : std::countl_zero(differ)) /
           8;
    } else if (x[i] == y[i]) {
      ++i;
      continue;
    }
    // Bytes that differ in case only rank alike.
    if (rank[x[i]] != rank[y[i]]) return rank[x[i]] < rank[y[i]];
    ++i;
  }
  return a.size() < b.size();
}

unsigned char FoldAnsiCase(unsigned char byte) {
  return ActiveFoldTables().fold[byte];
}

std::string HiveKeyId(std::string_view name) {
  const auto& fold = ActiveFoldTables().fold;
  std::string id(name);
  for (char& c : id) c = static_cast<char>(fold[static_cast<unsigned char>(c)]);
  return id;
}

std::string HiveValueAsAnsi(const THive& hive, std::string_view value) {
  if (hive.encoding != THiveEncoding::kUtf16) return std::string(value);
  std::string text;
  text.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\0') {
      text.push_back(value[i]);
    } else if (HexAt(value, i + 1, 4) >= 0) {
      text.push_back('?');
      i += 4;
    } else {
      break;  // a NUL of the text itself ends it
    }
  }
  return text;
}

std::string ClassesRootKeyName(std::string_view path) {
  std::string name(kClassesRootName);
  if (!path.empty()) name.append("\\").append(path);
  return name;
}

const THiveKey* FindHiveKey(const THive& hive, std::string_view name) {
  const auto found = hive.keys.find(name);
  return found == hive.keys.end() ? nullptr : &found->second;
}

namespace {

// Whether `parent`, a key path below HKEY_CLASSES_ROOT without empty parts, is in
// the hive, as far as the last key tells: it is when the last key is `parent` or
// a key below it (a key in the hive has all its parents, unless its path has an
// empty part). A file lists its keys in order, a key after its parents, so while
// it is read this answers without a search.
bool LastKeyHolds(const THive& hive, std::string_view parent) {
  if (hive.keys.empty()) return false;
  const std::string_view last = hive.keys.rbegin()->first;
  if (last.size() < parent.size()) return false;
  const std::string_view head = last.substr(0, parent.size());
  const THiveKeyOrder& order = hive.keys.key_comp();
  if (order(head, parent) || order(parent, head)) return false;
  const std::string_view below = last.substr(parent.size());
  return below.empty() || (below.size() > 1 && below[0] == '\\' && below[1] != '\\' &&
                           below.back() != '\\' && below.find("\\\\") == below.npos);
}

}  // namespace

THiveKey& AddHiveKey(THive& hive, std::string_view name, bool* added) {
  // A name after the last key is not there yet, and goes in at the end.
  const bool atEnd = hive.keys.empty() || hive.keys.key_comp()(hive.keys.rbegin()->first, name);
  if (!atEnd) {
    if (const auto found = hive.keys.find(name); found != hive.keys.end()) return found->second;
  }
  std::string spelled(name);
  if (NormaliseClassesRoot(spelled) && spelled.size() > kClassesRootName.size()) {
    // Parents first, unless the path has an empty part (then it is no real key
    // path and stands alone). A key in the hive always has all its parents, so
    // the walk stops at the first parent found.
    const std::string_view path = std::string_view(spelled).substr(kClassesRootName.size() + 1);
    const bool valid = !path.empty() && path.front() != '\\' && path.back() != '\\' &&
                       path.find("\\\\") == std::string_view::npos;
    std::size_t slash = path.rfind('\\');
    std::size_t missingFrom = std::string_view::npos;  // shortest missing parent
    for (; valid && slash != std::string_view::npos;
         slash = slash == 0 ? std::string_view::npos : path.rfind('\\', slash - 1)) {
      const std::string_view parent =
          std::string_view(spelled).substr(0, kClassesRootName.size() + 1 + slash);
      if (LastKeyHolds(hive, parent) || hive.keys.contains(parent)) break;
      missingFrom = slash;
    }
    for (std::size_t at = missingFrom; at != std::string_view::npos; at = path.find('\\', at + 1)) {
      hive.keys.try_emplace(spelled.substr(0, kClassesRootName.size() + 1 + at));
    }
  }
  if (added != nullptr) *added = true;
  if (atEnd) return hive.keys.emplace_hint(hive.keys.end(), std::move(spelled), THiveKey{})->second;
  return hive.keys.try_emplace(std::move(spelled)).first->second;
}

void SetHiveDefaultValue(THiveKey& key, std::string_view value) {
  key.defaultValue = std::string(value);
  // Drop default value lines of other types, with the lines they go on over (a
  // line ending in "\" goes on in the next one).
  auto& lines = key.otherLines;
  for (std::size_t i = 0; i < lines.size();) {
    if (Trim(lines[i]).substr(0, 1) != "@") {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < lines.size()) {
      const std::string_view trimmed = Trim(lines[end++]);
      if (trimmed.empty() || trimmed.back() != '\\') break;
    }
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i),
                lines.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

THive ParseHive(std::string_view text, std::vector<TLineProblem>* problems) {
  THive hive;
  std::string decoded;
  if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE') {
    decoded = DecodeUtf16(text.substr(2));
    text = decoded;
    hive.encoding = THiveEncoding::kUtf16;
    hive.signature = std::string(kUnicodeSignature);
  }
  const bool endAtNul = hive.encoding == THiveEncoding::kAnsi;
  const auto report = [problems](std::size_t line, std::string problem) {
    if (problems != nullptr) problems->push_back(TLineProblem{line, std::move(problem)});
  };
  THiveKey* current = nullptr;
  bool first = true;
  bool continues = false;  // the last line understood ended in "\": this one goes on with it
  std::size_t pos = 0;
  std::size_t number = 0;
  std::string comment;
  while (pos < text.size()) {
    const std::size_t newline = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, newline == std::string_view::npos ? text.npos : newline - pos);
    pos = newline == std::string_view::npos ? text.size() : newline + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) continue;
    const bool continuation = std::exchange(continues, false);
    if (first) {
      first = false;
      if (EqualIgnoringCase(trimmed, kRegedit4Signature)) {
        hive.signature = std::string(kRegedit4Signature);
        continue;
      }
      if (EqualIgnoringCase(trimmed, kUnicodeSignature)) {
        hive.signature = std::string(kUnicodeSignature);
        continue;
      }
    }
    if (trimmed.front() == '[') {
      if (trimmed.back() == ']' && trimmed.size() >= 2) {
        current = &AddHiveKey(hive, trimmed.substr(1, trimmed.size() - 2));
      } else {
        // A key name that lost its closing bracket: the values below it are its
        // own, not the key's before.
        report(number,
               "the key " + QuotedLine(trimmed) + " has no closing \"]\"; read as if it had one");
        current = &AddHiveKey(hive, Trim(trimmed.substr(1)));
      }
      continue;
    }
    const char* repair = nullptr;
    std::optional<std::string> value;
    if (current != nullptr) {
      value = ParseDefaultValue(trimmed, endAtNul, comment);
      if (!value) value = RepairDefaultValue(trimmed, endAtNul, comment, repair);
    }
    if (value) {
      if (repair != nullptr) report(number, "the value " + QuotedLine(trimmed) + " " + repair);
      // A later line wins, as on import.
      current->defaultValue = std::move(value);
      current->defaultComment = comment;
      continue;
    }
    if (continuation || IsKnownOtherLine(trimmed)) {
      continues = trimmed.back() == '\\';
    } else {
      report(number, QuotedLine(trimmed) + " is not understood; kept as it is");
    }
    if (current == nullptr) {
      hive.leadingLines.emplace_back(line);
    } else {
      current->otherLines.emplace_back(line);
    }
  }
  return hive;
}

std::string SerializeHive(const THive& hive) {
  std::string out;
  out.append(hive.signature).append(kLineEnd).append(kLineEnd);
  if (!hive.leadingLines.empty()) {
    for (const auto& line : hive.leadingLines) out.append(line).append(kLineEnd);
    out.append(kLineEnd);
  }
  for (const auto& [name, key] : hive.keys) {
    out.append("[").append(name).append("]").append(kLineEnd);
    if (key.defaultValue) {
      out.append("@=\"");
      AppendEscaped(out, *key.defaultValue);
      out.append("\"").append(key.defaultComment).append(kLineEnd);
    }
    for (const auto& line : key.otherLines) out.append(line).append(kLineEnd);
    out.append(kLineEnd);
  }
  if (hive.encoding == THiveEncoding::kUtf16) return EncodeUtf16(out);
  return out;
}

}  // namespace pling::platform
