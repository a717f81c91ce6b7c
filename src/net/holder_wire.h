// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What goes over a waiting process's connection to the holder of the ports
// (port_holder.h).
//
// From a waiter, once, as soon as it is connected: its greeting, 'U', a length
// byte (0 to 15) and its user's name (OEM code page, upper case, the 15 bytes a
// NetBIOS name has room for), whose messenger name (USER<03>) the holder claims
// while a program of that user waits on it. A name that is empty, or has a
// control character or '*', is claimed for nobody. Nothing else: a waiter that
// sends more, or something else, is closed.
//
// From the holder: records of kHolderRecordSize bytes, a type byte and four more.
// A waiter skips records of types it does not know.
//   'L' and an IPv4 address (big-endian): a sender on the network whose
//       datagrams this machine drops (sender_limits.h).
//   'N' and four zero bytes: the waiter's messenger name is settled (held, or
//       held by another machine), or is one the holder claims anyway or claims
//       for nobody; from then on other machines reach the waiter through it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pling::net {

inline constexpr std::size_t kHolderRecordSize = 5;
inline constexpr char kLimitedRecord = 'L';
inline constexpr char kNamesRecord = 'N';

// The greeting of a waiter whose user is `userName` (cut to 15 bytes).
std::string WaiterGreeting(std::string_view userName);

// Reads a waiter's greeting from what it sent so far (`bytes`, from its first).
// Complete: `userName` is the name to claim, empty when none is.
enum class TGreeting { Incomplete, Complete, Bad };
TGreeting ReadWaiterGreeting(std::string_view bytes, std::string& userName);

// A record from the holder.
std::string HolderRecord(char type, std::uint32_t value);

}  // namespace pling::net
