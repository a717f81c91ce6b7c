// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The warning the core's components give the user (settings::TFormSizer's), as
// a Qt message box.
#include <string>

namespace pling::qtbridge {

// A warning message box with one "OK" button over the active window; caption and
// text in the ANSI code page (a carriage return breaks the line).
void ShowWarningBox(const std::string& caption, const std::string& text);

}  // namespace pling::qtbridge
