// SPDX-License-Identifier: GPL-3.0-or-later
// What a waiting process sends the holder of the ports (holder_wire.h), as the
// holder reads it: whatever the bytes, a greeting is taken only when it is whole
// and nothing follows it, the name it yields (if any) is one whose greeting is
// those bytes, every shorter part of a good greeting is still incomplete, and a
// user's name comes back as its first 15 bytes or as no name at all.
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
    Check(name.size() <= 15);
    if (!name.empty()) Check(WaiterGreeting(name) == bytes);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      std::string part;
      Check(ReadWaiterGreeting(bytes.substr(0, cut), part) == TGreeting::Incomplete);
    }
  } else {
    Check(name.empty());
  }
  // The input as a user's name: a greeting made of it reads back as the name's
  // first 15 bytes, or as none.
  const std::string greeting = WaiterGreeting(bytes);
  std::string back;
  Check(ReadWaiterGreeting(greeting, back) == TGreeting::Complete);
  Check(back.empty() || back == bytes.substr(0, 15));
  return 0;
}
