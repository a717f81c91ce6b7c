// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The network neighbourhood as the window and the command line see it: the
// machines heard on this machine's subnets (net/neighbourhood.h) with their
// texts in the ANSI code page, read in this process while it holds the network
// ports and from the process that holds them otherwise; the people (messenger
// names) on them; and whether a receiver is reachable.
//
// Only what is heard on the local subnets is listed: a machine beyond a router
// (reached through a WINS server) is not, and is neither reachable nor
// unreachable here but unknown.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "net/neighbourhood.h"

namespace pling::platform {

// One machine (or workgroup) heard; texts in the ANSI code page.
struct TNeighbour {
  std::string name;
  std::string comment;  // a workgroup's: its master's name
  std::string workgroup;
  std::uint32_t type = 0;
  std::uint32_t address = 0;  // host byte order
  bool workgroupEntry = false;
  std::uint32_t ageSeconds = 0;
  std::vector<std::string> people;  // its messenger names
  bool peopleKnown = false;
};

struct TNeighbourhoodRead {
  // Empty when the list was read; else one sentence why not (the network is
  // off, no process holds the ports, ...).
  std::string problem;
  std::vector<TNeighbour> machines;
};

// The comment a machine's announcements carry unless the user set one:
// "Pling – USER" (ANSI).
std::string DefaultBrowseComment(std::string_view user);
// The comment as it goes on the wire: OEM code page, cut to 43 bytes.
std::string CommentToOem(std::string ansi);

// The list, read here or from the process that holds the ports.
TNeighbourhoodRead ReadNeighbourhood();
// The same from net's machines (OEM), for callers that hold them.
std::vector<TNeighbour> ToNeighbours(const std::vector<net::TMachine>& machines);

// A messenger name and the machine it is on.
struct TPerson {
  std::string name;
  std::string machine;
  std::uint32_t address = 0;
};
// Every messenger name heard, by name (a name on two machines twice).
std::vector<TPerson> PeopleOf(const std::vector<TNeighbour>& machines);

enum class TReach { Unknown, Reachable, Unreachable };

// Whether a receiver's name is heard on the network: a machine or messenger name
// heard now is reachable; one heard before that is no longer is unreachable;
// any other is unknown (it may be beyond the subnets, or not announce itself).
// Names compare without regard to ASCII case. Not thread-safe.
class TReachability {
 public:
  // Takes the list as heard now; whether any receiver's reach may have changed.
  bool Update(const std::vector<TNeighbour>& machines);
  TReach Reach(std::string_view name) const;

 private:
  std::set<std::string> FNow;
  std::set<std::string> FEver;
};

}  // namespace pling::platform
