// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings at exit, when they cannot be written: the user learns which file
// failed and why, and what would be lost (receivers added or removed, the
// selection, options changed since the start), and chooses to try again, to
// save the settings in another file, or to end without them. Nothing is dropped
// without the user's word.
#include <QString>
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "settings/Megares.h"

class QWidget;

namespace pling::app {

// One value the window stores: its section, key and text.
struct TStoredSetting {
  std::string section;
  std::string key;
  std::string text;
};

// What the user chose in the box.
enum class TExitSaveChoice { TryAgain, SaveElsewhere, EndWithout };
// The box: the text and three buttons (Try again, the default and the answer to
// Escape; Save elsewhere...; End without saving). Replaceable for tests.
using TExitQuestionFn = std::function<TExitSaveChoice(QWidget* parent, const QString& text)>;
void SetExitQuestionFunction(TExitQuestionFn fn);  // an empty function restores the box

// What writing `now` in place of `atStart` would have kept, in words for the
// user, one item a line; empty when the two hold the same.
QString NotKeptText(const std::vector<TStoredSetting>& atStart,
                    const std::vector<TStoredSetting>& now);
// `first` followed by `then`.
std::vector<TStoredSetting> Joined(const std::vector<TStoredSetting>& first,
                                   const std::vector<TStoredSetting>& then);
// The values as a settings file holds them: "[Section]" lines, each followed by
// its "Key=Text" lines, sections in their first order; line breaks as CR LF.
std::string SettingsText(const std::vector<TStoredSetting>& values);

// Writes `values` and the window's bounds (TMegaRegistry::SaveFormBounds) into
// `store` as one replacement of its file; the error of a failed write, or none.
// When the store holds every value as it stands (most exits), it writes only the
// bounds, which change nothing either while they are stored already: one look
// at the file instead of a write of every value.
std::exception_ptr WriteSettingsAtExit(settings::TMegaRegistry& store,
                                       std::span<const settings::TSettingText> values);

// Calls `write` (which gives the error of a failed write, or none) until it
// succeeds or the user chooses to save elsewhere or to end without saving.
// `atStart` and `now` give the values as they were at the start and as they are
// now, asked only when a write failed.
// Saving elsewhere asks `chooseFile` for a file (an empty name goes back to the
// question) and writes SettingsText(now()) there as SaveFileSafely does; a
// failure there is shown and the question comes again.
void KeepSettingsAtExit(QWidget* parent, const std::function<std::exception_ptr()>& write,
                        const std::function<std::vector<TStoredSetting>()>& atStart,
                        const std::function<std::vector<TStoredSetting>()>& now,
                        const std::function<QString(QWidget*)>& chooseFile);

}  // namespace pling::app
