// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A messenger message: who sent it, whom it is for, and its text. These three
// travel in a mailslot datagram and in a session message alike; they are in the
// OEM code page as they travel and in the ANSI page inside the program (the
// messenger converts them at that boundary).
#include <string>

namespace pling::net {

struct TMessengerMessage {
  std::string sender;
  std::string receiver;
  std::string text;
  friend bool operator==(const TMessengerMessage&, const TMessengerMessage&) = default;
};

}  // namespace pling::net
