// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/holder_receive.h"

#include <algorithm>

namespace pling::net {

namespace {

constexpr std::string_view kMailslotPrefix = "\\MAILSLOT\\";
// The time to live our name answers carry, as Windows gives it.
constexpr std::uint32_t kAnswerTtl = 259200;
// The most names a node status answer lists (see holder_receive.h).
constexpr std::size_t kMaxListedNames = 4;

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char p, char t) { return p == NetBiosUpper(t); });
}

// The address a drop is reported for, if it is to be reported.
std::optional<std::uint32_t> ReportFor(TSenderVerdict verdict, std::uint32_t sender) {
  if (!ToReport(verdict)) return std::nullopt;
  return verdict == TSenderVerdict::DropAllAndReport ? kAllSenders : sender;
}

}  // namespace

THolderNames::THolderNames(std::string_view computerName, std::string_view userName,
                           std::string_view workgroup, THolds holdsName, THolds yieldsName)
    : computer00(TNetBiosName::Make(computerName, 0x00)),
      computer03(TNetBiosName::Make(computerName, 0x03)),
      user03(TNetBiosName::Make(userName, 0x03)),
      workgroup00(TNetBiosName::Make(workgroup, 0x00)),
      holds(std::move(holdsName)),
      yields(std::move(yieldsName)) {}

bool THolderNames::IsOurs(const TNetBiosName& name) const {
  const TNetBiosName upper = name.Upper();
  if (upper == TNetBiosName::Broadcast() || upper == workgroup00) return true;
  if (users && users->Takes(upper)) return true;
  return IsOwn(upper) && !Yields(upper);
}

bool THolderNames::IsOwn(const TNetBiosName& upper) const {
  return upper == computer00 || upper == computer03 || (upper == user03 && !user03.Name().empty());
}

bool THolderNames::HoldsForUser(const TNetBiosName& upper) const {
  return users && upper.Suffix() == 0x03 && users->Holds(upper);
}

bool THolderNames::Answers(const TNetBiosName& name) const {
  const TNetBiosName upper = name.Upper();
  if (upper == workgroup00 || HoldsForUser(upper)) return true;
  return IsOwn(upper) && Holds(upper);
}

std::vector<TStatusEntry> THolderNames::StatusNames() const {
  std::vector<TStatusEntry> names{{computer00, false}, {computer03, false}};
  if (user03 != computer03 && !user03.Name().empty()) names.push_back({user03, false});
  std::erase_if(names, [this](const TStatusEntry& entry) { return !Holds(entry.name); });
  // [users] Then the names held for the users that receive through this holder,
  // as many as the answer has room for.
  if (users) {
    for (const TNetBiosName& name : users->Held()) {
      if (names.size() + 1 >= kMaxListedNames) break;
      const bool listed = std::any_of(names.begin(), names.end(), [&](const TStatusEntry& entry) {
        return entry.name == name;
      });
      if (!listed) names.push_back({name, false});
    }
  }
  if (Holds(workgroup00)) names.push_back({workgroup00, true});
  return names;
}

THolderCounts THolderCounters::Read() const {
  const auto get = [](const std::atomic<std::uint64_t>& value) {
    return value.load(std::memory_order_relaxed);
  };
  return THolderCounts{get(datagrams),   get(delivered),  get(limited),        get(oversized),
                       get(ignored),     get(noMailslot), get(mailslotFull),   get(namePackets),
                       get(nameLimited), get(answers),    get(answersRefused), get(tapped)};
}

THolderReceiver::THolderReceiver(THolderNames names, TSenderLimit limit)
    : FNames(std::move(names)), FDatagramSenders(limit), FNameSenders(limit) {}

bool THolderReceiver::AdmitMessage(std::uint32_t address, TClock::time_point now,
                                   std::optional<std::uint32_t>& report) {
  return Admit(address, now, TSenderWay::Session, report);
}

bool THolderReceiver::Admit(std::uint32_t address, TClock::time_point now, TSenderWay way,
                            std::optional<std::uint32_t>& report) {
  report.reset();
  TSenderVerdict verdict;
  {
    std::lock_guard<std::mutex> guard(FDatagramSendersLock);
    verdict = FDatagramSenders.Take(address, now, way);
  }
  if (Taken(verdict)) return true;
  FCounters.limited.fetch_add(1, std::memory_order_relaxed);
  report = ReportFor(verdict, address);
  return false;
}

std::optional<TLocalMessage> THolderReceiver::TakeDatagram(
    std::string_view packet, TPacketSource from, const std::vector<TInterface>& interfaces,
    TClock::time_point now, std::optional<std::uint32_t>& report, bool truncated) {
  report.reset();
  FCounters.datagrams.fetch_add(1, std::memory_order_relaxed);
  const bool local = IsLocalSender(interfaces, from.address);
  if (!local && !Admit(from.address, now, TSenderWay::Datagram, report)) return std::nullopt;
  if (truncated) {
    FCounters.oversized.fetch_add(1, std::memory_order_relaxed);
    return std::nullopt;
  }
  const auto ignore = [this] {
    FCounters.ignored.fetch_add(1, std::memory_order_relaxed);
    return std::nullopt;
  };
  FDatagram = ParseMailslotDatagram(packet);
  if (FDatagram && FTap && FTap(*FDatagram, from, local)) {
    FCounters.tapped.fetch_add(1, std::memory_order_relaxed);
    return std::nullopt;
  }
  if (!FDatagram || !FNames.IsOurs(FDatagram->destination)) return ignore();
  if (!StartsWithIgnoreCase(FDatagram->mailslot, kMailslotPrefix)) return ignore();
  const std::string_view slot =
      std::string_view(FDatagram->mailslot).substr(kMailslotPrefix.size());
  if (slot.empty()) return ignore();
  // A group or broadcast write from this machine was handed to the local mailslot
  // by its writer already.
  if (FDatagram->type != TDatagramType::DirectUnique && local) return ignore();
  if (FDatagram->data.size() > kMaxMailslotData) {
    FCounters.oversized.fetch_add(1, std::memory_order_relaxed);
    return std::nullopt;
  }
  return TLocalMessage{slot, FDatagram->data};
}

bool THolderReceiver::AdmitNamePacket(TPacketSource from, const std::vector<TInterface>& interfaces,
                                      TClock::time_point now,
                                      std::optional<std::uint32_t>* report) {
  FCounters.namePackets.fetch_add(1, std::memory_order_relaxed);
  if (report != nullptr) report->reset();
  if (IsLocalSender(interfaces, from.address)) return true;
  const TSenderVerdict verdict = FNameSenders.Take(from.address, now);
  if (Taken(verdict)) return true;
  FCounters.nameLimited.fetch_add(1, std::memory_order_relaxed);
  if (report != nullptr) *report = ReportFor(verdict, from.address);
  return false;
}

std::optional<TNameReply> THolderReceiver::AnswerNamePacket(
    std::string_view packet, TPacketSource from, const std::vector<TInterface>& interfaces) {
  std::optional<std::string> answer;
  if (const std::optional<TStatusQuery> status = ParseStatusQuery(packet)) {
    // Asked for this machine's names ("*", or one of them): all of them.
    const TNetBiosName name = status->name.Upper();
    if (name != TNetBiosName::Broadcast() && !FNames.Answers(name)) return std::nullopt;
    answer = BuildStatusAnswer(TStatusAnswer{status->id, status->name, FNames.StatusNames()});
  } else if (const std::optional<TNameQuery> query = ParseNameQuery(packet)) {
    const TNetBiosName name = query->name.Upper();
    const bool group = name == FNames.workgroup00;
    if (!FNames.HoldsForUser(name)) {  // [users]
      if (!group && !FNames.IsOwn(name)) return std::nullopt;
      if (!FNames.Holds(name)) return std::nullopt;  // [names]
    }
    const std::uint32_t address = SourceAddressFor(interfaces, from.address);
    if (address == 0) return std::nullopt;
    answer = BuildNameAnswer(TNameAnswer{query->id, query->name, group, kAnswerTtl, address});
  } else {
    return std::nullopt;
  }
  if (from.port == 0 || !MayAnswer(interfaces, from.address)) {
    FCounters.answersRefused.fetch_add(1, std::memory_order_relaxed);
    return std::nullopt;
  }
  FCounters.answers.fetch_add(1, std::memory_order_relaxed);
  return TNameReply{std::move(*answer), from};
}

}  // namespace pling::net
