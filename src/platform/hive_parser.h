#pragma once
// The registry hive as REGEDIT4 text, without any file access.
//
// The text is "REGEDIT4", a blank line, then one block per key: the key's full
// name in brackets, its default value as @="text" (backslash and double quote
// escaped as \\ and \") when it has one, and a blank line. Lines end in CRLF;
// LF alone reads alike. Keys are written in tree order (a key before its subkeys,
// siblings sorted without regard to ASCII case). Lines that are not understood
// (named values, values of other types, comments) are kept with their key, or
// before the first key; blank lines carry nothing and are not kept.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pling::platform {

inline constexpr std::string_view kClassesRootName = "HKEY_CLASSES_ROOT";

// Orders full key names by their "\"-separated parts, without regard to ASCII
// case; names that differ only in case are the same key.
struct HiveKeyOrder {
  bool operator()(std::string_view a, std::string_view b) const;
  using is_transparent = void;
};

// A text that is the same for two key names exactly when HiveKeyOrder holds them
// to be the same key.
std::string HiveKeyId(std::string_view name);

struct HiveKey {
  std::optional<std::string> defaultValue;
  std::vector<std::string> otherLines;  // kept as they were read
  bool operator==(const HiveKey&) const = default;
};

struct Hive {
  std::vector<std::string> leadingLines;  // lines before the first key, kept
  // By full name ("HKEY_CLASSES_ROOT\Corvid\Pling"), spelled as first seen.
  std::map<std::string, HiveKey, HiveKeyOrder> keys;
  bool operator==(const Hive&) const = default;
};

// Reads any text; what cannot be understood is kept as other lines. A key listed
// below HKEY_CLASSES_ROOT brings its missing parent keys into being, as an import
// of the file would.
Hive ParseHive(std::string_view text);
std::string SerializeHive(const Hive& hive);

// The full name of a key path below HKEY_CLASSES_ROOT ("" is the root itself).
std::string ClassesRootKeyName(std::string_view path);

// The key of that full name, or nullptr.
const HiveKey* FindHiveKey(const Hive& hive, std::string_view name);

// Adds the key of that full name and, below HKEY_CLASSES_ROOT, its missing
// parents. Returns the key; `added` tells whether anything was new.
HiveKey& AddHiveKey(Hive& hive, std::string_view name, bool* added = nullptr);

// Sets the key's default value, replacing any default value line of another type.
void SetHiveDefaultValue(HiveKey& key, std::string_view value);

}  // namespace pling::platform
