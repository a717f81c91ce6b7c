// SPDX-License-Identifier: GPL-3.0-or-later
// What a waiting process sends the holder of the ports (holder_wire.h), as the
// holder reads it: whatever the bytes, a greeting is taken only when it is whole
// and nothing follows it, its name is one the greeting of that name carries back
// byte for byte, and every shorter part of a good greeting is still incomplete.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/holder_wire.h"

namespace {

using namespace pling::net;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size);
  std::string name;
  const TGreeting read = ReadWaiterGreeting(bytes, name);
  if (read == TGreeting::Complete) {
    Check(!name.empty() && name.size() <= 15);
    Check(WaiterGreeting(name) == bytes);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      std::string part;
      Check(ReadWaiterGreeting(bytes.substr(0, cut), part) == TGreeting::Incomplete);
    }
  } else {
    Check(name.empty());
  }
  // The input as a user's name: a greeting made of it reads back as that name.
  const std::string greeting = WaiterGreeting(bytes);
  if (!greeting.empty()) {
    std::string back;
    Check(ReadWaiterGreeting(greeting, back) == TGreeting::Complete && back == bytes);
  }
  return 0;
}
