// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Code pages. Inside the core every string is an 8-bit string in the ANSI code
// page; the messenger datagram on the wire is in the OEM code page. The pair is
// chosen from the user's locale: Western (1252/850, the default), Cyrillic
// (1251/866) or Central European (1250/852). Within a pair, ANSI-to-OEM and
// OEM-to-ANSI are byte-for-byte bijections and inverse to each other; a letter
// present in both pages maps to itself.
#include <string>
#include <string_view>

namespace pling::platform {

struct TCodePages {
  unsigned ansi;
  unsigned oem;
};

// The active pair (chosen from LC_ALL, LC_CTYPE or LANG at first use).
TCodePages ActiveCodePages();
// Chooses the pair for a locale name such as "ru_RU.UTF-8"; returns it.
TCodePages SelectCodePagesForLocale(std::string_view locale);
// Chooses the pair by ANSI code page (1250, 1251 or 1252); false if unknown.
bool SelectCodePages(unsigned ansiCodePage);

// In place, byte for byte; lengths never change.
void CharToOem(std::string& text);
void OemToChar(std::string& text);

// Case folding in the active pair, as the system folds names (mailslot names,
// computer names, settings key names): a letter whose capital the same page holds
// becomes that capital; everything else stays (ß, µ, and letters whose capital the
// page lacks). Use the page the text is in: AnsiUpperCase for text inside the core,
// OemUpperCase for text as it travels. In place; lengths never change.
void AnsiUpperCase(std::string& text);
void OemUpperCase(std::string& text);
// Whether two strings of the same page are equal but for case, folded as above.
bool AnsiEqualsIgnoreCase(std::string_view a, std::string_view b);
bool OemEqualsIgnoreCase(std::string_view a, std::string_view b);

// At the edges (terminal, GUI): ANSI bytes to and from UTF-8. Characters the ANSI
// page cannot hold become `replacement`. Every page holds ASCII as itself: a byte
// below 0x80 is the character of that code in each of them.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8, char replacement = '?');
// The Unicode code point of an ANSI byte (bytes the page leaves undefined map to
// a code point of their own, so the conversion is lossless both ways).
char32_t AnsiToUnicode(unsigned char byte);

}  // namespace pling::platform
