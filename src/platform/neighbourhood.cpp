// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/neighbourhood.h"

#include <algorithm>
#include <utility>

#include "net/browse_frames.h"
#include "net/neighbourhood_share.h"
#include "net/netbios.h"
#include "platform/codepage.h"
#include "platform/network.h"

namespace pling::platform {

namespace {

std::string Ansi(std::string oem) {
  OemToChar(oem);
  return oem;
}

}  // namespace

std::string DefaultBrowseComment(std::string_view user) {
  // An en dash (0x96 in the Western, Cyrillic and Central European code pages).
  return "Pling \x96 " + std::string(user);
}

namespace {

// `ansi` in the OEM code page, whole.
std::string WholeCommentToOem(std::string_view ansi) {
  // Dashes, quotes and the ellipsis have no place in the OEM code pages: they go
  // as the plain characters peers show, not as whatever byte stands in for them.
  std::string plain;
  for (const char c : ansi) {
    switch (static_cast<unsigned char>(c)) {
      case 0x96:
      case 0x97:
        plain += '-';
        break;
      case 0x91:
      case 0x92:
        plain += '\'';
        break;
      case 0x93:
      case 0x94:
        plain += '"';
        break;
      case 0x85:
        plain += "...";
        break;
      default:
        plain += c;
    }
  }
  CharToOem(plain);
  return plain;
}

}  // namespace

std::string CommentToOem(std::string ansi) {
  return net::FitBrowseComment(WholeCommentToOem(ansi));
}

bool CommentFits(std::string_view ansi) {
  const std::string oem = WholeCommentToOem(ansi);
  return oem == net::FitBrowseComment(oem);
}

std::vector<TNeighbour> ToNeighbours(const std::vector<net::TMachine>& machines) {
  std::vector<TNeighbour> neighbours;
  neighbours.reserve(machines.size());
  for (const net::TMachine& m : machines) {
    TNeighbour n;
    n.name = Ansi(m.name);
    n.comment = Ansi(m.comment);
    n.workgroup = Ansi(m.workgroup);
    n.type = m.type;
    n.address = m.address;
    n.workgroupEntry = m.kind == net::TBrowseOpcode::DomainAnnouncement;
    n.ageSeconds = m.ageSeconds;
    for (const std::string& person : m.people) n.people.push_back(Ansi(person));
    n.peopleKnown = m.peopleKnown;
    neighbours.push_back(std::move(n));
  }
  return neighbours;
}

TNeighbourhoodRead ReadNeighbourhood() {
  TNeighbourhoodRead read;
  if (!NetworkEnabled()) {
    read.problem = "The network is off, so no other computer is heard.";
    return read;
  }
  if (const auto held = HeldNeighbourhood()) {
    read.machines = ToNeighbours(held->Machines(net::TNeighbourhood::TClock::now()));
    return read;
  }
  if (const auto fetched = net::FetchNeighbourhood()) {
    read.machines = ToNeighbours(*fetched);
    return read;
  }
  read.problem =
      "No program on this computer listens to the network now, so no other computer is heard.";
  return read;
}

std::vector<TPerson> PeopleOf(const std::vector<TNeighbour>& machines) {
  std::vector<TPerson> people;
  for (const TNeighbour& m : machines) {
    for (const std::string& person : m.people) people.push_back({person, m.name, m.address});
  }
  std::stable_sort(people.begin(), people.end(),
                   [](const TPerson& a, const TPerson& b) { return a.name < b.name; });
  return people;
}

TReach TNeighbourhoodSnapshot::Reach(std::string_view name) const {
  const std::string upper = net::NetBiosUpper(name);
  if (now.contains(upper)) return TReach::Reachable;
  if (ever.contains(upper)) return TReach::Unreachable;
  return TReach::Unknown;
}

std::vector<std::string> TNeighbourhoodSnapshot::Names() const {
  std::vector<std::string> names;
  for (const TNeighbour& m : machines) {
    if (m.workgroupEntry) continue;
    names.push_back(m.name);
    for (const std::string& person : m.people) {
      if (net::NetBiosUpper(person) != net::NetBiosUpper(m.name)) names.push_back(person);
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::shared_ptr<const TNeighbourhoodSnapshot> MakeSnapshot(TNeighbourhoodRead read,
                                                           const TNeighbourhoodSnapshot* previous) {
  auto snapshot = std::make_shared<TNeighbourhoodSnapshot>();
  snapshot->problem = std::move(read.problem);
  snapshot->machines = std::move(read.machines);
  for (const TNeighbour& m : snapshot->machines) {
    if (m.workgroupEntry) continue;
    snapshot->now.insert(net::NetBiosUpper(m.name));
    for (const std::string& person : m.people) snapshot->now.insert(net::NetBiosUpper(person));
  }
  if (previous != nullptr && previous->ever.size() < kMaxRemembered)
    snapshot->ever = previous->ever;
  snapshot->ever.insert(snapshot->now.begin(), snapshot->now.end());
  return snapshot;
}

void TNeighbourhoodFollower::TState::Notify() {
  std::lock_guard<std::mutex> guard(lock);
  changed = true;
  wake.notify_all();
}

TNeighbourhoodFollower::TNeighbourhoodFollower(TPublish publish, std::chrono::milliseconds spacing,
                                               std::chrono::milliseconds poll)
    : FPublish(std::move(publish)), FSpacing(spacing), FPoll(poll) {
  SetNeighbourhoodWatcher([shared = FState] { shared->Notify(); });
  FThread = std::thread([this] { Run(); });
}

TNeighbourhoodFollower::~TNeighbourhoodFollower() {
  SetNeighbourhoodWatcher({});
  {
    std::lock_guard<std::mutex> guard(FState->lock);
    FState->stop = true;
    FState->wake.notify_all();
  }
  FThread.join();
}

void TNeighbourhoodFollower::Refresh() {
  FState->Notify();
}

void TNeighbourhoodFollower::Run() {
  TState& state = *FState;
  // The one published before the last is kept as well: the caller lets go of it
  // when it takes the last, and it is freed here, not on the caller's thread.
  std::shared_ptr<const TNeighbourhoodSnapshot> last, before;
  std::unique_lock<std::mutex> guard(state.lock);
  while (!state.stop) {
    state.changed = false;
    guard.unlock();
    const std::shared_ptr<net::TNeighbourhood> held = HeldNeighbourhood();
    before = std::exchange(last, MakeSnapshot(ReadNeighbourhood(), last.get()));
    FPublish(last);
    const auto expiry = held ? held->NextExpiry() : std::nullopt;
    // Another process holds the ports: its list is read now and then.
    const bool poll = !held && NetworkEnabled();
    guard.lock();
    // Changes that come close together are taken together.
    state.wake.wait_for(guard, FSpacing, [&] { return state.stop; });
    const auto woken = [&] { return state.stop || state.changed; };
    if (poll) {
      state.wake.wait_for(guard, FPoll, woken);
    } else if (expiry) {
      state.wake.wait_until(guard, *expiry + std::chrono::milliseconds(1), woken);
    } else {
      state.wake.wait(guard, woken);
    }
  }
}

}  // namespace pling::platform
