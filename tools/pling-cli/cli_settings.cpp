// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "history/history_settings.h"
#include "platform/codepage.h"
#include "platform/neighbourhood.h"
#include "platform/network.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "settings/NetworkSettings.h"
#include "settings/StoredKeys.h"

namespace pling::cli {

namespace {

constexpr const char* kSettingsUsage =
    "usage: pling-cli settings path\n"
    "       pling-cli settings list\n"
    "       pling-cli settings get SECTION KEY\n"
    "       pling-cli settings set SECTION KEY VALUE\n"
    "\n"
    "Reads and writes the settings the program keeps, where the program keeps them.\n"
    "'path' prints the back end and the file; 'list' prints every setting the\n"
    "program keeps: SECTION\\KEY, its value (or (not set)), the value the program\n"
    "takes while it is not set (or (window): its layout decides) and, after #, what\n"
    "it means; 'get' prints one value (status 1 when it is not set); 'set' writes it.\n"
    "A new Settings Comment is announced at once by the program that holds the\n"
    "network ports.\n";

int Usage(const std::string& problem) {
  return UsageError(problem, kSettingsUsage);
}

std::string ToTerminal(const std::string& ansi) {
  return TerminalIsUtf8() ? platform::AnsiToUtf8(ansi) : ansi;
}

// A registry key path (SECTION\KEY) holds at most this many characters.
constexpr std::size_t kRegistryPathLimit = 255;

// Whether two section or key names are the same (ASCII case ignored, as the
// stores match them).
bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

// The window's store, opened where the window keeps it; none where its file is
// not there (nothing is made for a read).
std::unique_ptr<settings::TMegaRegistry> ExistingStore() {
  auto store = std::make_unique<settings::TMegaRegistry>(nullptr);
  settings::ConfigureProgramStore(*store);
  const bool registry = store->ChosenBackEndKind() == settings::bkRegistry;
  std::error_code error;
  if (!std::filesystem::exists(registry
                                   ? platform::RegistryHivePath()
                                   : platform::WindowsDirectory() + "/" + settings::kProgramIniName,
                               error)) {
    return nullptr;
  }
  store->OpenBackEnd();
  return store;
}

}  // namespace

void ApplyNetworkSettings() {
  settings::FollowCommentSetting();
  try {
    if (const auto store = ExistingStore()) settings::ApplyTransportSettings(*store);
  } catch (const std::exception&) {
    // What cannot be read keeps its default; the Samba configuration may still
    // name a WINS server.
  }
}

history::TSettings HistorySettings() {
  try {
    if (const auto store = ExistingStore()) return history::ReadSettings(*store);
  } catch (const std::exception&) {
    // An unreadable store: the defaults.
  }
  return {};
}

namespace {

struct TListRow {
  std::string key;
  std::optional<std::string> value;
  const settings::TStoredKey* stored;
};

// The stored value of `section` `key` in `store` (none without a store), or
// false with the error printed.
bool ReadForList(const settings::TMegaRegistry* store, const char* section, const std::string& key,
                 std::optional<std::string>& value) {
  if (store == nullptr) return true;
  auto read = store->TryReadText(section, key);
  if (!read) {
    PrintError(std::string("cannot read ") + section + " " + key + ": " + read.Error().text);
    return false;
  }
  value = std::move(read.Value());
  return true;
}

int ListSettings() {
  // Only asks: a store whose file is not there holds nothing, and is not made.
  const auto store = ExistingStore();
  std::vector<TListRow> rows;
  for (const settings::TStoredKey* stored : settings::kStoredKeys) {
    const std::string prefix = std::string(stored->section) + "\\";
    if (!stored->indexed) {
      TListRow row{prefix + stored->key, std::nullopt, stored};
      if (!ReadForList(store.get(), stored->section, stored->key, row.value)) return 1;
      rows.push_back(std::move(row));
      continue;
    }
    // A list: each entry up to the first absent or empty one, that one too.
    for (int i = 0;; ++i) {
      const std::string key = settings::IndexedKey(*stored, i);
      TListRow row{prefix + key, std::nullopt, stored};
      if (!ReadForList(store.get(), stored->section, key, row.value)) return 1;
      const bool end = !row.value || row.value->empty();
      rows.push_back(std::move(row));
      if (end) break;
    }
  }
  std::vector<std::array<std::string, 3>> lines;
  std::size_t keyWidth = 0, valueWidth = 0, defaultWidth = 0;
  for (const TListRow& row : rows) {
    const char* fallback = row.stored->defaultValue;
    std::array<std::string, 3> line{row.key,
                                    row.value ? EscapeForTerminal(*row.value) : "(not set)",
                                    fallback == nullptr ? "(window)" : fallback};
    if (row.value && row.value->empty()) line[1] = "\"\"";
    if (fallback != nullptr && *fallback == '\0') line[2] = "\"\"";
    keyWidth = std::max(keyWidth, line[0].size());
    valueWidth = std::max(valueWidth, std::min<std::size_t>(line[1].size(), 36));
    defaultWidth = std::max(defaultWidth, line[2].size());
    lines.push_back(std::move(line));
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::printf("%-*s  %-*s  %-*s  # %s\n", static_cast<int>(keyWidth), lines[i][0].c_str(),
                static_cast<int>(valueWidth), lines[i][1].c_str(), static_cast<int>(defaultWidth),
                lines[i][2].c_str(), rows[i].stored->meaning);
  }
  return 0;
}

}  // namespace

int SettingsCommand(const TArgs& args) {
  if (args.empty()) return Usage("settings needs path, list, get or set");
  const std::string& action = args[0];
  if (action == "--help" || action == "-h") {
    std::fputs(kSettingsUsage, stdout);
    return 0;
  }
  // Usage errors come before the store is opened: opening it creates the
  // settings file, and a command that fails, or only asks, must not.
  if (action != "path" && action != "list" && action != "get" && action != "set") {
    return Usage("unknown settings action " + action);
  }
  if ((action == "path" || action == "list") && args.size() != 1) {
    return Usage("settings " + action + " takes no arguments");
  }
  if (action == "list") return ListSettings();
  if (action == "get" && args.size() != 3) return Usage("settings get needs SECTION and KEY");
  if (action == "set" && args.size() != 4)
    return Usage("settings set needs SECTION, KEY and VALUE");

  settings::TMegaRegistry store(nullptr);
  settings::ConfigureProgramStore(store);

  if (action == "path") {
    // Reports where the settings are, without opening the store.
    if (store.ChosenBackEndKind() == settings::bkRegistry) {
      std::printf("registry HKEY_CLASSES_ROOT\\%s\\%s\n%s\n", store.Company().c_str(),
                  store.App().c_str(), platform::RegistryHivePath().c_str());
    } else {
      std::printf("ini %s\n%s/%s\n", store.IniName().c_str(), platform::WindowsDirectory().c_str(),
                  store.IniName().c_str());
    }
    return 0;
  }

  const bool registry = store.ChosenBackEndKind() == settings::bkRegistry;
  const std::string section = FromTerminal(args[1]), key = FromTerminal(args[2]);
  if (section.empty() || key.empty()) return Usage("SECTION and KEY must not be empty");

  if (action == "get") {
    // Only asks: a store whose file is not there holds nothing, and is not made.
    const auto existing = ExistingStore();
    if (!existing) {
      PrintError(args[1] + " " + args[2] + " is not set");
      return 1;
    }
    const auto read = existing->TryReadText(section, key);
    if (!read) {
      PrintError("cannot read " + args[1] + " " + args[2] + ": " + read.Error().text);
      return 1;
    }
    if (!read.Value()) {
      PrintError(args[1] + " " + args[2] + " is not set");
      return 1;
    }
    std::printf("%s\n", ToTerminal(*read.Value()).c_str());
    return 0;
  }

  // set
  const std::string value = FromTerminal(args[3]);
  if (value.find_first_of("\r\n") != std::string::npos) {
    PrintError("a setting cannot hold a line break");
    return 1;
  }
  if (registry && (section.size() + 1 + key.size() > kRegistryPathLimit ||
                   !platform::IsWritableRegValue(section + "\\" + key, value))) {
    PrintError("SECTION\\KEY must be a registry key path of at most 255 characters");
    return 1;
  }
  store.OpenBackEnd();
  // Written as an update, whose end reports this write's own result for either
  // back end (the file and the cause when it fails), whatever other programs
  // write to the same key at the same time.
  try {
    store.BeginUpdate();
    store.WriteText(section, key, value);
    store.EndUpdate();
  } catch (const runtime::Exception& error) {
    PrintError("could not write " + args[1] + " " + args[2] + ": " + error.what());
    return 1;
  }
  if (SameName(section, settings::kCommentKey.section) &&
      SameName(key, settings::kCommentKey.key)) {
    // Announced at once by the program that holds the network ports.
    settings::CommentStored(value);
    if (!platform::CommentFits(value)) {
      PrintError("note: only the first 43 bytes of the comment are announced");
    }
  }
  return 0;
}

}  // namespace pling::cli
