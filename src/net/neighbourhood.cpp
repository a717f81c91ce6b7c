// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/neighbourhood.h"

#include <algorithm>

namespace pling::net {

namespace {

constexpr std::chrono::milliseconds kShortestLifetime = std::chrono::minutes(1);
constexpr std::chrono::milliseconds kLongestLifetime = std::chrono::minutes(30);
// The most messenger names kept for one machine (a status answer lists a few).
constexpr std::size_t kMaxPeople = 16;

// Workgroups and hosts live side by side: a workgroup's key starts with 0x01.
std::string Key(TBrowseOpcode kind, std::string_view name) {
  std::string key;
  if (kind == TBrowseOpcode::DomainAnnouncement) key.push_back('\x01');
  key += name;
  return key;
}

}  // namespace

TNeighbourhood::TNeighbourhood(TNeighbourhoodLimits limits) : FLimits(limits), FRate(limits.rate) {}

std::chrono::milliseconds TNeighbourhood::Lifetime(std::uint32_t periodMs) {
  return std::clamp(std::chrono::milliseconds(std::int64_t{periodMs} * 3), kShortestLifetime,
                    kLongestLifetime);
}

void TNeighbourhood::SetChanged(std::function<void()> changed) {
  std::lock_guard<std::mutex> guard(FLock);
  FChanged = std::move(changed);
}

void TNeighbourhood::SetLive(bool live) {
  std::function<void()> changed;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FLive == live) return;
    FLive = live;
    ++FGeneration;
    changed = FChanged;
  }
  if (changed) changed();
}

bool TNeighbourhood::Live() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLive;
}

void TNeighbourhood::SetFull(std::function<void(const std::string&)> full) {
  std::lock_guard<std::mutex> guard(FLock);
  FFull = std::move(full);
}

void TNeighbourhood::RemoveLocked(std::unordered_map<std::string, TEntry>::iterator it) {
  FExpiries.erase(it->second.expiry);
  const auto source = FBySource.find(it->second.address);
  if (source != FBySource.end()) {
    std::erase(source->second, it->first);
    if (source->second.empty()) FBySource.erase(source);
  }
  FEntries.erase(it);
}

void TNeighbourhood::ExpireLocked(TClock::time_point now) {
  while (!FExpiries.empty() && FExpiries.begin()->first <= now) {
    const auto it = FEntries.find(FExpiries.begin()->second);
    if (it == FEntries.end()) {
      FExpiries.erase(FExpiries.begin());  // cannot happen; never loop on it
      continue;
    }
    RemoveLocked(it);
    ++FGeneration;
  }
}

TNeighbourhood::THearing TNeighbourhood::Hear(const TAnnouncement& a, std::string_view workgroup,
                                              std::uint32_t address, TClock::time_point now) {
  THearing hearing;
  std::function<void()> changed;
  std::function<void(const std::string&)> full;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FRate.Take(address, now) != TSenderVerdict::Take) return hearing;
    ExpireLocked(now);
    const std::string key = Key(a.opcode, a.name);
    auto it = FEntries.find(key);
    if (a.opcode != TBrowseOpcode::DomainAnnouncement && a.serverType == 0) {
      // It stops: gone at once, when it is the machine we heard there.
      if (it != FEntries.end() && it->second.address == address) {
        RemoveLocked(it);
        ++FGeneration;
        changed = FChanged;
      }
      hearing.taken = true;
    } else {
      if (it != FEntries.end() && it->second.address != address) {
        // Heard at another address now: it moved (its people are asked again).
        RemoveLocked(it);
        it = FEntries.end();
      }
      if (it == FEntries.end()) {
        std::vector<std::string>& fromSource = FBySource[address];
        if (fromSource.size() >= FLimits.perSource && !fromSource.empty()) {
          const auto first = FEntries.find(fromSource.front());
          if (first != FEntries.end()) {
            RemoveLocked(first);
          } else {
            fromSource.erase(fromSource.begin());
          }
        }
        if (FEntries.size() >= FLimits.machines && !FExpiries.empty()) {
          RemoveLocked(FEntries.find(FExpiries.begin()->second));
          if (FDropped++ == 0) full = FFull;
        }
        TEntry entry;
        auto machine = std::make_shared<TMachine>();
        machine->name = a.name;
        machine->address = address;
        entry.machine = std::move(machine);
        entry.address = address;
        entry.expiry = FExpiries.end();
        it = FEntries.emplace(key, std::move(entry)).first;
        FBySource[address].push_back(key);
      } else {
        FExpiries.erase(it->second.expiry);
      }
      TEntry& entry = it->second;
      const TMachine& was = *entry.machine;
      const bool same = was.comment == a.comment && was.type == a.serverType &&
                        was.workgroup == workgroup && was.kind == a.opcode &&
                        was.periodMs == a.periodicityMs;
      if (!same) {
        auto m = std::make_shared<TMachine>(was);
        m->comment = a.comment;
        m->type = a.serverType;
        m->workgroup = std::string(workgroup);
        m->kind = a.opcode;
        m->periodMs = a.periodicityMs;
        entry.machine = std::move(m);
      }
      entry.heard = now;
      entry.expiry = FExpiries.emplace(now + Lifetime(a.periodicityMs), key);
      if (a.opcode != TBrowseOpcode::DomainAnnouncement &&
          (entry.peopleAsked == TClock::time_point{} ||
           now - entry.peopleAsked >= (entry.machine->peopleKnown && !entry.machine->people.empty()
                                           ? TClock::duration(kPeopleRefresh)
                                           : TClock::duration(kPeopleRetry)))) {
        entry.peopleAsked = now;
        hearing.askPeople = true;
      }
      hearing.taken = true;
      if (!same || hearing.askPeople) {
        ++FGeneration;
        changed = FChanged;
      }
    }
  }
  if (full) {
    full("The network neighbourhood holds " + std::to_string(FLimits.machines) +
         " machines; those that would leave first make room for new ones.");
  }
  if (changed) changed();
  return hearing;
}

void TNeighbourhood::SetPeople(std::string_view name, std::uint32_t address,
                               std::vector<std::string> people) {
  std::function<void()> changed;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const auto it = FEntries.find(Key(TBrowseOpcode::HostAnnouncement, name));
    if (it == FEntries.end() || it->second.address != address) return;
    if (people.size() > kMaxPeople) people.resize(kMaxPeople);
    const TMachine& was = *it->second.machine;
    if (was.peopleKnown && was.people == people) return;
    auto m = std::make_shared<TMachine>(was);
    m->people = std::move(people);
    m->peopleKnown = true;
    it->second.machine = std::move(m);
    ++FGeneration;
    changed = FChanged;
  }
  if (changed) changed();
}

std::vector<TMachine> TNeighbourhood::Machines(TClock::time_point now) {
  std::vector<std::pair<std::shared_ptr<const TMachine>, TClock::time_point>> shared;
  std::function<void()> changed;
  {
    // Only references are taken under the lock: hearing waits as little as it can.
    std::lock_guard<std::mutex> guard(FLock);
    const std::uint64_t before = FGeneration;
    ExpireLocked(now);
    if (FGeneration != before) changed = FChanged;
    shared.reserve(FEntries.size());
    for (const auto& [key, entry] : FEntries) shared.emplace_back(entry.machine, entry.heard);
  }
  std::vector<TMachine> machines;
  machines.reserve(shared.size());
  for (const auto& [machine, heard] : shared) {
    machines.push_back(*machine);
    machines.back().ageSeconds = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(now - heard).count());
  }
  shared.clear();
  std::sort(machines.begin(), machines.end(), [](const TMachine& a, const TMachine& b) {
    const bool aGroup = a.kind == TBrowseOpcode::DomainAnnouncement;
    const bool bGroup = b.kind == TBrowseOpcode::DomainAnnouncement;
    return aGroup != bGroup ? bGroup : a.name < b.name;
  });
  if (changed) changed();
  return machines;
}

std::optional<TNeighbourhood::TClock::time_point> TNeighbourhood::NextExpiry() const {
  std::lock_guard<std::mutex> guard(FLock);
  if (FExpiries.empty()) return std::nullopt;
  return FExpiries.begin()->first;
}

std::size_t TNeighbourhood::Size() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FEntries.size();
}

std::uint64_t TNeighbourhood::Generation() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FGeneration;
}

std::uint64_t TNeighbourhood::DroppedForRoom() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDropped;
}

// The encoding: "PLNB1", a 4-byte count, then per machine its numbers (kind,
// type, address, period, age: 1 + 4 * 4 bytes, big-endian), a flag byte
// (people known), and its texts, each a 2-byte length and the bytes: name,
// comment, workgroup, a 1-byte count of people and their names.
namespace {

constexpr std::string_view kMagic = "PLNB1";
constexpr std::size_t kMaxText = 255;

void PutBe32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void PutText(std::string& out, std::string_view text) {
  text = text.substr(0, kMaxText);
  out.push_back(static_cast<char>(text.size() >> 8));
  out.push_back(static_cast<char>(text.size()));
  out += text;
}

class TReader {
 public:
  explicit TReader(std::string_view bytes) : FBytes(bytes) {}
  bool Byte(std::uint8_t& v) {
    if (FAt + 1 > FBytes.size()) return false;
    v = static_cast<std::uint8_t>(FBytes[FAt++]);
    return true;
  }
  bool Be32(std::uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
      std::uint8_t b = 0;
      if (!Byte(b)) return false;
      v = v << 8 | b;
    }
    return true;
  }
  bool Text(std::string& text) {
    std::uint8_t high = 0, low = 0;
    if (!Byte(high) || !Byte(low)) return false;
    const std::size_t size = std::size_t{high} << 8 | low;
    if (size > kMaxText || FBytes.size() - FAt < size) return false;
    text.assign(FBytes.substr(FAt, size));
    FAt += size;
    return true;
  }
  bool Done() const { return FAt == FBytes.size(); }
  std::size_t Left() const { return FBytes.size() - FAt; }

 private:
  std::string_view FBytes;
  std::size_t FAt = 0;
};

bool KnownKind(std::uint8_t kind) {
  return kind == static_cast<std::uint8_t>(TBrowseOpcode::HostAnnouncement) ||
         kind == static_cast<std::uint8_t>(TBrowseOpcode::LocalMasterAnnouncement) ||
         kind == static_cast<std::uint8_t>(TBrowseOpcode::DomainAnnouncement);
}

}  // namespace

std::string EncodeMachines(const std::vector<TMachine>& machines) {
  std::string out(kMagic);
  PutBe32(out, static_cast<std::uint32_t>(machines.size()));
  for (const TMachine& m : machines) {
    out.push_back(static_cast<char>(m.kind));
    PutBe32(out, m.type);
    PutBe32(out, m.address);
    PutBe32(out, m.periodMs);
    PutBe32(out, m.ageSeconds);
    out.push_back(m.peopleKnown ? '\1' : '\0');
    PutText(out, m.name);
    PutText(out, m.comment);
    PutText(out, m.workgroup);
    const std::size_t people = std::min<std::size_t>(m.people.size(), kMaxText);
    out.push_back(static_cast<char>(people));
    for (std::size_t i = 0; i < people; ++i) PutText(out, m.people[i]);
  }
  return out;
}

std::optional<std::vector<TMachine>> DecodeMachines(std::string_view bytes) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  TReader reader(bytes.substr(kMagic.size()));
  std::uint32_t count = 0;
  if (!reader.Be32(count)) return std::nullopt;
  // Each machine takes at least 24 bytes: a count larger than that could hold
  // is refused before anything is reserved.
  if (count > reader.Left() / 24) return std::nullopt;
  std::vector<TMachine> machines(count);
  for (TMachine& m : machines) {
    std::uint8_t kind = 0, known = 0, people = 0;
    if (!reader.Byte(kind) || !KnownKind(kind) || !reader.Be32(m.type) || !reader.Be32(m.address) ||
        !reader.Be32(m.periodMs) || !reader.Be32(m.ageSeconds) || !reader.Byte(known) ||
        known > 1 || !reader.Text(m.name) || !reader.Text(m.comment) || !reader.Text(m.workgroup) ||
        !reader.Byte(people)) {
      return std::nullopt;
    }
    m.kind = static_cast<TBrowseOpcode>(kind);
    m.peopleKnown = known == 1;
    m.people.resize(people);
    for (std::string& person : m.people) {
      if (!reader.Text(person)) return std::nullopt;
    }
  }
  if (!reader.Done()) return std::nullopt;
  return machines;
}

}  // namespace pling::net
