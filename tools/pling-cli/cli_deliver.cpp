// SPDX-License-Identifier: GPL-3.0-or-later
// pling-cli deliver: hands a session message that Samba's file server took on
// this machine (its `message command` writes each one to a file) to the messenger
// mailslot, so that the window or `pling-cli listen` shows it like any other.
//   message command = pling-cli deliver --from %f --to %t %s
// The file is in Samba's unix charset (UTF-8); it is removed once delivered, and
// kept (with a line on standard error) when nobody here takes messages.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "cli.h"
#include "mailslot/lxMailSlot.h"
#include "mailslot/message_text.h"
#include "platform/codepage.h"
#include "platform/identity.h"

namespace pling::cli {

namespace {

constexpr const char* kDeliverUsage =
    "usage: pling-cli deliver --from SENDER [--to RECEIVER] FILE\n"
    "  Shows the message in FILE (UTF-8) as one from SENDER to RECEIVER (default:\n"
    "  this computer), then removes FILE. For smb.conf's [global] section:\n"
    "    message command = pling-cli deliver --from %f --to %t %s\n";

// Samba's text (UTF-8) as the messenger datagram carries it (OEM code page).
std::string OemFromUtf8(std::string_view utf8) {
  std::string text = platform::Utf8ToAnsi(utf8);
  platform::CharToOem(text);
  return text;
}

// A messenger datagram holds at most this much text (what Windows takes).
constexpr std::size_t kMaxText = 1600;

}  // namespace

int DeliverCommand(const TArgs& args) {
  std::string from, to, path;
  bool haveFrom = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kDeliverUsage, stdout);
      return 0;
    }
    if ((arg == "--from" || arg == "--to") && i + 1 < args.size()) {
      (arg == "--from" ? from : to) = args[++i];
      haveFrom = haveFrom || arg == "--from";
    } else if (arg.starts_with("--") || !path.empty()) {
      return UsageError("unexpected argument " + arg, kDeliverUsage);
    } else {
      path = arg;
    }
  }
  if (!haveFrom || path.empty()) {
    return UsageError("deliver needs --from SENDER and a FILE", kDeliverUsage);
  }
  std::ifstream file(path, std::ios::binary);
  std::string text;
  if (file) text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file || file.bad()) {
    PrintError("cannot read " + path);
    return 1;
  }
  file.close();
  if (text.size() > kMaxText) text.resize(kMaxText);  // no client sends more
  // A 0x00 would end the text at the receiver; Samba writes none.
  text = text.substr(0, text.find('\0'));
  // The receiver as the sender wrote it (Samba's %t); without one, this computer.
  const std::string datagram = mailslot::EncodeMessengerDatagram(
      OemFromUtf8(from), to.empty() ? OemFromUtf8(platform::GetComputerName()) : OemFromUtf8(to),
      OemFromUtf8(mailslot::ToCrLf(text)));
  if (!mailslot::WriteMailSlot(".", mailslot::MessengerSlotName, datagram)) {
    PrintError("nobody on this computer receives messages now; the message stays in " + path);
    return 1;
  }
  std::remove(path.c_str());
  return 0;
}

}  // namespace pling::cli
