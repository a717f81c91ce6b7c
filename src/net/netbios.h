// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// NetBIOS over UDP, as Windows networking carries mailslot writes between
// machines: 16-byte names and their 34-byte encoded form, the datagram service
// (UDP 138) with the SMB transaction that writes to a mailslot, and the name
// service's query and positive answer and its node status query and answer
// (UDP 137). Plain byte codecs: no sockets,
// no state. Every parser takes arbitrary bytes and answers nullopt for anything
// it does not accept; it never reads outside the packet it is given.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pling::net {

// The most data bytes one network mailslot write carries; receivers discard
// longer writes, so a sender must not send them.
inline constexpr std::size_t kMaxMailslotData = 424;

inline constexpr std::uint16_t kDatagramPort = 138;
inline constexpr std::uint16_t kNameServicePort = 137;

// The upper case of NetBIOS names, the one rule for all of them: ASCII a-z become
// A-Z, every other byte stays (the OEM letters above 0x7F too: a caller that
// starts from typed text upper-cases those with platform::OemUpperCase first).
// Names that are equal in this case are one name.
constexpr char NetBiosUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string NetBiosUpper(std::string_view text);

// A 16-byte NetBIOS name: 15 bytes of name (upper case, OEM bytes, space padded)
// and a suffix byte (0x00 workstation/group, 0x03 messenger, ...).
struct TNetBiosName {
  std::array<std::uint8_t, 16> bytes{};

  // Upper-cases ASCII a-z only (the caller passes OEM upper case for the other
  // letters) and keeps at most 15 bytes of `name`.
  static TNetBiosName Make(std::string_view name, std::uint8_t suffix);
  // The name that matches every machine: '*' and 15 zero bytes.
  static TNetBiosName Broadcast();
  // This name with its 15 name bytes in NetBiosUpper's case; the suffix stays.
  TNetBiosName Upper() const;

  // The 15 name bytes without trailing spaces and zeros.
  std::string Name() const;
  std::uint8_t Suffix() const { return bytes[15]; }
  // NAME<xx>, the way people write a name with its suffix (for messages and logs).
  std::string ToString() const;

  friend bool operator==(const TNetBiosName&, const TNetBiosName&) = default;
};

// Appends the 34-byte encoded form: the length byte 0x20, each name byte as two
// letters 'A' + nibble, and the empty scope (0x00).
void AppendEncodedName(const TNetBiosName& name, std::string& out);
// Decodes the name at `pos` and advances `pos` past it. Accepts only the 34-byte
// uncompressed form with an empty scope; on failure `pos` is left unchanged.
std::optional<TNetBiosName> DecodeName(std::string_view packet, std::size_t& pos);

enum class TDatagramType : std::uint8_t {
  DirectUnique = 0x10,
  DirectGroup = 0x11,
  Broadcast = 0x12,
};

// One unfragmented NetBIOS datagram carrying a mailslot write.
struct TMailslotDatagram {
  TDatagramType type = TDatagramType::DirectUnique;
  std::uint16_t id = 0;
  std::uint32_t sourceIp = 0;  // host byte order
  std::uint16_t sourcePort = kDatagramPort;
  TNetBiosName source, destination;
  std::string
      mailslot;      // as on the wire, e.g. "\\MAILSLOT\\MESSNGR" (sender passes OEM upper case)
  std::string data;  // the mailslot message, unchanged
  std::uint16_t priority = 0;

  friend bool operator==(const TMailslotDatagram&, const TMailslotDatagram&) = default;
};

// The UDP payload for `d`, the data right after the mailslot name (no padding,
// DataOffset 70 + the name's length). Throws std::invalid_argument when the
// mailslot name holds a NUL byte or the datagram would not fit a UDP packet.
std::string BuildMailslotDatagram(const TMailslotDatagram& d);
// nullopt for a fragment, an error datagram, a malformed packet or anything but a
// single-part mailslot write. Takes the data at DataOffset for DataCount bytes,
// whatever lies between the name and the data.
std::optional<TMailslotDatagram> ParseMailslotDatagram(std::string_view packet);

struct TNameQuery {
  std::uint16_t id = 0;
  bool broadcast = true;
  TNetBiosName name;

  friend bool operator==(const TNameQuery&, const TNameQuery&) = default;
};

struct TNameAnswer {
  std::uint16_t id = 0;
  TNetBiosName name;
  bool group = false;
  std::uint32_t ttl = 0;
  std::uint32_t address = 0;  // host byte order

  friend bool operator==(const TNameAnswer&, const TNameAnswer&) = default;
};

// A 50-byte name query for an NB record: flags 0x0110 (broadcast) or 0x0100.
std::string BuildNameQuery(const TNameQuery& q);
// A 62-byte positive query answer (flags 0x8580) holding one B-node address.
std::string BuildNameAnswer(const TNameAnswer& a);
// nullopt for anything but a name query with one NB/IN question.
std::optional<TNameQuery> ParseNameQuery(std::string_view packet);
// nullopt for anything but a positive NB/IN query answer with an IPv4 address;
// of several addresses the first is taken.
std::optional<TNameAnswer> ParseNameAnswer(std::string_view packet);

// A node status query: which names does the machine at an address hold. Sent
// to that address alone; the question name is normally the broadcast name "*".
struct TStatusQuery {
  std::uint16_t id = 0;
  TNetBiosName name = TNetBiosName::Broadcast();

  friend bool operator==(const TStatusQuery&, const TStatusQuery&) = default;
};

struct TStatusEntry {
  TNetBiosName name;
  bool group = false;

  friend bool operator==(const TStatusEntry&, const TStatusEntry&) = default;
};

// The names a machine holds, in the order it listed them (its statistics are
// not kept).
struct TStatusAnswer {
  std::uint16_t id = 0;
  TNetBiosName name = TNetBiosName::Broadcast();  // the name the query asked about
  std::vector<TStatusEntry> names;

  friend bool operator==(const TStatusAnswer&, const TStatusAnswer&) = default;
};

// The most names one status answer lists (its count is a single byte).
inline constexpr std::size_t kMaxStatusNames = 255;

// A 50-byte NBSTAT/IN query, flags 0x0000.
std::string BuildStatusQuery(const TStatusQuery& q);
// A status answer (flags 0x8400) listing `a.names` as active B-node names,
// followed by 46 zero bytes of statistics. Throws std::invalid_argument for more
// than kMaxStatusNames names.
std::string BuildStatusAnswer(const TStatusAnswer& a);
// nullopt for anything but a query with one NBSTAT/IN question.
std::optional<TStatusQuery> ParseStatusQuery(std::string_view packet);
// nullopt for anything but a positive answer whose NBSTAT/IN record holds all
// the names it counts; the statistics after them may be short or missing.
std::optional<TStatusAnswer> ParseStatusAnswer(std::string_view packet);

// The name a mailslot write to the machine that gave `a` goes to: its first
// unique name with suffix 0x03 (its messenger name), else its first unique name
// with suffix 0x00; nullopt when it lists neither.
std::optional<TNetBiosName> MessengerName(const TStatusAnswer& a);

}  // namespace pling::net
