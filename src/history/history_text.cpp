// SPDX-License-Identifier: GPL-3.0-or-later
// The text rules of the history: the search words as a full-text query, dates,
// and the export formats.
#include <cstdio>
#include <ctime>

#include "history/history.h"
#include "platform/codepage.h"

namespace pling::history {

namespace {

// The bytes the full-text tokenizer splits words at: ASCII other than letters
// and digits. Bytes of other characters are taken as part of a word; most of them
// are letters, and a word that holds none still matches nothing rather than
// failing.
bool IsSeparator(unsigned char c) {
  if (c >= 0x80) return false;
  return !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
}

// Splits at spaces and control characters (a user's words; punctuation inside a
// word stays, the tokenizer splits it into a phrase).
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

std::size_t Characters(std::string_view utf8) {
  std::size_t count = 0;
  for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1u : 0u;
  return count;
}

bool HasWordCharacter(std::string_view word) {
  for (const char c : word) {
    if (!IsSeparator(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

// Appends the UTF-8 sequence at text[i] (valid) or U+FFFD (invalid byte); moves i.
void AppendUtf8Checked(std::string_view text, std::size_t& i, std::string& out) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  std::size_t length = 0;
  char32_t min = 0;
  if (c >= 0xC2 && c <= 0xDF)
    length = 2, min = 0x80;
  else if (c >= 0xE0 && c <= 0xEF)
    length = 3, min = 0x800;
  else if (c >= 0xF0 && c <= 0xF4)
    length = 4, min = 0x10000;
  bool valid = length > 0 && i + length <= text.size();
  char32_t code = length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
  for (std::size_t k = 1; valid && k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) valid = false;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (valid && (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
  if (valid) {
    out.append(text.substr(i, length));
    i += length;
  } else {
    out += "\xEF\xBF\xBD";
    ++i;
  }
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      AppendUtf8Checked(text, i, out);
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void AppendCsvField(std::string& out, std::string_view text) {
  // Valid UTF-8 in every field, as in JSON.
  std::string clean;
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      AppendUtf8Checked(text, i, clean);
    } else {
      clean += text[i++];
    }
  }
  if (clean.find_first_of(",\"\r\n") == std::string::npos) {
    out += clean;
    return;
  }
  out += '"';
  for (const char c : clean) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::string TimeText(std::int64_t timeMs, bool utc) {
  const std::time_t seconds =
      static_cast<std::time_t>(timeMs >= 0 ? timeMs / 1000 : (timeMs - 999) / 1000);
  std::tm parts{};
  if ((utc ? gmtime_r(&seconds, &parts) : localtime_r(&seconds, &parts)) == nullptr) return "?";
  char text[40];
  std::strftime(text, sizeof text, utc ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t k = at; k < at + count; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    value = value * 10 + (text[k] - '0');
  }
  return true;
}

}  // namespace

TMessage ReceivedMessage(std::string_view senderAnsi, std::string_view receiverAnsi,
                         std::string_view textAnsi, std::int64_t timeMs) {
  TMessage message;
  message.timeMs = timeMs;
  message.direction = TDirection::In;
  message.sender = platform::AnsiToUtf8(senderAnsi);
  message.receiver = platform::AnsiToUtf8(receiverAnsi);
  message.text = platform::AnsiToUtf8(textAnsi);
  message.delivery = TDelivery::Received;
  return message;
}

TMessage SentMessage(std::string_view machineAnsi, std::string_view senderAnsi,
                     std::string_view receiverAnsi, std::string_view textAnsi,
                     const runtime::TResult<platform::TWriteDelivery>& outcome,
                     std::int64_t timeMs) {
  TMessage message;
  message.timeMs = timeMs;
  message.direction = TDirection::Out;
  message.sender = platform::AnsiToUtf8(senderAnsi);
  message.receiver = platform::AnsiToUtf8(receiverAnsi);
  message.via = platform::AnsiToUtf8(machineAnsi);
  message.text = platform::AnsiToUtf8(textAnsi);
  if (!outcome) {
    message.delivery = TDelivery::Failed;
    message.reason = platform::AnsiToUtf8(outcome.Error().text);
    if (message.reason.empty()) message.reason = "error " + std::to_string(outcome.Error().code);
    return message;
  }
  switch (outcome.Value()) {
    case platform::TWriteDelivery::Local:
      message.delivery = TDelivery::Local;
      break;
    case platform::TWriteDelivery::Workgroup:
      message.delivery = TDelivery::Workgroup;
      break;
    case platform::TWriteDelivery::Datagram:
      message.delivery = TDelivery::Datagram;
      break;
    case platform::TWriteDelivery::Unconfirmed:
      message.delivery = TDelivery::Unconfirmed;
      break;
    case platform::TWriteDelivery::Confirmed:
      message.delivery = TDelivery::Confirmed;
      break;
  }
  return message;
}

std::string MatchExpression(std::string_view words, bool prefixLastWord) {
  std::vector<std::string_view> kept;
  for (const std::string_view word : Words(words)) {
    if (HasWordCharacter(word)) kept.push_back(word);
  }
  std::string expression;
  for (std::size_t n = 0; n < kept.size(); ++n) {
    if (n > 0) expression += ' ';
    expression += '"';
    for (const char c : kept[n]) {
      if (c == '"') expression += '"';
      expression += c;
    }
    expression += '"';
    // A word that ends in punctuation ("hello,") is complete: no prefix. Nor is
    // one of fewer than three characters a prefix: it would stand for a large
    // part of all words, which the index keeps no list of (it keeps one for
    // every three first characters).
    if (prefixLastWord && n + 1 == kept.size() &&
        !IsSeparator(static_cast<unsigned char>(kept[n].back())) && Characters(kept[n]) >= 3) {
      expression += '*';
    }
  }
  return expression;
}

std::optional<std::int64_t> ParseLocalDate(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  if (!(text.size() == 10 || text.size() == 16)) return std::nullopt;
  if (!Digits(text, 0, 4, year) || text[4] != '-' || !Digits(text, 5, 2, month) || text[7] != '-' ||
      !Digits(text, 8, 2, day)) {
    return std::nullopt;
  }
  if (text.size() == 16 && (!(text[10] == 'T' || text[10] == ' ') || !Digits(text, 11, 2, hour) ||
                            text[13] != ':' || !Digits(text, 14, 2, minute))) {
    return std::nullopt;
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 ||
      minute > 59) {
    return std::nullopt;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return std::nullopt;
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_isdst = -1;  // whatever the local rules say for that day
  const std::time_t seconds = std::mktime(&parts);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(seconds) * 1000;
}

std::string LocalTimeText(std::int64_t timeMs) {
  return TimeText(timeMs, false);
}

std::string UtcTimeText(std::int64_t timeMs) {
  return TimeText(timeMs, true);
}

const char* DirectionText(TDirection direction) {
  return direction == TDirection::Out ? "out" : "in";
}

std::string DeliveryText(const TMessage& message) {
  switch (message.delivery) {
    case TDelivery::Received:
      return "received";
    case TDelivery::Local:
      return "delivered on this computer";
    case TDelivery::Confirmed:
      return "confirmed (session message)";
    case TDelivery::Unconfirmed:
      return "not confirmed (session message)";
    case TDelivery::Datagram:
      return "sent as a datagram";
    case TDelivery::Workgroup:
      return "sent as a datagram to a workgroup";
    case TDelivery::Failed:
      return message.reason.empty() ? "failed" : "failed: " + message.reason;
  }
  return "unknown";
}

namespace {

const char* DeliveryWord(TDelivery delivery) {
  switch (delivery) {
    case TDelivery::Received:
      return "received";
    case TDelivery::Local:
      return "local";
    case TDelivery::Confirmed:
      return "confirmed";
    case TDelivery::Unconfirmed:
      return "unconfirmed";
    case TDelivery::Datagram:
      return "datagram";
    case TDelivery::Workgroup:
      return "workgroup";
    case TDelivery::Failed:
      return "failed";
  }
  return "unknown";
}

}  // namespace

std::string JsonObject(const TMessage& message) {
  std::string out = "{\"id\":" + std::to_string(message.id) + ",\"time\":";
  AppendJsonString(out, UtcTimeText(message.timeMs));
  out += ",\"direction\":";
  AppendJsonString(out, DirectionText(message.direction));
  out += ",\"sender\":";
  AppendJsonString(out, message.sender);
  out += ",\"receiver\":";
  AppendJsonString(out, message.receiver);
  out += ",\"via\":";
  AppendJsonString(out, message.via);
  out += ",\"delivery\":";
  AppendJsonString(out, DeliveryWord(message.delivery));
  out += ",\"reason\":";
  AppendJsonString(out, message.reason);
  out += ",\"text\":";
  AppendJsonString(out, message.text);
  out += '}';
  return out;
}

std::string CsvHeader() {
  return "id,time,direction,sender,receiver,via,delivery,reason,text\r\n";
}

std::string CsvRecord(const TMessage& message) {
  std::string out = std::to_string(message.id) + ',' + UtcTimeText(message.timeMs) + ',' +
                    DirectionText(message.direction) + ',';
  AppendCsvField(out, message.sender);
  out += ',';
  AppendCsvField(out, message.receiver);
  out += ',';
  AppendCsvField(out, message.via);
  out += ',';
  out += DeliveryWord(message.delivery);
  out += ',';
  AppendCsvField(out, message.reason);
  out += ',';
  AppendCsvField(out, message.text);
  out += "\r\n";
  return out;
}

}  // namespace pling::history
