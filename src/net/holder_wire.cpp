// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/holder_wire.h"

#include <algorithm>

namespace pling::net {

namespace {

constexpr char kGreeting = 'U';
constexpr std::size_t kMaxUserName = 15;

bool Claimable(std::string_view name) {
  return !name.empty() && name.size() <= kMaxUserName &&
         std::none_of(name.begin(), name.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return byte < 0x20 || byte == 0x7F || c == '*';
         });
}

}  // namespace

std::string WaiterGreeting(std::string_view userName) {
  const std::string_view name = userName.substr(0, kMaxUserName);
  std::string greeting{kGreeting, static_cast<char>(name.size())};
  greeting.append(name);
  return greeting;
}

TGreeting ReadWaiterGreeting(std::string_view bytes, std::string& userName) {
  if (bytes.empty()) return TGreeting::Incomplete;
  if (bytes[0] != kGreeting) return TGreeting::Bad;
  if (bytes.size() < 2) return TGreeting::Incomplete;
  const auto length = static_cast<unsigned char>(bytes[1]);
  if (length > kMaxUserName) return TGreeting::Bad;
  if (bytes.size() < 2 + std::size_t{length}) return TGreeting::Incomplete;
  if (bytes.size() > 2 + std::size_t{length}) return TGreeting::Bad;
  const std::string_view name = bytes.substr(2);
  userName = Claimable(name) ? std::string(name) : std::string();
  return TGreeting::Complete;
}

std::string HolderRecord(char type, std::uint32_t value) {
  return std::string{type, static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                     static_cast<char>(value >> 8), static_cast<char>(value)};
}

}  // namespace pling::net
