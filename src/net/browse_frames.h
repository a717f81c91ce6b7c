// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The browse protocol's frames, as a workstation sends and hears them: mailslot
// writes to "\MAILSLOT\BROWSE" whose first data byte is the opcode. A host
// announces itself (HostAnnouncement) to the workgroup's <1D> name; a local
// master announces itself (LocalMasterAnnouncement) and its workgroup
// (DomainAnnouncement, whose name is the workgroup's and whose comment names the
// master); an AnnouncementRequest asks every host to announce itself again.
//
// Plain byte codecs, no state. The announcement layout (little-endian):
//   opcode, update count, periodicity (ms, 4 bytes), name (16 bytes, NUL
//   padded), OS major, OS minor, server type (4 bytes), browser version major,
//   minor, signature (2 bytes), comment (NUL-terminated)
// Every parser takes arbitrary bytes and answers nullopt for what it does not
// accept; it never reads outside what it is given.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pling::net {

inline constexpr std::string_view kBrowseMailslot = "\\MAILSLOT\\BROWSE";

enum class TBrowseOpcode : std::uint8_t {
  HostAnnouncement = 0x01,
  AnnouncementRequest = 0x02,
  Election = 0x08,
  DomainAnnouncement = 0x0C,
  LocalMasterAnnouncement = 0x0F,
};

// Server type bits.
inline constexpr std::uint32_t kServerWorkstation = 0x00000001;
inline constexpr std::uint32_t kServerServer = 0x00000002;
inline constexpr std::uint32_t kServerNt = 0x00001000;
inline constexpr std::uint32_t kServerPotentialBrowser = 0x00010000;
inline constexpr std::uint32_t kServerMasterBrowser = 0x00040000;
inline constexpr std::uint32_t kServerDomainEnum = 0x80000000;

// The longest comment a frame carries (without its NUL); longer ones are cut.
inline constexpr std::size_t kMaxBrowseComment = 43;
// A name in a frame: at most 15 bytes.
inline constexpr std::size_t kMaxBrowseName = 15;
inline constexpr std::size_t kAnnouncementFixedSize = 32;  // up to the comment

// A HostAnnouncement, LocalMasterAnnouncement or DomainAnnouncement. Names and
// comments are bytes in the OEM code page, as they came.
struct TAnnouncement {
  TBrowseOpcode opcode = TBrowseOpcode::HostAnnouncement;
  std::uint8_t updateCount = 0;
  std::uint32_t periodicityMs = 0;
  std::string name;  // the host's (the workgroup's in a DomainAnnouncement)
  std::uint8_t osMajor = 0;
  std::uint8_t osMinor = 0;
  std::uint32_t serverType = 0;
  std::uint8_t browserMajor = 15;
  std::uint8_t browserMinor = 1;
  std::uint16_t signature = 0xAA55;
  std::string comment;  // the master's name in a DomainAnnouncement

  friend bool operator==(const TAnnouncement&, const TAnnouncement&) = default;
};

struct TAnnouncementRequest {
  std::string responseName;  // at most 15 bytes; may be empty

  friend bool operator==(const TAnnouncementRequest&, const TAnnouncementRequest&) = default;
};

// The opcode of a browse frame (its first byte), if any.
std::optional<std::uint8_t> BrowseOpcode(std::string_view data);

// `comment` as a frame carries it: up to its first NUL, at most
// kMaxBrowseComment bytes.
std::string FitBrowseComment(std::string_view comment);

// The frame for `a`. Throws std::invalid_argument when the name is empty, longer
// than kMaxBrowseName or holds a NUL, or the opcode is not an announcement's;
// the comment is fitted (FitBrowseComment).
std::string BuildAnnouncement(const TAnnouncement& a);
// nullopt for anything but an announcement frame (host, local master, domain)
// with a non-empty name. The name is taken up to its first NUL; the comment up
// to its NUL (or the end of the frame), at most kMaxBrowseComment bytes.
std::optional<TAnnouncement> ParseAnnouncement(std::string_view data);

// Throws std::invalid_argument when the name is longer than kMaxBrowseName or
// holds a NUL.
std::string BuildAnnouncementRequest(const TAnnouncementRequest& r);
std::optional<TAnnouncementRequest> ParseAnnouncementRequest(std::string_view data);

}  // namespace pling::net
