// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The WINS server (a NetBIOS name server) as a client uses it: where it is
// configured in the Samba configuration, how its address is found, and how a
// name is looked up with it (a unicast query, asked before the broadcast one).
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/resolver.h"

namespace pling::net {

// Look-ups with the server: three tries 500 ms apart. A server that let a
// look-up go unanswered is not asked again for a while: kServerSilentFirst, and
// twice as long each time it stays silent, up to kServerSilentLongest.
inline constexpr int kServerQueryTries = 3;
inline constexpr std::chrono::milliseconds kServerQueryInterval{500};
inline constexpr std::chrono::seconds kServerSilentFirst{30};
inline constexpr std::chrono::seconds kServerSilentLongest{600};

// The servers that `wins server` in the [global] section of a Samba
// configuration names, in its order, separated by one space (the setting may
// separate them by spaces, commas or semicolons, each maybe with a "tag:" in
// front); empty when it names none.
std::string ParseWinsServer(std::string_view configText);
// The servers of a setting such as ParseWinsServer gives (or a user types), in
// order, without tags and repeats. They are asked in that order: the next when
// one does not answer.
std::vector<std::string> WinsServerList(std::string_view setting);
// ParseWinsServer of the file at `path`; empty when it cannot be read.
std::string ReadWinsServer(const std::string& path);

// The server's IPv4 address (host byte order): `server` itself when it is one
// (dotted quad), else what the host's resolver gives for it within `timeout`.
std::optional<std::uint32_t> WinsServerAddress(const std::string& server,
                                               std::chrono::milliseconds timeout);

// What the server said about a name.
enum class TServerAnswer { Found, Unknown, Silent };

// Asks the server at `address` for `machine` (OEM upper case, at most 15 bytes)
// by unicast queries for NAME<03> and NAME<00> through `channel`, as
// QueryNetBiosName asks a subnet. Found fills `found`; Unknown: the server
// answered that it knows neither name; Silent: it did not answer.
TServerAnswer QueryNameServer(std::string_view machine, std::uint32_t address,
                              INameQueryChannel& channel, TResolved& found);

}  // namespace pling::net
