// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "cli.h"
#include "platform/codepage.h"
#include "platform/network.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"

namespace pling::cli {

namespace {

constexpr const char* kSettingsUsage =
    "usage: pling-cli settings path\n"
    "       pling-cli settings get SECTION KEY\n"
    "       pling-cli settings set SECTION KEY VALUE\n"
    "\n"
    "Reads and writes the settings the program keeps, where the program keeps them.\n"
    "'path' prints the back end and the file; 'get' prints the value (status 1 when\n"
    "it is not set); 'set' writes it.\n";

int Usage(const std::string& problem) {
  return UsageError(problem, kSettingsUsage);
}

std::string ToTerminal(const std::string& ansi) {
  return TerminalIsUtf8() ? platform::AnsiToUtf8(ansi) : ansi;
}

// A registry key path (SECTION\KEY) holds at most this many characters.
constexpr std::size_t kRegistryPathLimit = 255;

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

bool SessionMessagesSetting() {
  try {
    const auto store = ExistingStore();
    return store ? store->ReadBool("Settings", "SessionMessages", true) : true;
  } catch (const std::exception&) {
    return true;  // unreadable: the default
  }
}

history::TSettings HistorySettings() {
  history::TSettings settings;
  try {
    if (const auto store = ExistingStore()) {
      settings.Enabled = store->ReadBool(history::kSettingsSection, history::kEnabledKey, true);
      settings.Days =
          store->ReadInteger(history::kSettingsSection, history::kDaysKey, settings.Days);
      settings.Megabytes =
          store->ReadInteger(history::kSettingsSection, history::kMegabytesKey, settings.Megabytes);
    }
  } catch (const std::exception&) {
    return {};  // unreadable: the defaults
  }
  return settings.Clamped();
}

void ApplyNetworkSettings() {
  platform::SetSessionMessagesEnabled(SessionMessagesSetting());
  try {
    // The window's section and key (app/NetworkStatus.h).
    if (const auto store = ExistingStore()) {
      platform::SetWinsServerSetting(store->ReadText("Settings", "WinsServer", ""));
      platform::SetBrowseCommentSetting(store->ReadText("Settings", "Comment", ""));
    }
  } catch (const std::exception&) {
    // Unreadable settings name no server; the Samba configuration still may.
  }
}

int SettingsCommand(const TArgs& args) {
  if (args.empty()) return Usage("settings needs path, get or set");
  const std::string& action = args[0];
  if (action == "--help" || action == "-h") {
    std::fputs(kSettingsUsage, stdout);
    return 0;
  }
  // Usage errors come before the store is opened: opening it creates the
  // settings file, and a command that fails, or only asks, must not.
  if (action != "path" && action != "get" && action != "set") {
    return Usage("unknown settings action " + action);
  }
  if (action == "path" && args.size() != 1) return Usage("settings path takes no arguments");
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
      PrintError("cannot read " + args[1] + " " + args[2] + ": " + read.Error().Text);
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
  return 0;
}

}  // namespace pling::cli
