// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The registry hive as registry-file text, without any file access.
//
// The text is a signature line ("REGEDIT4", or "Windows Registry Editor Version
// 5.00"), a blank line, then one block per key: the key's full name in brackets,
// its default value as @="text" (backslash and double quote escaped as \\ and \")
// when it has one, and a blank line. Lines end in CRLF; LF alone reads alike. Keys
// are written in tree order (a key before its subkeys, siblings sorted without
// regard to case). Lines that are not understood (named values, values of other
// types, comments) are kept with their key, or before the first key; a comment
// after a default value (@="text" ;note) stays on its line; blank lines carry
// nothing and are not kept.
//
// An 8-bit file is text in the ANSI code page. A file that starts with the UTF-16LE
// byte-order mark is Unicode text, as the second signature's files are: it is read
// into the ANSI code page and written back as UTF-16LE with the mark. A character
// of such a file that the ANSI code page cannot hold is kept (so it is written
// back as it was) as a NUL and four hexadecimal digits in the hive's strings, and
// reads as "?" through HiveValueAsAnsi.
//
// Key names are compared without regard to case in the ANSI code page active when
// the hive is made (letters with accents included, as the registry does).
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/line_problem.h"

namespace pling::platform {

inline constexpr std::string_view kClassesRootName = "HKEY_CLASSES_ROOT";

// Orders full key names by their "\"-separated parts, without regard to ASCII
// case; names that differ only in case are the same key.
struct THiveKeyOrder {
  THiveKeyOrder();  // folds case in the active ANSI code page
  bool operator()(std::string_view a, std::string_view b) const;
  using is_transparent = void;
  const unsigned short* rank;  // of each byte, case folded
  unsigned codePage;
};

// A text that is the same for two key names exactly when THiveKeyOrder holds them
// to be the same key (in the active code page).
std::string HiveKeyId(std::string_view name);

// The byte that stands for `byte` when names are compared: the lower-case letter
// of the active ANSI code page for a letter that has one, else `byte` itself.
unsigned char FoldAnsiCase(unsigned char byte);

inline constexpr std::string_view kRegedit4Signature = "REGEDIT4";
inline constexpr std::string_view kUnicodeSignature = "Windows Registry Editor Version 5.00";

enum class THiveEncoding : unsigned char { kAnsi, kUtf16 };

struct THiveKey {
  std::optional<std::string> defaultValue;
  std::string defaultComment;           // what followed the value on its line (" ;note")
  std::vector<std::string> otherLines;  // kept as they were read
  bool operator==(const THiveKey&) const = default;
};

struct THive {
  std::string signature = std::string(kRegedit4Signature);
  THiveEncoding encoding = THiveEncoding::kAnsi;
  std::vector<std::string> leadingLines;  // lines before the first key, kept
  // By full name ("HKEY_CLASSES_ROOT\Corvid\Pling"), spelled as first seen.
  std::map<std::string, THiveKey, THiveKeyOrder> keys;
  bool operator==(const THive&) const = default;
};

// Reads any text; what cannot be understood is kept as other lines. A key listed
// below HKEY_CLASSES_ROOT brings its missing parent keys into being, as an import
// of the file would.
//
// A broken line costs only itself: a key name without its closing "]" is read as
// if it had one (so the values below it do not land in the key before), a default
// value without its closing quote is read to the end of its line, and one with an
// unescaped quote inside up to its last quote. Each such line, and each line that
// is not understood at all, is told in `problems` when that is given.
THive ParseHive(std::string_view text, std::vector<TLineProblem>* problems = nullptr);
std::string SerializeHive(const THive& hive);

// A default value as a caller reads it: the text itself, with "?" in place of a
// character that the code page cannot hold.
std::string HiveValueAsAnsi(const THive& hive, std::string_view value);

// The full name of a key path below HKEY_CLASSES_ROOT ("" is the root itself).
std::string ClassesRootKeyName(std::string_view path);

// The key of that full name, or nullptr.
const THiveKey* FindHiveKey(const THive& hive, std::string_view name);

// Adds the key of that full name and, below HKEY_CLASSES_ROOT, its missing
// parents. Returns the key; `added` tells whether anything was new.
THiveKey& AddHiveKey(THive& hive, std::string_view name, bool* added = nullptr);

// Sets the key's default value, replacing any default value line of another type.
void SetHiveDefaultValue(THiveKey& key, std::string_view value);

}  // namespace pling::platform
