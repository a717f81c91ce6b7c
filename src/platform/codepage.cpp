// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/codepage.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>

namespace pling::platform {
namespace {

struct TUnicodeByte {
  char32_t codePoint;
  unsigned char byte;
};

struct TCodePageTables {
  unsigned ansi;
  unsigned oem;
  unsigned char ansiToOem[256];
  unsigned char oemToAnsi[256];
  char32_t ansiToUnicode[256];
  TUnicodeByte unicodeToAnsi[128];  // the high half, sorted by code point
  unsigned char ansiUpper[256];
  unsigned char oemUpper[256];
};

#include "platform/codepage_tables.inc"

constexpr const TCodePageTables& kWestern = kCodePageTables[0];

constexpr bool HoldsAsciiAsItself(const TCodePageTables& tables) {
  for (unsigned byte = 0; byte < 0x80; ++byte) {
    if (tables.ansiToUnicode[byte] != byte) return false;
  }
  return true;
}
static_assert(std::all_of(std::begin(kCodePageTables), std::end(kCodePageTables),
                          HoldsAsciiAsItself),
              "every ANSI page holds ASCII as itself (codepage.h)");

const TCodePageTables* TablesForAnsi(unsigned ansiCodePage) {
  for (const TCodePageTables& tables : kCodePageTables) {
    if (tables.ansi == ansiCodePage) return &tables;
  }
  return nullptr;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

const TCodePageTables& TablesForLocale(std::string_view locale) {
  const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
  std::string_view modifier;
  if (const auto at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at + 1);
  }
  constexpr std::string_view kCyrillic[] = {"ru", "uk", "be", "bg", "sr",
                                            "mk", "kk", "ky", "tg", "mn"};
  constexpr std::string_view kCentral[] = {"cs", "sk", "pl", "hu", "sl", "hr", "bs", "ro", "sq"};
  const auto isLanguage = [language](std::string_view code) {
    return EqualsIgnoreCase(language, code);
  };
  // Serbian is written in both scripts; the "@latin" locales use the Central European pages.
  if (isLanguage("sr") && EqualsIgnoreCase(modifier, "latin")) return *TablesForAnsi(1250);
  if (std::any_of(std::begin(kCyrillic), std::end(kCyrillic), isLanguage)) {
    return *TablesForAnsi(1251);
  }
  if (std::any_of(std::begin(kCentral), std::end(kCentral), isLanguage)) {
    return *TablesForAnsi(1250);
  }
  return kWestern;
}

std::atomic<const TCodePageTables*> gActive{nullptr};

const TCodePageTables& Active() {
  const TCodePageTables* tables = gActive.load(std::memory_order_acquire);
  if (tables != nullptr) return *tables;
  std::string_view locale;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      locale = value;
      break;
    }
  }
  const TCodePageTables* chosen = &TablesForLocale(locale);
  // A pair chosen explicitly in the meantime wins over the locale's.
  if (gActive.compare_exchange_strong(tables, chosen, std::memory_order_acq_rel)) return *chosen;
  return *tables;
}

TCodePages PagesOf(const TCodePageTables& tables) {
  return {tables.ansi, tables.oem};
}

void Translate(std::string& text, const unsigned char (&table)[256]) {
  for (char& c : text) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
}

bool EqualsFolded(std::string_view a, std::string_view b, const unsigned char (&upper)[256]) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&upper](char x, char y) {
           return upper[static_cast<unsigned char>(x)] == upper[static_cast<unsigned char>(y)];
         });
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one well-formed UTF-8 sequence at `pos` and advances past it. An ill-formed
// sequence yields kInvalid and advances past its longest well-formed prefix (at least one
// byte), so each broken sequence counts once.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto byteAt = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byteAt(pos++);
  if (lead < 0x80) return lead;
  std::size_t length;
  char32_t cp;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return kInvalid;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (pos >= text.size()) return kInvalid;
    const unsigned char next = byteAt(pos);
    if (next < low || next > high) return kInvalid;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (next & 0x3Fu);
    ++pos;
  }
  return cp;
}

}  // namespace

TCodePages ActiveCodePages() {
  return PagesOf(Active());
}

TCodePages SelectCodePagesForLocale(std::string_view locale) {
  const TCodePageTables& tables = TablesForLocale(locale);
  gActive.store(&tables, std::memory_order_release);
  return PagesOf(tables);
}

bool SelectCodePages(unsigned ansiCodePage) {
  const TCodePageTables* tables = TablesForAnsi(ansiCodePage);
  if (tables == nullptr) return false;
  gActive.store(tables, std::memory_order_release);
  return true;
}

void CharToOem(std::string& text) {
  Translate(text, Active().ansiToOem);
}

void OemToChar(std::string& text) {
  Translate(text, Active().oemToAnsi);
}

void AnsiUpperCase(std::string& text) {
  Translate(text, Active().ansiUpper);
}

void OemUpperCase(std::string& text) {
  Translate(text, Active().oemUpper);
}

bool AnsiEqualsIgnoreCase(std::string_view a, std::string_view b) {
  return EqualsFolded(a, b, Active().ansiUpper);
}

bool OemEqualsIgnoreCase(std::string_view a, std::string_view b) {
  return EqualsFolded(a, b, Active().oemUpper);
}

char32_t AnsiToUnicode(unsigned char byte) {
  return Active().ansiToUnicode[byte];
}

std::string AnsiToUtf8(std::string_view ansi) {
  const TCodePageTables& tables = Active();
  std::string out;
  out.reserve(ansi.size());
  for (const char c : ansi) AppendUtf8(out, tables.ansiToUnicode[static_cast<unsigned char>(c)]);
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8, char replacement) {
  const TCodePageTables& tables = Active();
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = DecodeUtf8(utf8, pos);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    const auto found = std::lower_bound(
        std::begin(tables.unicodeToAnsi), std::end(tables.unicodeToAnsi), cp,
        [](const TUnicodeByte& entry, char32_t value) { return entry.codePoint < value; });
    if (found != std::end(tables.unicodeToAnsi) && found->codePoint == cp) {
      out += static_cast<char>(found->byte);
    } else {
      out += replacement;
    }
  }
  return out;
}

}  // namespace pling::platform
