// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The machines this machine hears announce themselves on its subnets (browse
// frames, browse_frames.h), and the messenger names each one holds.
//
// - A machine is known by its name; what it announced last (comment, server
//   type, workgroup, address, when) is kept. A host that announces itself with
//   the server type cleared leaves at once (only when the announcement comes from
//   the address the machine was heard at); the others leave when they have not
//   been heard for three times the period they announced (at least one minute,
//   at most thirty, whatever they claim).
// - Bounded: at most `machines` (10,000) are kept; past that the one that would
//   expire first makes room. Each source address keeps at most `perSource`
//   machines (a host announces itself, a master its workgroup too); a new name
//   from an address at its limit takes the place of the one it announced first.
//   Each address may be heard a limited number of times a second (a token bucket,
//   sender_limits.h); past that its announcements are not taken.
// - Nothing here wakes up: expiry happens when the list is read or changed, and
//   NextExpiry says when the next one is due, for a caller that wants to know.
// Thread-safe: every member may be called from any thread.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net/browse_frames.h"
#include "net/sender_limits.h"

namespace pling::net {

struct TNeighbourhoodLimits {
  std::size_t machines = 10000;
  std::size_t perSource = 8;
  TSenderLimit rate{10, 40, 4096};  // announcements a second, at once, addresses
};

// One machine heard. Names and comments in the OEM code page, as they came.
struct TMachine {
  std::string name;
  std::string comment;
  std::string workgroup;
  std::uint32_t type = 0;
  std::uint32_t address = 0;  // host byte order
  TBrowseOpcode kind = TBrowseOpcode::HostAnnouncement;
  std::uint32_t periodMs = 0;    // as announced
  std::uint32_t ageSeconds = 0;  // since it was last heard (filled in by Machines)
  // Its messenger names (<03>, unique), once a node status answer told them.
  std::vector<std::string> people;
  bool peopleKnown = false;

  friend bool operator==(const TMachine&, const TMachine&) = default;
};

class TNeighbourhood {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TNeighbourhood(TNeighbourhoodLimits limits = {});

  struct THearing {
    bool taken = false;      // within its source's rate, and a machine to keep
    bool askPeople = false;  // its messenger names are to be looked up
  };
  // An announcement from `address` to `workgroup` (a DomainAnnouncement names
  // its own workgroup).
  THearing Hear(const TAnnouncement& a, std::string_view workgroup, std::uint32_t address,
                TClock::time_point now);
  // The messenger names of the machine `name` heard at `address` (nothing when it
  // is not known, or known at another address).
  void SetPeople(std::string_view name, std::uint32_t address, std::vector<std::string> people);

  // The machines not expired at `now`, by name (workgroups after hosts).
  std::vector<TMachine> Machines(TClock::time_point now);
  // When the next machine expires, if any is kept.
  std::optional<TClock::time_point> NextExpiry() const;
  std::size_t Size() const;
  // Grows with every change of the list, so that a reader sees whether to look again.
  std::uint64_t Generation() const;
  // Machines dropped to make room, so far.
  std::uint64_t DroppedForRoom() const;

  // Whether the list is being heard now (the browse service runs in this
  // process); a change of it counts as a change of the list.
  void SetLive(bool live);
  bool Live() const;

  // Called (outside the lock, on the thread that made it) after each change;
  // it must not wait. Set before the first announcement is heard.
  void SetChanged(std::function<void()> changed);
  // Called once, the first time a machine is dropped to make room, with one
  // sentence saying so. Set before the first announcement is heard.
  void SetFull(std::function<void(const std::string&)> full);

  // How long a machine is kept after it was last heard: three times `periodMs`,
  // clamped to the bounds.
  static std::chrono::milliseconds Lifetime(std::uint32_t periodMs);
  // How long messenger names are taken as known before they are asked again.
  static constexpr std::chrono::minutes kPeopleRefresh{10};
  // A machine whose names did not come (the query or its answer was lost), or
  // came without a messenger name (it was asked while still claiming them), is
  // asked again when it is heard after this long.
  static constexpr std::chrono::seconds kPeopleRetry{30};

 private:
  // What a machine announced is shared, never changed in place (a change makes
  // a new one): the list is read under the lock by taking references alone.
  struct TEntry {
    std::shared_ptr<const TMachine> machine;
    std::uint32_t address = 0;
    TClock::time_point heard;
    TClock::time_point peopleAsked{};
    std::multimap<TClock::time_point, std::string>::iterator expiry;
  };
  void RemoveLocked(std::unordered_map<std::string, TEntry>::iterator it);
  void ExpireLocked(TClock::time_point now);
  void Changed(bool notify);

  const TNeighbourhoodLimits FLimits;
  mutable std::mutex FLock;
  std::unordered_map<std::string, TEntry> FEntries;  // by key (see Key in the .cpp)
  std::multimap<TClock::time_point, std::string> FExpiries;
  std::unordered_map<std::uint32_t, std::vector<std::string>> FBySource;  // first heard first
  TSenderLimits FRate;
  std::uint64_t FGeneration = 0;
  std::uint64_t FDropped = 0;
  bool FLive = false;
  std::function<void()> FChanged;
  std::function<void(const std::string&)> FFull;
};

// The list as one process hands it to another on this machine: Encode's bytes
// decode to the same machines. Decode takes arbitrary bytes; nullopt for what
// Encode cannot have made (it never reads outside them).
std::string EncodeMachines(const std::vector<TMachine>& machines);
std::optional<std::vector<TMachine>> DecodeMachines(std::string_view bytes);

}  // namespace pling::net
