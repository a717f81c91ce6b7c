#include "platform/hive_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/codepage.h"

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

struct FoldTables {
  std::array<unsigned char, 256> fold{};
  // Rank of each byte in the key order: the separator before everything, so that
  // a key comes right before its subkeys; letters without regard to case.
  std::array<unsigned short, 256> rank{};
};

// The tables of the active code page, made at its first use.
const FoldTables& ActiveFoldTables() {
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<FoldTables>> tables;
  const unsigned page = ActiveCodePages().Ansi;
  std::lock_guard guard(mutex);
  auto& slot = tables[page];
  if (!slot) {
    slot = std::make_unique<FoldTables>();
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

// A default value line: @="text", with \\\\ and \\" as escapes; a backslash before
// any other character stands for itself. Blanks, or a comment (";..."), may follow
// the closing quote: they go to `comment`. In an 8-bit file the text ends at a NUL,
// as a string value does (in a Unicode file a NUL starts a kept character).
std::optional<std::string> ParseDefaultValue(std::string_view line, bool endAtNul,
                                             std::string& comment) {
  if (line.empty() || line.front() != '@') return std::nullopt;
  std::size_t i = line.find_first_not_of(" \t", 1);
  if (i == std::string_view::npos || line[i] != '=') return std::nullopt;
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string_view::npos || line[i] != '"') return std::nullopt;
  std::string value;
  for (++i; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      const std::string_view rest = line.substr(i + 1);
      const std::string_view trimmed = Trim(rest);
      if (!trimmed.empty() && trimmed.front() != ';') return std::nullopt;
      comment = trimmed.empty() ? std::string() : std::string(rest);
      if (endAtNul) {
        const std::size_t nul = value.find('\0');
        if (nul != std::string::npos) value.resize(nul);
      }
      return value;
    }
    if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) ++i;
    value.push_back(line[i]);
  }
  return std::nullopt;  // no closing quote
}

void AppendEscaped(std::string& out, std::string_view value) {
  for (const char c : value) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
}

}  // namespace

HiveKeyOrder::HiveKeyOrder()
    : rank(ActiveFoldTables().rank.data()), codePage(ActiveCodePages().Ansi) {}

bool HiveKeyOrder::operator()(std::string_view a, std::string_view b) const {
  const std::size_t common = std::min(a.size(), b.size());
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  std::size_t i = 0;
  // Names share long prefixes; skip the bytes that are the same in both quickly.
  while (i + 16 <= common && std::memcmp(x + i, y + i, 16) == 0) i += 16;
  for (; i < common; ++i) {
    if (x[i] != y[i] && rank[x[i]] != rank[y[i]]) return rank[x[i]] < rank[y[i]];
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

std::string HiveValueAsAnsi(const Hive& hive, std::string_view value) {
  if (hive.encoding != HiveEncoding::kUtf16) return std::string(value);
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

const HiveKey* FindHiveKey(const Hive& hive, std::string_view name) {
  const auto found = hive.keys.find(name);
  return found == hive.keys.end() ? nullptr : &found->second;
}

HiveKey& AddHiveKey(Hive& hive, std::string_view name, bool* added) {
  if (const auto found = hive.keys.find(name); found != hive.keys.end()) return found->second;
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
      if (hive.keys.contains(
              std::string_view(spelled).substr(0, kClassesRootName.size() + 1 + slash))) {
        break;
      }
      missingFrom = slash;
    }
    for (std::size_t at = missingFrom; at != std::string_view::npos; at = path.find('\\', at + 1)) {
      hive.keys.try_emplace(spelled.substr(0, kClassesRootName.size() + 1 + at));
    }
  }
  if (added != nullptr) *added = true;
  return hive.keys.try_emplace(std::move(spelled)).first->second;
}

void SetHiveDefaultValue(HiveKey& key, std::string_view value) {
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

Hive ParseHive(std::string_view text) {
  Hive hive;
  std::string decoded;
  if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE') {
    decoded = DecodeUtf16(text.substr(2));
    text = decoded;
    hive.encoding = HiveEncoding::kUtf16;
    hive.signature = std::string(kUnicodeSignature);
  }
  const bool endAtNul = hive.encoding == HiveEncoding::kAnsi;
  HiveKey* current = nullptr;
  bool first = true;
  std::size_t pos = 0;
  std::string comment;
  while (pos < text.size()) {
    const std::size_t newline = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, newline == std::string_view::npos ? text.npos : newline - pos);
    pos = newline == std::string_view::npos ? text.size() : newline + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) continue;
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
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      current = &AddHiveKey(hive, trimmed.substr(1, trimmed.size() - 2));
      continue;
    }
    if (current == nullptr) {
      hive.leadingLines.emplace_back(line);
    } else if (auto value = ParseDefaultValue(trimmed, endAtNul, comment)) {
      // A later line wins, as on import.
      current->defaultValue = std::move(value);
      current->defaultComment = comment;
    } else {
      current->otherLines.emplace_back(line);
    }
  }
  return hive;
}

std::string SerializeHive(const Hive& hive) {
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
  if (hive.encoding == HiveEncoding::kUtf16) return EncodeUtf16(out);
  return out;
}

}  // namespace pling::platform
