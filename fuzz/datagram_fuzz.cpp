// SPDX-License-Identifier: GPL-3.0-or-later
// The messenger datagram decoder on arbitrary bytes: it must stay within the
// datagram, and re-encoding what it decoded must give back the datagram up to the
// end of its third field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "mailslot/lxMailSlot.h"
#include "platform/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that any read past the end is caught.
  std::vector<char> bytes(data, data + size);
  const std::string_view datagram(bytes.data(), bytes.size());
  const auto fields = pling::mailslot::DecodeMessengerDatagram(datagram);

  const std::string encoded =
      pling::mailslot::EncodeMessengerDatagram(fields.sender, fields.receiver, fields.text);
  // What the decoder took is a prefix of the datagram (plus the zeros the encoder
  // adds where the datagram had ended early).
  std::size_t zeros = 0;
  for (char c : datagram) zeros += c == '\0' ? 1u : 0u;
  if (zeros >= 2) {
    if (datagram.substr(0, encoded.size()) != encoded) std::abort();
  }
  if (fields.sender.size() + fields.receiver.size() + fields.text.size() > size) std::abort();

  // The code page conversion is a bijection: there and back gives the same bytes.
  std::string text = fields.text;
  pling::platform::OemToChar(text);
  pling::platform::CharToOem(text);
  if (text != fields.text) std::abort();
  return 0;
}
