// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/neighbourhood.h"

#include <algorithm>

#include "net/browse_frames.h"
#include "net/neighbourhood_share.h"
#include "platform/codepage.h"
#include "platform/network.h"

namespace pling::platform {

namespace {

std::string Ansi(std::string oem) {
  OemToChar(oem);
  return oem;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  return upper;
}

}  // namespace

std::string DefaultBrowseComment(std::string_view user) {
  // An en dash (0x96 in the Western, Cyrillic and Central European code pages).
  return "Pling \x96 " + std::string(user);
}

std::string CommentToOem(std::string ansi) {
  CharToOem(ansi);
  return net::FitBrowseComment(ansi);
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

bool TReachability::Update(const std::vector<TNeighbour>& machines) {
  std::set<std::string> now;
  for (const TNeighbour& m : machines) {
    if (m.workgroupEntry) continue;
    now.insert(UpperAscii(m.name));
    for (const std::string& person : m.people) now.insert(UpperAscii(person));
  }
  if (now == FNow) return false;
  FEver.insert(now.begin(), now.end());
  FNow = std::move(now);
  return true;
}

TReach TReachability::Reach(std::string_view name) const {
  const std::string upper = UpperAscii(name);
  if (FNow.contains(upper)) return TReach::Reachable;
  if (FEver.contains(upper)) return TReach::Unreachable;
  return TReach::Unknown;
}

}  // namespace pling::platform
