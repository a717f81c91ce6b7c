// SPDX-License-Identifier: GPL-3.0-or-later
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "cli.h"
#include "platform/codepage.h"

namespace pling::cli {

namespace ps = platform;

namespace {

std::string TerminalCodeset() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr ? codeset : "";
}

// The C locale's code set: bytes above ASCII mean nothing the program can know.
bool IsAsciiCodeset(const std::string& codeset) {
  return codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII";
}

}  // namespace

bool TerminalIsUtf8() {
  const std::string codeset = TerminalCodeset();
  return codeset == "UTF-8" || codeset == "utf8";
}

std::optional<std::string> ConvertCodeset(std::string_view text, const char* from, const char* to) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  std::string input(text);
  char* in = input.data();
  std::size_t inLeft = input.size();
  char buffer[256];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (result != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // A character the other side cannot hold, or a broken sequence: one '?' for
    // it, then on with the next byte that can start a character.
    out += '?';
    do {
      ++in;
      --inLeft;
    } while (inLeft > 0 && std::strcmp(from, "UTF-8") == 0 &&
             (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
  }
  iconv_close(converter);
  return out;
}

std::string FromTerminal(std::string_view text) {
  const std::string codeset = TerminalCodeset();
  if (TerminalIsUtf8()) return ps::Utf8ToAnsi(text);
  if (!IsAsciiCodeset(codeset)) {
    if (auto utf8 = ConvertCodeset(text, codeset.c_str(), "UTF-8")) return ps::Utf8ToAnsi(*utf8);
  }
  return std::string(text);
}

namespace {

bool IsControl(unsigned char byte) {
  const char32_t code = ps::AnsiToUnicode(byte);
  return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

const char* ShortEscape(unsigned char byte) {
  switch (byte) {
    case '\r':
      return "\\r";
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    case '\\':
      return "\\\\";
    default:
      return nullptr;
  }
}

}  // namespace

std::string EscapeForTerminal(std::string_view ansi) {
  const std::string codeset = TerminalCodeset();
  const bool utf8 = TerminalIsUtf8();
  // Outside UTF-8 and plain ASCII, text goes out in the terminal's own code set.
  const bool other =
      !utf8 && !IsAsciiCodeset(codeset) && ConvertCodeset("", "UTF-8", codeset.c_str()).has_value();
  std::string out;
  out.reserve(ansi.size());
  std::string plain;
  const auto flush = [&] {
    if (utf8) {
      out += ps::AnsiToUtf8(plain);
    } else if (other) {
      out += ConvertCodeset(ps::AnsiToUtf8(plain), "UTF-8", codeset.c_str()).value_or(plain);
    } else {
      out += plain;
    }
    plain.clear();
  };
  for (const char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    if (const char* escape = ShortEscape(byte)) {
      flush();
      out += escape;
    } else if (IsControl(byte) || (!utf8 && !other && byte >= 0x80)) {
      // In a plain ASCII terminal the program cannot know how the terminal shows
      // bytes above ASCII, so they are shown by value.
      flush();
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      plain.push_back(c);
    }
  }
  flush();
  return out;
}

std::string ArgForTerminal(std::string_view typed) {
  return EscapeForTerminal(FromTerminal(typed));
}

std::string JsonString(std::string_view ansi) {
  std::string out = "\"";
  std::string plain;
  const auto flush = [&] {
    out += ps::AnsiToUtf8(plain);
    plain.clear();
  };
  for (const char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t code = ps::AnsiToUnicode(byte);
    if (c == '"' || c == '\\') {
      flush();
      out += '\\';
      out += c;
    } else if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
      flush();
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(code));
      out += hex;
    } else {
      plain.push_back(c);
    }
  }
  flush();
  out += '"';
  return out;
}

std::string HexBytes(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
  }
  return out;
}

void PrintError(std::string_view message) {
  std::fprintf(stderr, "pling-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

int UsageError(std::string_view problem, const char* usage) {
  PrintError(ArgForTerminal(problem));
  std::fputs(usage, stderr);
  return 2;
}

}  // namespace pling::cli
