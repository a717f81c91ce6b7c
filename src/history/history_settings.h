// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The history's settings where the program keeps them: the window and pling-cli
// both read them here.
#include <string>
#include <vector>

#include "history/history.h"
#include "settings/Megares.h"

namespace pling::history {

// History, HistoryDays and HistoryMB of section Settings (settings/StoredKeys.h),
// brought into their ranges. A value that cannot be read keeps its default and,
// where `problems` is given, is named there (settings::SettingProblemText).
TSettings ReadSettings(const settings::TMegaRegistry& store,
                       std::vector<std::string>* problems = nullptr);

}  // namespace pling::history
