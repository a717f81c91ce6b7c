// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailslot/message_text.h"

#include <algorithm>

namespace pling::mailslot {

runtime::TResult<TSendRoute> ChooseSendRoute(const std::string& userName,
                                             const std::function<std::string()>& computerName,
                                             bool useServer, const std::string& server,
                                             const std::string& receiver) {
  if (userName.empty()) return runtime::TError{0, "User name unkown"};
  if (useServer) return TSendRoute{userName, server};
  std::string computer = computerName();
  if (computer.empty()) return runtime::TError{0, "Computer name unkown"};
  return TSendRoute{std::move(computer), receiver};
}

std::string MessageLine(std::string_view sender, std::string_view receiver, std::string_view text) {
  std::string line;
  line.reserve(sender.size() + receiver.size() + text.size() + 7);
  line.append(sender).append(" to ").append(receiver).append(" : ").append(text);
  return line;
}

std::string ReceivedText(std::string_view sender, std::string_view receiver,
                         std::string_view text) {
  std::size_t at = text.find(kLineBreakMarker);
  if (at == std::string_view::npos) return MessageLine(sender, receiver, text);
  std::string lines(text.substr(0, at));
  while (at != std::string_view::npos) {
    const std::size_t next = text.find(kLineBreakMarker, at + 1);
    std::string_view line =
        text.substr(at + 1, next == std::string_view::npos ? next : next - at - 1);
    do {
      lines += "\r\n";
      lines += line.substr(0, kMarkerLineLength);
      line.remove_prefix(std::min(line.size(), kMarkerLineLength));
    } while (!line.empty());
    at = next;
  }
  return lines;
}

std::string ToCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string EachLfToCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string ToLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      const char other = c == '\r' ? '\n' : '\r';
      if (i + 1 < text.size() && text[i + 1] == other) ++i;
      out += '\n';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace pling::mailslot
