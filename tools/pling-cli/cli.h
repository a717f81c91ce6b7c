#pragma once
// The pieces of pling-cli. Each command returns the process's exit status:
// 0 done, 1 failed (with a message on standard error), 2 usage error.
#include <string>
#include <string_view>
#include <vector>

namespace pling::cli {

using TArgs = std::vector<std::string>;

int SendCommand(const TArgs& args);
int ListenCommand(const TArgs& args);
int SettingsCommand(const TArgs& args);

// Terminal text <-> the ANSI code page used inside the program.
bool TerminalIsUtf8();
std::string FromTerminal(std::string_view text);
// One line for a terminal: control characters, line breaks and backslashes shown
// as escapes, so that a message can never drive the terminal.
std::string EscapeForTerminal(std::string_view ansi);
// A JSON string literal (with its quotes) of ANSI text, in UTF-8.
std::string JsonString(std::string_view ansi);
// "50 43 31 00"
std::string HexBytes(std::string_view bytes);
// Line breaks as the panes hold them: every LF (not already after a CR) becomes CR LF.
std::string ToCrLf(std::string_view text);

// Writes "pling-cli: " + message to standard error.
void PrintError(std::string_view message);

}  // namespace pling::cli
