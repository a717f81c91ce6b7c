// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text of the core (bytes in the ANSI code page, platform/codepage.h) as Qt
// holds it, and back.
#include <QString>
#include <string>
#include <string_view>

namespace pling::qtbridge {

// ANSI code page bytes to a QString and back; characters the ANSI page cannot
// hold become '?'.
QString FromAnsi(std::string_view ansi);
// Whether every character is ASCII (which every ANSI page holds as itself).
bool IsAscii(QStringView text);
std::string ToAnsi(const QString& text);

}  // namespace pling::qtbridge
