// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The rules of a message that both front ends follow, the window and pling-cli:
// who a message names as its sender and which machine it is written to, the line
// a received message is shown as, and the line breaks of a message's text. Text
// here is in the ANSI code page, as inside the core.
#include <functional>
#include <string>
#include <string_view>

#include "runtime/result.h"

namespace pling::mailslot {

// Where a message goes and whom it names as its sender.
struct TSendRoute {
  std::string sender;
  std::string machine;
};

// The route of a message to `receiver`. Directly, it is written to the machine of
// the receiver's name and names this computer; through a server it is written to
// `server`, which passes it on, and names the user. The user's name must be known
// either way ("User name unkown"); the computer's only for a direct message, so
// `computerName` is asked only then ("Computer name unkown").
runtime::TResult<TSendRoute> ChooseSendRoute(const std::string& userName,
                                             const std::function<std::string()>& computerName,
                                             bool useServer, const std::string& server,
                                             const std::string& receiver);

// "SENDER to RECEIVER : TEXT", the line a received message is shown as.
std::string MessageLine(std::string_view sender, std::string_view receiver, std::string_view text);

// The line break marker inside a received text (the pilcrow of the ANSI page).
inline constexpr char kLineBreakMarker = '\xB6';
// A line that follows a marker holds at most this many characters, as messengers
// of this kind have always shown them; the rest of a longer line goes on in
// further lines of this length rather than being dropped.
inline constexpr std::size_t kMarkerLineLength = 999;

// What the received pane shows for a message: its MessageLine, or, when the text
// holds markers, the text alone with each marker breaking the line (CR LF).
std::string ReceivedText(std::string_view sender, std::string_view receiver, std::string_view text);

// Line breaks as a message carries them: every LF not already after a CR becomes
// CR LF.
std::string ToCrLf(std::string_view text);
// Every LF becomes CR LF, one after a CR too (a pane's text as a file).
std::string EachLfToCrLf(std::string_view text);
// CR alone, LF alone, CR LF and LF CR each become one LF (a file's text for a pane).
std::string ToLf(std::string_view text);

}  // namespace pling::mailslot
