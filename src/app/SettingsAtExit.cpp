// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SettingsAtExit.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <map>
#include <set>

#include "app/PlingApplication.h"
#include "app/SafeSave.h"
#include "qtbridge/AnsiText.h"
#include "settings/StoredKeys.h"

namespace pling::app {
namespace {

TExitQuestionFn& ExitQuestionFunction() {
  static TExitQuestionFn fn;
  return fn;
}

TExitSaveChoice AskAtExit(QWidget* parent, const QString& text) {
  if (const TExitQuestionFn& fn = ExitQuestionFunction()) return fn(parent, text);
  QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text,
                  QMessageBox::NoButton, parent);
  QPushButton* again = box.addButton(QStringLiteral("&Try again"), QMessageBox::AcceptRole);
  QPushButton* elsewhere =
      box.addButton(QStringLiteral("&Save elsewhere..."), QMessageBox::ActionRole);
  box.addButton(QStringLiteral("&End without saving"), QMessageBox::DestructiveRole);
  box.setDefaultButton(again);
  box.setEscapeButton(again);
  box.exec();
  if (box.clickedButton() == again) return TExitSaveChoice::TryAgain;
  if (box.clickedButton() == elsewhere) return TExitSaveChoice::SaveElsewhere;
  return TExitSaveChoice::EndWithout;
}

// The receivers as stored: each name with its mark ('+' selected, '-' not).
std::map<std::string, char> Receivers(const std::vector<TStoredSetting>& values) {
  std::map<std::string, char> names;
  for (const TStoredSetting& value : values) {
    if (value.section != settings::kReceiversKey.section || value.text.empty()) continue;
    names[value.text.substr(0, value.text.size() - 1)] = value.text.back();
  }
  return names;
}

QString Names(const std::vector<std::string>& names) {
  QStringList list;
  for (const std::string& name : names) list << qtbridge::FromAnsi(name);
  return list.join(QStringLiteral(", "));
}

}  // namespace

void SetExitQuestionFunction(TExitQuestionFn fn) {
  ExitQuestionFunction() = std::move(fn);
}

QString NotKeptText(const std::vector<TStoredSetting>& atStart,
                    const std::vector<TStoredSetting>& now) {
  QStringList lines;
  const std::map<std::string, char> before = Receivers(atStart);
  const std::map<std::string, char> after = Receivers(now);
  std::vector<std::string> added, removed, selection;
  for (const auto& [name, mark] : after) {
    const auto old = before.find(name);
    if (old == before.end()) {
      added.push_back(name);
    } else if (old->second != mark) {
      selection.push_back(name);
    }
  }
  for (const auto& [name, mark] : before)
    if (!after.contains(name)) removed.push_back(name);
  if (!added.empty()) lines << QStringLiteral("Receivers added: ") + Names(added);
  if (!removed.empty()) lines << QStringLiteral("Receivers removed: ") + Names(removed);
  if (!selection.empty()) lines << QStringLiteral("Selection changed: ") + Names(selection);

  std::map<std::pair<std::string, std::string>, std::string> started;
  for (const TStoredSetting& value : atStart)
    if (value.section != settings::kReceiversKey.section)
      started[{value.section, value.key}] = value.text;
  std::vector<std::string> changed;
  for (const TStoredSetting& value : now) {
    if (value.section == settings::kReceiversKey.section) continue;
    const auto old = started.find({value.section, value.key});
    if (old == started.end() || old->second != value.text) changed.push_back(value.key);
  }
  if (!changed.empty()) lines << QStringLiteral("Settings changed: ") + Names(changed);
  return lines.join(QLatin1Char('\n'));
}

std::vector<TStoredSetting> Joined(const std::vector<TStoredSetting>& first,
                                   const std::vector<TStoredSetting>& then) {
  std::vector<TStoredSetting> all;
  all.reserve(first.size() + then.size());
  all.insert(all.end(), first.begin(), first.end());
  all.insert(all.end(), then.begin(), then.end());
  return all;
}

std::string SettingsText(const std::vector<TStoredSetting>& values) {
  std::vector<std::string> order;
  std::map<std::string, std::string> sections;
  for (const TStoredSetting& value : values) {
    auto [at, added] = sections.try_emplace(value.section);
    if (added) order.push_back(value.section);
    at->second += value.key + "=" + value.text + "\r\n";
  }
  std::string text;
  for (const std::string& section : order) {
    if (!text.empty()) text += "\r\n";
    text += "[" + section + "]\r\n" + sections[section];
  }
  return text;
}

std::exception_ptr WriteSettingsAtExit(settings::TMegaRegistry& store,
                                       std::span<const settings::TSettingText> values) {
  std::exception_ptr error;
  const bool held = store.Holds(values);
  store.BeginUpdate();
  try {
    if (!held) {
      for (const settings::TSettingText& value : values)
        store.WriteText(value.section, value.key, value.text);
    }
    store.SaveFormBounds();
  } catch (...) {
    error = std::current_exception();
  }
  try {
    store.EndUpdate();
  } catch (...) {
    if (!error) error = std::current_exception();
  }
  return error;
}

void KeepSettingsAtExit(QWidget* parent, const std::function<std::exception_ptr()>& write,
                        const std::function<std::vector<TStoredSetting>()>& atStart,
                        const std::function<std::vector<TStoredSetting>()>& now,
                        const std::function<QString(QWidget*)>& chooseFile) {
  for (;;) {
    const std::exception_ptr error = write();
    if (!error) return;
    const std::vector<TStoredSetting> values = now();
    const QString lost = NotKeptText(atStart(), values);
    // Nothing the user changed is lost: telling is enough.
    if (lost.isEmpty()) {
      ShowErrorMessage(parent, ExceptionMessage(error));
      return;
    }
    const QString text = QStringLiteral("The settings could not be saved.\n") +
                         ExceptionMessage(error) + QStringLiteral("\n\nNot kept:\n") + lost +
                         QStringLiteral(
                             "\n\nTry again, save the settings in another file, "
                             "or end without saving them.");
    for (;;) {
      const TExitSaveChoice choice = AskAtExit(parent, text);
      if (choice == TExitSaveChoice::EndWithout) return;
      if (choice == TExitSaveChoice::TryAgain) break;
      const QString path = chooseFile(parent);
      if (path.isEmpty()) continue;
      try {
        SaveFileSafely(path, SettingsText(values));
        return;
      } catch (...) {
        ShowErrorMessage(parent, ExceptionMessage(std::current_exception()));
      }
    }
  }
}

}  // namespace pling::app
