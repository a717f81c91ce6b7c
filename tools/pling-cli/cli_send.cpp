#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "cli.h"
#include "mailslot/lxMailSlot.h"
#include "platform/identity.h"
#include "platform/types.h"

namespace pling::cli {

namespace {

constexpr const char* kSendUsage =
    "usage: pling-cli send [--from NAME] [--server SERVER] [--machine MACHINE] RECEIVER [TEXT...]\n"
    "\n"
    "Sends one message to RECEIVER, as the main window does.\n"
    "  direct (default)   written to the machine RECEIVER, this computer's name as sender\n"
    "  --server SERVER    written to SERVER, which passes it on; the user's name as sender\n"
    "  --from NAME        sender name instead\n"
    "  --machine MACHINE  target machine instead (\".\" this computer, \"*\" the domain)\n"
    "TEXT is the rest of the command line; without it, standard input (line breaks\n"
    "kept, sent as CR LF).\n"
    "Exit status: 0 written, 1 not written, 2 usage error.\n";

int Usage(const std::string& problem) {
  return UsageError(problem, kSendUsage);
}

bool ReadAll(int fd, std::string& text) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

int SendCommand(const TArgs& args) {
  std::string from, server, machine, receiver;
  bool haveFrom = false, haveServer = false, haveMachine = false;
  TArgs words;
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsDone && (arg == "--help" || arg == "-h")) {
      std::fputs(kSendUsage, stdout);
      return 0;
    }
    if (!optionsDone && (arg == "--from" || arg == "--server" || arg == "--machine")) {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--from") from = value, haveFrom = true;
      if (arg == "--server") server = value, haveServer = true;
      if (arg == "--machine") machine = value, haveMachine = true;
    } else if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) return Usage("no receiver given");
  if (haveServer && server.empty()) return Usage("--server needs a name");
  receiver = FromTerminal(words[0]);
  if (receiver.empty()) return Usage("the receiver name is empty");

  std::string text;
  if (words.size() > 1) {
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (i > 1) text += ' ';
      text += words[i];
    }
  } else {
    if (!ReadAll(0, text)) {
      PrintError("cannot read the message from standard input");
      return 1;
    }
    // The line end that closes the input is not part of the message.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  text = ToCrLf(FromTerminal(text));
  if (text.empty()) {
    PrintError("Nothing to send");
    return 1;
  }

  // Who is named and where it goes, as the main window decides it.
  std::string sender = platform::GetUserName();
  if (sender.empty() && !haveFrom) {
    PrintError("User name unkown");
    return 1;
  }
  std::string target;
  if (haveServer) {
    target = FromTerminal(server);
  } else {
    target = receiver;
    if (!haveFrom) {
      sender = platform::GetComputerName();
      if (sender.empty()) {
        PrintError("Computer name unkown");
        return 1;
      }
    }
  }
  if (haveFrom) sender = FromTerminal(from);
  if (haveMachine) target = FromTerminal(machine);
  if (target.empty()) return Usage("the target machine is empty");

  mailslot::TlxPling pling(nullptr);
  if (!pling.Send(target, sender, receiver, text)) {
    std::string why;
    switch (platform::GetLastError()) {
      case platform::ERROR_FILE_NOT_FOUND:
        why = ": nobody is listening there";
        break;
      case platform::ERROR_BAD_NETPATH:
        why = ": other machines cannot be reached yet";
        break;
      case platform::ERROR_BAD_PATHNAME:
        why = ": not a valid machine name";
        break;
      default:
        break;
    }
    PrintError("could not write the message to \\\\" + EscapeForTerminal(target) + "\\mailslot\\" +
               mailslot::MessengerSlotName + why);
    return 1;
  }
  return 0;
}

}  // namespace pling::cli
