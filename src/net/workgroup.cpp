// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/workgroup.h"

#include <fstream>
#include <sstream>

namespace pling::net {

namespace {

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Parameter names ignore case, spaces and underscores ("work group" is "workgroup").
std::string Canonical(std::string_view name) {
  std::string result;
  for (const char c : name) {
    if (c == ' ' || c == '\t' || c == '_') continue;
    result += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  return result;
}

}  // namespace

std::string ParseGlobalParameter(std::string_view configText, std::string_view parameter) {
  const std::string wanted = Canonical(parameter);
  std::string value;
  bool global = true;  // lines before the first section belong to the global one
  std::string line;
  std::size_t pos = 0;
  while (pos < configText.size()) {
    std::size_t end = configText.find('\n', pos);
    if (end == std::string_view::npos) end = configText.size();
    std::string_view piece = configText.substr(pos, end - pos);
    pos = end + 1;
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    if (!piece.empty() && piece.back() == '\\') {
      piece.remove_suffix(1);
      line += piece;
      if (pos < configText.size()) continue;
    } else {
      line += piece;
    }
    const std::string_view text = Trim(line);
    if (!text.empty() && text.front() == '[') {
      const std::size_t close = text.find(']');
      global = close != std::string_view::npos &&
               EqualsIgnoreCase(Trim(text.substr(1, close - 1)), "global");
    } else if (global && !text.empty() && text.front() != ';' && text.front() != '#') {
      const std::size_t equals = text.find('=');
      if (equals != std::string_view::npos && Canonical(text.substr(0, equals)) == wanted) {
        value = std::string(Trim(text.substr(equals + 1)));
      }
    }
    line.clear();
  }
  return value;
}

std::string ParseWorkgroup(std::string_view configText) {
  return ParseGlobalParameter(configText, "workgroup");
}

std::string ReadWorkgroup(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::string(kDefaultWorkgroup);
  std::ostringstream text;
  text << file.rdbuf();
  std::string workgroup = ParseWorkgroup(text.str());
  return workgroup.empty() ? std::string(kDefaultWorkgroup) : workgroup;
}

bool SambaDeliversMessages(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream text;
  text << file.rdbuf();
  return ParseGlobalParameter(text.str(), "message command").find("pling-cli deliver") !=
         std::string::npos;
}

}  // namespace pling::net
