// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing and reading the fixed-size integers of the NetBIOS packets: the name
// and datagram services are big-endian, the SMB part little-endian. Readers
// take an offset the caller has checked to lie inside the bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pling::net::bytes {

inline void Put8(std::string& out, std::uint8_t v) {
  out.push_back(static_cast<char>(v));
}

inline void PutBe16(std::string& out, std::uint16_t v) {
  Put8(out, static_cast<std::uint8_t>(v >> 8));
  Put8(out, static_cast<std::uint8_t>(v));
}

inline void PutBe32(std::string& out, std::uint32_t v) {
  PutBe16(out, static_cast<std::uint16_t>(v >> 16));
  PutBe16(out, static_cast<std::uint16_t>(v));
}

inline std::uint8_t Get8(std::string_view p, std::size_t at) {
  return static_cast<std::uint8_t>(p[at]);
}

inline std::uint16_t GetBe16(std::string_view p, std::size_t at) {
  return static_cast<std::uint16_t>(Get8(p, at) << 8 | Get8(p, at + 1));
}

inline std::uint32_t GetBe32(std::string_view p, std::size_t at) {
  return static_cast<std::uint32_t>(GetBe16(p, at)) << 16 | GetBe16(p, at + 2);
}

inline void PutLe16(std::string& out, std::uint16_t v) {
  Put8(out, static_cast<std::uint8_t>(v));
  Put8(out, static_cast<std::uint8_t>(v >> 8));
}

inline void PutLe32(std::string& out, std::uint32_t v) {
  PutLe16(out, static_cast<std::uint16_t>(v));
  PutLe16(out, static_cast<std::uint16_t>(v >> 16));
}

inline std::uint16_t GetLe16(std::string_view p, std::size_t at) {
  return static_cast<std::uint16_t>(Get8(p, at) | Get8(p, at + 1) << 8);
}

inline std::uint32_t GetLe32(std::string_view p, std::size_t at) {
  return static_cast<std::uint32_t>(GetLe16(p, at)) | static_cast<std::uint32_t>(GetLe16(p, at + 2))
                                                          << 16;
}

}  // namespace pling::net::bytes
