#include "platform/hive_parser.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pling::platform {
namespace {

constexpr std::string_view kSignature = "REGEDIT4";
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

// Rank of each byte in the key order: the separator before everything, so that a
// key comes right before its subkeys; letters without regard to case.
constexpr std::array<unsigned short, 256> kRank = [] {
  std::array<unsigned short, 256> rank{};
  for (unsigned c = 0; c < 256; ++c) {
    const unsigned lower = c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
    rank[c] = static_cast<unsigned short>(c == '\\' ? 0 : lower + 1);
  }
  return rank;
}();

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

// A default value line: @="text", with \\ and \" as escapes; a backslash before
// any other character stands for itself. The text ends at a NUL, as a string
// value does.
std::optional<std::string> ParseDefaultValue(std::string_view line) {
  if (line.empty() || line.front() != '@') return std::nullopt;
  std::size_t i = line.find_first_not_of(" \t", 1);
  if (i == std::string_view::npos || line[i] != '=') return std::nullopt;
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string_view::npos || line[i] != '"') return std::nullopt;
  std::string value;
  for (++i; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (i + 1 != line.size()) return std::nullopt;  // something after the closing quote
      const std::size_t nul = value.find('\0');
      if (nul != std::string::npos) value.resize(nul);
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

bool HiveKeyOrder::operator()(std::string_view a, std::string_view b) const {
  const std::size_t common = std::min(a.size(), b.size());
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  std::size_t i = 0;
  // Names share long prefixes; skip the bytes that are the same in both quickly.
  while (i + 16 <= common && std::memcmp(x + i, y + i, 16) == 0) i += 16;
  const unsigned short* rank = kRank.data();
  for (; i < common; ++i) {
    if (x[i] != y[i] && rank[x[i]] != rank[y[i]]) return rank[x[i]] < rank[y[i]];
  }
  return a.size() < b.size();
}

std::string HiveKeyId(std::string_view name) {
  std::string id(name);
  for (char& c : id) {
    c = static_cast<char>(LowerAscii(static_cast<unsigned char>(c)));
  }
  return id;
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
  HiveKey* current = nullptr;
  bool first = true;
  std::size_t pos = 0;
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
      if (EqualIgnoringCase(trimmed, kSignature)) continue;
    }
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      current = &AddHiveKey(hive, trimmed.substr(1, trimmed.size() - 2));
      continue;
    }
    if (current == nullptr) {
      hive.leadingLines.emplace_back(line);
    } else if (auto value = ParseDefaultValue(trimmed)) {
      current->defaultValue = std::move(value);  // a later line wins, as on import
    } else {
      current->otherLines.emplace_back(line);
    }
  }
  return hive;
}

std::string SerializeHive(const Hive& hive) {
  std::string out;
  out.append(kSignature).append(kLineEnd).append(kLineEnd);
  if (!hive.leadingLines.empty()) {
    for (const auto& line : hive.leadingLines) out.append(line).append(kLineEnd);
    out.append(kLineEnd);
  }
  for (const auto& [name, key] : hive.keys) {
    out.append("[").append(name).append("]").append(kLineEnd);
    if (key.defaultValue) {
      out.append("@=\"");
      AppendEscaped(out, *key.defaultValue);
      out.append("\"").append(kLineEnd);
    }
    for (const auto& line : key.otherLines) out.append(line).append(kLineEnd);
    out.append(kLineEnd);
  }
  return out;
}

}  // namespace pling::platform
