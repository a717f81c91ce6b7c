// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The pieces of pling-cli. Each command returns the process's exit status:
// 0 done, 1 failed (with a message on standard error), 2 usage error.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history.h"

namespace pling::cli {

using TArgs = std::vector<std::string>;

int SendCommand(const TArgs& args);
int ListenCommand(const TArgs& args);
int SettingsCommand(const TArgs& args);
int HostsCommand(const TArgs& args);
int WhoCommand(const TArgs& args);
int DeliverCommand(const TArgs& args);
int HistoryCommand(const TArgs& args);

// The history settings (on/off, days, megabytes) where the window keeps them;
// the defaults when not set or unreadable.
history::TSettings HistorySettings();
// Keeps a message this process sent (ANSI, as given to Deliver) with its outcome
// in the history; a failure to keep it is said on standard error, and the send's
// outcome stands.
void RecordSent(const std::string& machine, const std::string& sender, const std::string& receiver,
                const std::string& text, const runtime::TResult<platform::TWriteDelivery>& outcome);

// Hands the program's network settings (settings::ApplyTransportSettings: the
// WINS server, the announced comment, SessionMessages) to the transport, read
// where the window reads them, before the first message goes or comes. Where no
// settings file exists none is made; one that cannot be read gives the defaults.
// From then on a change of the stored comment that another program reports is
// read again and announced (settings::FollowCommentSetting).
void ApplyNetworkSettings();

// Terminal text <-> the ANSI code page used inside the program. UTF-8 terminals
// and those of another code set iconv knows are converted; in a plain ASCII
// terminal (the C locale) bytes above ASCII pass in unchanged and are shown by
// value.
bool TerminalIsUtf8();
// Converts text between code sets (iconv names); characters the target cannot
// hold become '?'. Empty when iconv does not know one of them.
std::optional<std::string> ConvertCodeset(std::string_view text, const char* from, const char* to);
std::string FromTerminal(std::string_view text);
// One line for a terminal: control characters, line breaks and backslashes shown
// as escapes, so that a message can never drive the terminal.
std::string EscapeForTerminal(std::string_view ansi);
// Text as typed on the command line (an argument), shown as EscapeForTerminal
// shows a message.
std::string ArgForTerminal(std::string_view typed);
// A JSON string literal (with its quotes) of ANSI text, in UTF-8.
std::string JsonString(std::string_view ansi);
// "50 43 31 00"
std::string HexBytes(std::string_view bytes);

// Writes "pling-cli: " + message to standard error.
void PrintError(std::string_view message);
// A usage error: the problem and the command's usage on standard error; returns 2.
// The problem is text as typed, arguments and all: it is shown through
// ArgForTerminal, so callers pass arguments unescaped.
int UsageError(std::string_view problem, const char* usage);

}  // namespace pling::cli
