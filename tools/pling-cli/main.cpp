// SPDX-License-Identifier: GPL-3.0-or-later
// pling-cli: send and listen for messenger messages, search the message
// history, and read or write the program's settings, from scripts.
#include <clocale>
#include <cstdio>
#include <exception>
#include <string>

#include "cli.h"
#include "platform/VerInfo.h"

namespace {

constexpr const char* kUsage =
    "usage: pling-cli COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  send [--from NAME] [--server SERVER] [--machine MACHINE] [--verbose] RECEIVER [TEXT...]\n"
    "                    send one message\n"
    "  listen [--count N] [--raw] [--json]\n"
    "                    hold the messenger mailslot and print every message\n"
    "  hosts [--seconds N] [--json]\n"
    "                    the machines heard on this computer's subnets\n"
    "  who [--seconds N] [--json]\n"
    "                    the messenger names on them, with their machines\n"
    "  deliver --from SENDER [--to RECEIVER] FILE\n"
    "                    show a message Samba's smbd took (its message command)\n"
    "  history [search WORDS...] [--from NAME] [--to NAME] [--since DATE]\n"
    "          [--until DATE] [--limit N] [--json]\n"
    "                    the messages shown or sent here, newest first\n"
    "  history clear     delete the message history\n"
    "  history export --json|--csv\n"
    "                    write the whole history to standard output\n"
    "  settings path     where the program's settings live\n"
    "  settings list     every setting the program keeps: value, default, meaning\n"
    "  settings get SECTION KEY\n"
    "  settings set SECTION KEY VALUE\n"
    "                    read or write one setting\n"
    "Options: --help (also after a command), --version.\n";

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  const pling::cli::TArgs args(argv + 2, argv + argc);
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (command == "--version") {
      const std::string version = pling::platform::ProgramFileVersion();
      if (version.empty()) {
        pling::cli::PrintError("this program file holds no version information");
        return 1;
      }
      std::printf("Pling %s\n", version.c_str());
      return 0;
    }
    if (command == "send") return pling::cli::SendCommand(args);
    if (command == "listen") return pling::cli::ListenCommand(args);
    if (command == "settings") return pling::cli::SettingsCommand(args);
    if (command == "hosts") return pling::cli::HostsCommand(args);
    if (command == "who") return pling::cli::WhoCommand(args);
    if (command == "deliver") return pling::cli::DeliverCommand(args);
    if (command == "history") return pling::cli::HistoryCommand(args);
  } catch (const std::exception& e) {
    pling::cli::PrintError(e.what());
    return 1;
  }
  return pling::cli::UsageError("unknown command " + command, kUsage);
}
