// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtbridge/AnsiText.h"

#include "platform/codepage.h"

namespace pling::qtbridge {

QString FromAnsi(std::string_view ansi) {
  return QString::fromStdString(platform::AnsiToUtf8(ansi));
}

std::string ToAnsi(const QString& text) {
  return platform::Utf8ToAnsi(text.toStdString());
}

}  // namespace pling::qtbridge
