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
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
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
// The comment as it goes on the wire: OEM code page, cut to 43 bytes; dashes,
// curly quotes and the ellipsis, which OEM code pages lack, as '-', ', " and ...
std::string CommentToOem(std::string ansi);
// Whether `ansi` goes out whole as a comment (CommentToOem cuts nothing).
bool CommentFits(std::string_view ansi);

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

// The neighbourhood at one moment, ready for the window: the list, and the names
// (machines and messenger names, ASCII upper case) heard now and heard before.
// Immutable once made; shared between threads.
struct TNeighbourhoodSnapshot {
  std::string problem;  // as TNeighbourhoodRead's
  std::vector<TNeighbour> machines;
  std::unordered_set<std::string> now;
  std::unordered_set<std::string> ever;

  // A machine or messenger name heard now is reachable; one heard before that
  // is no longer is unreachable; any other is unknown (it may be beyond the
  // subnets, or not announce itself). Without regard to ASCII case.
  TReach Reach(std::string_view name) const;
  // The names heard now, machines and people, as they came (for completions).
  std::vector<std::string> Names() const;
};

// The snapshot of `read`; `previous` (may be null) gives the names heard before.
// At most kMaxRemembered names are remembered as heard before.
std::shared_ptr<const TNeighbourhoodSnapshot> MakeSnapshot(TNeighbourhoodRead read,
                                                           const TNeighbourhoodSnapshot* previous);
inline constexpr std::size_t kMaxRemembered = 50000;

// Follows the neighbourhood on a thread of its own and hands each new snapshot
// to `publish` (on that thread; it must not wait): at once, then after each
// change, at most every `spacing`. While this process holds the ports the thread
// sleeps until the list changes or a machine in it expires; otherwise it reads
// the list from the holder every `poll`. The work of reading and sorting the
// list is done there, never on the caller's thread.
class TNeighbourhoodFollower {
 public:
  using TPublish = std::function<void(std::shared_ptr<const TNeighbourhoodSnapshot>)>;
  explicit TNeighbourhoodFollower(
      TPublish publish, std::chrono::milliseconds spacing = std::chrono::milliseconds(250),
      std::chrono::milliseconds poll = std::chrono::seconds(10));
  // Stops the thread and waits for it.
  ~TNeighbourhoodFollower();
  TNeighbourhoodFollower(const TNeighbourhoodFollower&) = delete;
  TNeighbourhoodFollower& operator=(const TNeighbourhoodFollower&) = delete;

  // Reads again soon (a receiver was added, the network came on, ...).
  void Refresh();

 private:
  void Run();

  // Shared with the followed list's change callback, which may outlive this.
  struct TState {
    std::mutex lock;
    std::condition_variable wake;
    bool changed = true;
    bool stop = false;
    void Notify();
  };
  const TPublish FPublish;
  const std::chrono::milliseconds FSpacing;
  const std::chrono::milliseconds FPoll;
  const std::shared_ptr<TState> FState = std::make_shared<TState>();
  std::thread FThread;
};

}  // namespace pling::platform
