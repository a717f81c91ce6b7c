// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtbridge/AnsiText.h"

#include <algorithm>

#include "platform/codepage.h"

namespace pling::qtbridge {

namespace {

// Every ANSI page holds ASCII as itself (platform/codepage.h): names and most
// texts are ASCII, and go across without a code page table or UTF-8 between.
bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool IsAscii(QStringView text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QString FromAnsi(std::string_view ansi) {
  if (IsAscii(ansi)) return QString::fromLatin1(ansi.data(), static_cast<qsizetype>(ansi.size()));
  return QString::fromStdString(platform::AnsiToUtf8(ansi));
}

std::string ToAnsi(const QString& text) {
  if (IsAscii(text)) {
    std::string ansi(static_cast<std::size_t>(text.size()), '\0');
    std::transform(text.begin(), text.end(), ansi.begin(),
                   [](QChar c) { return static_cast<char>(c.unicode()); });
    return ansi;
  }
  return platform::Utf8ToAnsi(text.toStdString());
}

}  // namespace pling::qtbridge
