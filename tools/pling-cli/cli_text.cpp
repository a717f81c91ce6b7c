#include <langinfo.h>

#include <cstdio>
#include <cstring>

#include "cli.h"
#include "platform/codepage.h"

namespace pling::cli {

namespace ps = platform;

bool TerminalIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr &&
         (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

std::string FromTerminal(std::string_view text) {
  return TerminalIsUtf8() ? ps::Utf8ToAnsi(text) : std::string(text);
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
  const bool utf8 = TerminalIsUtf8();
  std::string out;
  out.reserve(ansi.size());
  std::string plain;
  const auto flush = [&] {
    out += utf8 ? ps::AnsiToUtf8(plain) : plain;
    plain.clear();
  };
  for (const char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    if (const char* escape = ShortEscape(byte)) {
      flush();
      out += escape;
    } else if (IsControl(byte) || (!utf8 && byte >= 0x80)) {
      // Outside a UTF-8 terminal the program cannot know how the terminal shows
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

std::string ToCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

void PrintError(std::string_view message) {
  std::fprintf(stderr, "pling-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace pling::cli
