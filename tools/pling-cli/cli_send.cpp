// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli.h"
#include "mailslot/lxMailSlot.h"
#include "mailslot/message_text.h"
#include "net/netbios.h"
#include "platform/identity.h"
#include "platform/mailslot_service.h"
#include "platform/network.h"
#include "platform/types.h"

namespace pling::cli {

namespace {

// The usage, with the network's datagram limit.
const std::string& SendUsage() {
  static const std::string usage =
      std::string(
          "usage: pling-cli send [--from NAME] [--server SERVER] [--machine MACHINE] [--verbose]\n"
          "                      RECEIVER [TEXT...]\n"
          "\n"
          "Sends one message to RECEIVER, as the main window does.\n"
          "  direct (default)   written to the machine RECEIVER, this computer's name as sender\n"
          "  --server SERVER    written to SERVER, which passes it on; the user's name as sender\n"
          "  --from NAME        sender name instead\n"
          "  --machine MACHINE  target machine instead (\".\" this computer, \"*\" the domain)\n"
          "  --verbose          say how it went: confirmed by the machine (a session message)\n"
          "                     or sent as a datagram only\n"
          "TEXT is the rest of the command line; without it, standard input (line breaks\n"
          "kept, sent as CR LF). A message must fit in one datagram (") +
      std::to_string(net::kMaxMailslotData) +
      " bytes with both\n"
      "names when it goes to another machine); a longer one is refused.\n"
      "The message is kept in the message history with how it went (pling-cli history),\n"
      "unless the history is off.\n"
      "A message to one machine that did not confirm it is reported on standard error\n"
      "(with --verbose on standard output, as every outcome).\n"
      "Exit status: 0 written (confirmed or not), 1 not written or refused by the\n"
      "machine, 2 usage error.\n";
  return usage;
}

int Usage(const std::string& problem) {
  return UsageError(problem, SendUsage().c_str());
}

// On this computer a mailslot is a local datagram socket: no datagram longer than
// a socket's send buffer can be sent (the kernel keeps a few of those bytes for
// itself, and the writer refuses what does not fit).
std::size_t LocalDatagramLimit() {
  constexpr std::size_t kUsualSendBuffer = 212992;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kUsualSendBuffer;
  int size = 0;
  socklen_t length = sizeof size;
  const bool known = getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length) == 0 && size > 0;
  close(fd);
  return known ? static_cast<std::size_t>(size) : kUsualSendBuffer;
}

// The largest messenger datagram that the machine part `target` can take.
std::size_t DatagramLimit(const std::string& target) {
  return platform::IsLocalMachine(target) ? LocalDatagramLimit() : net::kMaxMailslotData;
}

enum class TReadResult { Done, TooLong, Failed };

// Reads fd to its end, but never more than `limit` + 1 bytes: past that the
// rest is not read at all.
TReadResult ReadAtMost(int fd, std::size_t limit, std::string& text) {
  char buffer[4096];
  for (;;) {
    const std::size_t room = limit + 1 - text.size();
    const ssize_t n = read(fd, buffer, room < sizeof buffer ? room : sizeof buffer);
    if (n == 0) return TReadResult::Done;
    if (n < 0) {
      if (errno == EINTR) continue;
      return TReadResult::Failed;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > limit) return TReadResult::TooLong;
  }
}

std::string SlotPath(const std::string& target) {
  return "\\\\" + EscapeForTerminal(target) + "\\mailslot\\" + mailslot::MessengerSlotName;
}

// What --verbose says once the message went out.
std::string DeliveryReport(platform::TWriteDelivery delivery, const std::string& target) {
  const std::string machine = EscapeForTerminal(target);
  switch (delivery) {
    case platform::TWriteDelivery::Local:
      return "delivered to the mailslot on this computer";
    case platform::TWriteDelivery::Workgroup:
      return "sent as a datagram to the machines of " + machine + "; delivery not confirmed";
    case platform::TWriteDelivery::Datagram:
      return "sent as a datagram to " + machine + "; delivery not confirmed";
    case platform::TWriteDelivery::Unconfirmed:
      return "sent as a session message to " + machine + ", which did not confirm it";
    case platform::TWriteDelivery::Confirmed:
      break;
  }
  return "delivered to " + machine + ", which confirmed it (session message)";
}

int TooLong(const std::string& target, std::size_t textLimit) {
  PrintError("message too long: a message to " + SlotPath(target) + " holds at most " +
             std::to_string(textLimit) + " bytes of text");
  return 1;
}

}  // namespace

int SendCommand(const TArgs& args) {
  std::string from, server, machine, receiver;
  bool haveFrom = false, haveServer = false, haveMachine = false, verbose = false;
  TArgs words;
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsDone && (arg == "--help" || arg == "-h")) {
      std::fputs(SendUsage().c_str(), stdout);
      return 0;
    }
    if (!optionsDone && (arg == "--from" || arg == "--server" || arg == "--machine")) {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--from") from = value, haveFrom = true;
      if (arg == "--server") server = value, haveServer = true;
      if (arg == "--machine") machine = value, haveMachine = true;
    } else if (!optionsDone && arg == "--verbose") {
      verbose = true;
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

  // Who is named and where it goes, as the main window decides it; --from names
  // the sender instead, and then neither name of this computer is needed.
  std::string sender, target;
  if (haveFrom) {
    sender = FromTerminal(from);
    target = haveServer ? FromTerminal(server) : receiver;
  } else {
    auto route = mailslot::ChooseSendRoute(platform::GetUserName(), platform::GetComputerName,
                                           haveServer, FromTerminal(server), receiver);
    if (!route) {
      PrintError(route.Error().text);
      return 1;
    }
    sender = std::move(route.Value().sender);
    target = std::move(route.Value().machine);
  }
  if (haveMachine) target = FromTerminal(machine);
  if (target.empty()) return Usage("the target machine is empty");

  // The datagram holds both names, a 0x00 after each, and the text.
  const std::size_t datagramLimit = DatagramLimit(target);
  const std::size_t names = sender.size() + receiver.size() + 2;
  const std::size_t textLimit = datagramLimit > names ? datagramLimit - names : 0;

  std::string text;
  if (words.size() > 1) {
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (i > 1) text += ' ';
      text += words[i];
    }
  } else {
    // Every character the terminal sends takes at most MB_CUR_MAX bytes and
    // becomes one byte of text, and a closing line end is dropped: input longer
    // than that cannot fit, and is not read further.
    const std::size_t readLimit = textLimit * MB_CUR_MAX + 2;
    switch (ReadAtMost(0, readLimit, text)) {
      case TReadResult::Done:
        break;
      case TReadResult::TooLong:
        return TooLong(target, textLimit);
      case TReadResult::Failed:
        PrintError("cannot read the message from standard input");
        return 1;
    }
    // The line end that closes the input is not part of the message.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  // A 0x00 ends the text at every receiver: what follows it would be lost.
  if (text.find('\0') != std::string::npos) {
    PrintError("the message contains a zero byte, which a message cannot carry; nothing was sent");
    return 1;
  }
  text = mailslot::ToCrLf(FromTerminal(text));
  if (text.empty()) {
    PrintError("Nothing to send");
    return 1;
  }
  if (text.size() > textLimit) return TooLong(target, textLimit);

  ApplyNetworkSettings();
  mailslot::TlxPling pling(nullptr);
  const auto sent = pling.Deliver(target, sender, receiver, text);
  RecordSent(target, sender, receiver, text, sent);
  if (!sent) {
    const std::string& why = sent.Error().text;
    PrintError("could not write the message to " + SlotPath(target) +
               (why.empty() ? "" : ": " + why));
    return 1;
  }
  if (verbose) {
    std::printf("%s\n", DeliveryReport(sent.Value(), target).c_str());
  } else if (platform::NotConfirmed(sent.Value())) {
    // The message went out, but nobody said it arrived: a script should know.
    PrintError(DeliveryReport(sent.Value(), target));
  }
  return 0;
}

}  // namespace pling::cli
