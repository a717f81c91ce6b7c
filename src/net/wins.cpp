// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/wins.h"

#include <arpa/inet.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "net/name_packets.h"
#include "net/workgroup.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

std::uint16_t RandomId() {
  thread_local std::mt19937 random{std::random_device{}()};
  return static_cast<std::uint16_t>(random());
}

}  // namespace

std::vector<std::string> WinsServerList(std::string_view setting) {
  constexpr std::string_view kSeparators = " \t,;";
  std::vector<std::string> servers;
  std::size_t at = 0;
  while ((at = setting.find_first_not_of(kSeparators, at)) != std::string_view::npos) {
    const std::size_t end = std::min(setting.find_first_of(kSeparators, at), setting.size());
    std::string server(setting.substr(at, end - at));
    at = end;
    // "tag:address" groups servers; the tag is no part of the address.
    if (const std::size_t colon = server.find(':'); colon != std::string::npos) {
      server.erase(0, colon + 1);
    }
    if (!server.empty() && std::find(servers.begin(), servers.end(), server) == servers.end()) {
      servers.push_back(std::move(server));
    }
  }
  return servers;
}

std::string ParseWinsServer(std::string_view configText) {
  std::string list;
  for (const std::string& server :
       WinsServerList(ParseGlobalParameter(configText, "wins server"))) {
    if (!list.empty()) list += ' ';
    list += server;
  }
  return list;
}

std::string ReadWinsServer(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::ostringstream text;
  text << file.rdbuf();
  return ParseWinsServer(text.str());
}

std::optional<std::uint32_t> WinsServerAddress(const std::string& server,
                                               std::chrono::milliseconds timeout) {
  if (server.empty()) return std::nullopt;
  in_addr address{};
  if (inet_pton(AF_INET, server.c_str(), &address) == 1) {
    if (address.s_addr == 0) return std::nullopt;
    return ntohl(address.s_addr);
  }
  return ResolveHostName(server, timeout);
}

TServerAnswer QueryNameServer(std::string_view machine, std::uint32_t address,
                              INameQueryChannel& channel, TResolved& found) {
  if (machine.empty() || machine.size() > 15 || address == 0) return TServerAnswer::Unknown;
  const std::uint16_t id03 = RandomId();
  const auto id00 = static_cast<std::uint16_t>(id03 + 1);
  const TNetBiosName name03 = TNetBiosName::Make(machine, 0x03);
  const TNetBiosName name00 = TNetBiosName::Make(machine, 0x00);
  const std::string query03 = BuildNameQuery(TNameQuery{id03, false, name03});
  const std::string query00 = BuildNameQuery(TNameQuery{id00, false, name00});

  // Each name is settled by the server's first answer for it: found, or not known.
  std::optional<TResolved> workstation;
  bool lacks03 = false, lacks00 = false;
  for (int attempt = 0; attempt < kServerQueryTries; ++attempt) {
    if (!lacks03) channel.Send(query03, address);
    if (!lacks00 && !workstation) channel.Send(query00, address);
    const TClock::time_point roundEnd = TClock::now() + kServerQueryInterval;
    while (const std::optional<std::string> packet = channel.Receive(roundEnd)) {
      if (const std::optional<TNameAnswer> answer = ParseNameAnswer(*packet)) {
        if (answer->address == 0 || answer->group) continue;
        if (answer->id == id03 && answer->name == name03) {
          found = TResolved{answer->address, name03};
          return TServerAnswer::Found;
        }
        if (answer->id == id00 && answer->name == name00) {
          workstation = TResolved{answer->address, name00};
        }
      } else if (const std::optional<TNameResponse> negative = ParseNameResponse(*packet)) {
        if (negative->Opcode() != TNameOpcode::Query || negative->Rcode() == 0) continue;
        lacks03 = lacks03 || negative->id == id03;
        lacks00 = lacks00 || negative->id == id00;
      }
      if (lacks03 && workstation) {
        found = *workstation;
        return TServerAnswer::Found;
      }
      if (lacks03 && lacks00) return TServerAnswer::Unknown;
    }
    if (workstation) {
      found = *workstation;
      return TServerAnswer::Found;
    }
  }
  return lacks03 || lacks00 ? TServerAnswer::Unknown : TServerAnswer::Silent;
}

}  // namespace pling::net
