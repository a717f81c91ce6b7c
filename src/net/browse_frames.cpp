// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/browse_frames.h"

#include <stdexcept>

#include "net/byte_order.h"

namespace pling::net {

namespace {

using namespace bytes;

constexpr std::size_t kNameField = 16;

bool IsAnnouncement(std::uint8_t opcode) {
  return opcode == static_cast<std::uint8_t>(TBrowseOpcode::HostAnnouncement) ||
         opcode == static_cast<std::uint8_t>(TBrowseOpcode::DomainAnnouncement) ||
         opcode == static_cast<std::uint8_t>(TBrowseOpcode::LocalMasterAnnouncement);
}

void CheckName(std::string_view name) {
  if (name.size() > kMaxBrowseName || name.find('\0') != std::string_view::npos) {
    throw std::invalid_argument("a browse frame's name is longer than 15 bytes or holds a NUL");
  }
}

// Up to the first NUL, at most `limit` bytes.
std::string UpToNul(std::string_view text, std::size_t limit) {
  return std::string(text.substr(0, std::min(text.find('\0'), limit)));
}

}  // namespace

std::optional<std::uint8_t> BrowseOpcode(std::string_view data) {
  if (data.empty()) return std::nullopt;
  return Get8(data, 0);
}

std::string FitBrowseComment(std::string_view comment) {
  return UpToNul(comment, kMaxBrowseComment);
}

std::string BuildAnnouncement(const TAnnouncement& a) {
  if (!IsAnnouncement(static_cast<std::uint8_t>(a.opcode))) {
    throw std::invalid_argument("not an announcement's opcode");
  }
  if (a.name.empty()) throw std::invalid_argument("a browse announcement needs a name");
  CheckName(a.name);
  const std::string comment = FitBrowseComment(a.comment);
  std::string out;
  out.reserve(kAnnouncementFixedSize + comment.size() + 1);
  Put8(out, static_cast<std::uint8_t>(a.opcode));
  Put8(out, a.updateCount);
  PutLe32(out, a.periodicityMs);
  out += a.name;
  out.append(kNameField - a.name.size(), '\0');
  Put8(out, a.osMajor);
  Put8(out, a.osMinor);
  PutLe32(out, a.serverType);
  Put8(out, a.browserMajor);
  Put8(out, a.browserMinor);
  PutLe16(out, a.signature);
  out += comment;
  out.push_back('\0');
  return out;
}

std::optional<TAnnouncement> ParseAnnouncement(std::string_view data) {
  if (data.size() < kAnnouncementFixedSize || !IsAnnouncement(Get8(data, 0))) {
    return std::nullopt;
  }
  TAnnouncement a;
  a.opcode = static_cast<TBrowseOpcode>(Get8(data, 0));
  a.updateCount = Get8(data, 1);
  a.periodicityMs = GetLe32(data, 2);
  a.name = UpToNul(data.substr(6, kNameField), kMaxBrowseName);
  if (a.name.empty()) return std::nullopt;
  a.osMajor = Get8(data, 22);
  a.osMinor = Get8(data, 23);
  a.serverType = GetLe32(data, 24);
  a.browserMajor = Get8(data, 28);
  a.browserMinor = Get8(data, 29);
  a.signature = GetLe16(data, 30);
  a.comment = UpToNul(data.substr(kAnnouncementFixedSize), kMaxBrowseComment);
  return a;
}

std::string BuildAnnouncementRequest(const TAnnouncementRequest& r) {
  CheckName(r.responseName);
  std::string out;
  Put8(out, static_cast<std::uint8_t>(TBrowseOpcode::AnnouncementRequest));
  Put8(out, 0);  // unused
  out += r.responseName;
  out.push_back('\0');
  return out;
}

std::optional<TAnnouncementRequest> ParseAnnouncementRequest(std::string_view data) {
  if (data.size() < 2 ||
      Get8(data, 0) != static_cast<std::uint8_t>(TBrowseOpcode::AnnouncementRequest)) {
    return std::nullopt;
  }
  return TAnnouncementRequest{UpToNul(data.substr(2), kMaxBrowseName)};
}

}  // namespace pling::net
