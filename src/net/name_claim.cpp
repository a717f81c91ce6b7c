// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/name_claim.h"

#include <arpa/inet.h>

#include <algorithm>
#include <utility>

#include "net/name_packets.h"

namespace pling::net {

namespace {

using TKind = TNameNotice::TKind;

// Machines asked at once to prove they hold one name; more claims are ignored
// until one of them is settled (a flood of forged refusals costs only this much).
constexpr std::size_t kMaxChallenges = 4;

bool SameBase(const TNetBiosName& a, const TNetBiosName& b) {
  return std::equal(a.bytes.begin(), a.bytes.begin() + 15, b.bytes.begin());
}

}  // namespace

std::string AddressText(std::uint32_t address) {
  const in_addr value{htonl(address)};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &value, text, sizeof text);
  return text;
}

std::string TNameNotice::Text() const {
  const bool messenger = !group && name.Suffix() == 0x03;
  const std::string label = messenger || name.Suffix() == 0x00 ? name.Name() : name.ToString();
  const std::string who =
      holder != 0 ? "another computer (" + AddressText(holder) + ")" : "another computer";
  std::string consequence;
  if (messenger) {
    consequence = holder != 0 ? "; messages to " + label + " reach that computer, not this one"
                              : "; messages to " + label + " do not reach this computer";
  }
  const std::string what = group ? "the workgroup name " + label : "the name " + label;
  switch (kind) {
    case TKind::Taken: {
      // Built by appending: GCC 12 at -O3 reports a false overlap (-Wrestrict)
      // for a literal put in front of a temporary string.
      std::string text = "A";
      text.append(who, 1).append(" already holds ").append(what).append(" on the network");
      return text.append(consequence).append(".");
    }
    case TKind::Refused:
      return "The WINS server " + AddressText(from) + " refused " + what +
             (holder != 0 ? ", which " + who + " holds" : std::string()) + consequence + ".";
    case TKind::ServerSilent:
      return "The WINS server " + AddressText(from) +
             " does not answer: this computer's names are known on its own subnet only.";
    case TKind::ServerUnknown:
      return "The WINS server \"" + server +
             "\" cannot be found: this computer's names are known on its own subnet only.";
    case TKind::NoBroadcast:
      return "This computer's network links take no broadcasts (point-to-point links): other "
             "computers find its names, and it theirs, only through a WINS server (setting "
             "WinsServer).";
  }
  return {};
}

std::string TNameNotice::Brief() const {
  // Short enough for the window's status line; the sentence says the rest.
  const std::string label =
      name.Suffix() == 0x03 || name.Suffix() == 0x00 ? name.Name() : name.ToString();
  switch (kind) {
    case TKind::Taken:
      return "Name " + label + " is in use";
    case TKind::Refused:
      return "WINS refused name " + label;
    case TKind::ServerSilent:
      return "WINS server does not answer";
    case TKind::ServerUnknown:
      return "WINS server not found";
    case TKind::NoBroadcast:
      return "No broadcasts: set a WINS server";
  }
  return {};
}

TNameClaim::TNameClaim(TNameClaimConfig config)
    : FConfig(std::move(config)), FNextId(FConfig.firstId) {
  if (FConfig.server != 0) FServers.push_back(FConfig.server);
  for (const std::uint32_t server : FConfig.moreServers) {
    if (server != 0 && std::find(FServers.begin(), FServers.end(), server) == FServers.end()) {
      FServers.push_back(server);
    }
  }
  if (!FServers.empty()) FConfig.server = FServers.front();
  FServerRetry = FConfig.timers.serverRetry;
  for (const TClaimedName& claim : FConfig.names) {
    if (claim.name.Name().empty()) continue;
    const bool known = std::any_of(FEntries.begin(), FEntries.end(),
                                   [&](const TEntry& e) { return e.claim.name == claim.name; });
    if (known) continue;
    TEntry entry;
    entry.claim = claim;
    FEntries.push_back(entry);
  }
}

std::uint16_t TNameClaim::NbFlagsFor(const TEntry& entry) const {
  return NbFlags(entry.claim.group, FConfig.server != 0 ? TNodeType::H : TNodeType::B);
}

void TNameClaim::SendBroadcast(const TEntry& entry, std::uint16_t flags, std::uint16_t id) {
  for (const TInterface& target : FInterfaces) {
    const TNameRequest request{id,
                               static_cast<std::uint16_t>(flags | kNameBroadcast),
                               entry.claim.name,
                               0,
                               NbFlagsFor(entry),
                               target.address};
    FSends.push_back({BuildNameRequest(request), target.broadcast, FConfig.port});
  }
}

void TNameClaim::SendToServer(const TEntry& entry, std::uint16_t flags, std::uint16_t id) {
  const bool release = OpcodeOf(flags) == TNameOpcode::Release;
  const TNameRequest request{
      id, flags, entry.claim.name, release ? 0 : kRequestedTtl, NbFlagsFor(entry), FServerSource};
  FSends.push_back({BuildNameRequest(request), FConfig.server, FConfig.port});
}

void TNameClaim::SendLookup(const TEntry& entry) {
  const std::string query =
      BuildNameQuery(TNameQuery{entry.lookupId, !entry.lookupByServer, entry.claim.name});
  if (entry.lookupByServer) {
    FSends.push_back({query, FConfig.server, FConfig.port});
    return;
  }
  for (const TInterface& target : FInterfaces) {
    FSends.push_back({query, target.broadcast, FConfig.port});
  }
}

void TNameClaim::Challenge(TEntry& entry, std::uint32_t address, TClock::time_point now) {
  if (entry.challenges.size() >= kMaxChallenges) return;
  if (std::any_of(entry.challenges.begin(), entry.challenges.end(),
                  [address](const TEntry::TChallenge& c) { return c.address == address; })) {
    return;
  }
  TEntry::TChallenge& challenge = entry.challenges.emplace_back();
  challenge.address = address;
  challenge.id = NextId();
  challenge.sent = 1;
  challenge.next = now + FConfig.timers.broadcastInterval;
  SendChallenge(challenge, entry);
}

void TNameClaim::SendChallenge(const TEntry::TChallenge& challenge, const TEntry& entry) {
  FSends.push_back({BuildNameQuery(TNameQuery{challenge.id, false, entry.claim.name}),
                    challenge.address, FConfig.port});
}

void TNameClaim::Start(const std::vector<TInterface>& interfaces, TClock::time_point now) {
  if (FStarted) return;
  FStarted = true;
  FInterfaces = BroadcastInterfaces(interfaces);
  for (const std::uint32_t server : FServers) {
    FServerSources.push_back(SourceAddressFor(interfaces, server));
  }
  FServerSource = FServerSources.empty() ? 0 : FServerSources.front();
  const bool linked = std::any_of(interfaces.begin(), interfaces.end(),
                                  [](const TInterface& i) { return !i.loopback; });
  if (FInterfaces.empty() && linked && FConfig.server == 0 && !FEntries.empty()) {
    TNameNotice notice;
    notice.kind = TKind::NoBroadcast;
    FFound.push_back(notice);
  }
  for (TEntry& entry : FEntries) {
    if (FInterfaces.empty()) {
      entry.state = TState::Held;
    } else {
      entry.broadcastId = NextId();
      SendBroadcast(entry, kRegistrationFlags, entry.broadcastId);
      entry.broadcastSent = 1;
      entry.broadcasting = true;
      entry.broadcastNext = now + FConfig.timers.broadcastInterval;
    }
    if (FConfig.server != 0) StartServerRegistration(entry, kRegistrationFlags, now);
  }
  Flush();
}

void TNameClaim::StartServerRegistration(TEntry& entry, std::uint16_t flags,
                                         TClock::time_point now) {
  entry.server = flags == kRefreshFlags ? TServerState::Refreshing : TServerState::Registering;
  entry.serverFlags = flags;
  entry.serverId = NextId();
  entry.serverSent = 1;
  entry.serverNext = now + FConfig.timers.serverInterval;
  SendToServer(entry, flags, entry.serverId);
}

void TNameClaim::Lose(TEntry& entry, TNameNotice notice, TClock::time_point now) {
  entry.state = TState::Lost;
  entry.broadcasting = false;
  entry.challenges.clear();
  if (notice.kind != TKind::Refused && entry.server != TServerState::None &&
      entry.server != TServerState::Silent) {
    // The server must not send others to a name this machine does not answer for.
    SendToServer(entry, kReleaseFlags, NextId());
  }
  entry.server = TServerState::None;
  notice.name = entry.claim.name;
  notice.group = entry.claim.group;
  if (notice.holder != 0) {
    FFound.push_back(notice);
    return;
  }
  // Who holds it: the server knows; on a subnet the holder answers a query.
  entry.lookupByServer = notice.kind == TKind::Refused || FInterfaces.empty();
  entry.pending = notice;
  if (entry.lookupByServer && FConfig.server == 0) {
    Found(entry, 0);
    return;
  }
  entry.lookupId = NextId();
  entry.lookupSent = 1;
  entry.lookupNext = now + (entry.lookupByServer ? FConfig.timers.serverInterval
                                                 : FConfig.timers.broadcastInterval);
  SendLookup(entry);
}

void TNameClaim::Found(TEntry& entry, std::uint32_t holder) {
  if (!entry.pending) return;
  TNameNotice notice = *entry.pending;
  notice.holder = holder;
  FFound.push_back(notice);
  entry.pending.reset();
  entry.lookupSent = 0;
}

void TNameClaim::ServerAnswered(TEntry& entry, std::uint32_t ttl, TClock::time_point now) {
  FServerRetry = FConfig.timers.serverRetry;
  // The server's word makes the name ours at once; the subnet may still object
  // while the broadcasts go on.
  if (entry.state == TState::Registering) entry.state = TState::Held;
  entry.server = TServerState::Registered;
  entry.serverSent = 0;
  const std::chrono::seconds half(static_cast<std::int64_t>(ttl != 0 ? ttl : kRequestedTtl) / 2);
  entry.serverNext = now + std::max<std::chrono::seconds>(half, FConfig.timers.shortestRefresh);
}

void TNameClaim::ServerSilent(TEntry& /*silent*/, TClock::time_point now) {
  // A server that lets one name go unanswered is down for all of them.
  const bool next = FServerIndex + 1 < FServers.size();
  FServerIndex = next ? FServerIndex + 1 : 0;
  FConfig.server = FServers[FServerIndex];
  FServerSource = FServerSources[FServerIndex];
  for (TEntry& entry : FEntries) {
    if (entry.server == TServerState::None || entry.server == TServerState::Releasing) continue;
    if (next) {
      StartServerRegistration(entry, kRegistrationFlags, now);
      continue;
    }
    entry.server = TServerState::Silent;
    entry.serverSent = 0;
    entry.serverNext = now + FServerRetry;
  }
  if (next) return;
  FServerRetry = std::min(FServerRetry * 2, FConfig.timers.serverRetryLongest);
  if (!FServerSilenceTold) {
    FServerSilenceTold = true;
    TNameNotice notice;
    notice.kind = TKind::ServerSilent;
    notice.from = FServers.back();
    FFound.push_back(notice);
  }
}

bool TNameClaim::TakeRequest(std::string_view packet, std::uint32_t from, std::uint16_t port,
                             bool fromHere, TClock::time_point now) {
  const std::optional<TNameRequest> request = ParseNameRequest(packet);
  if (!request) return false;
  const TNameOpcode opcode = request->Opcode();
  // Our own broadcasts come back to us; refreshes and releases of other machines
  // ask nothing of an end node.
  if (fromHere ||
      (opcode != TNameOpcode::Registration && opcode != TNameOpcode::MultiHomedRegistration)) {
    return true;
  }
  const TNetBiosName name = request->name.Upper();
  // An overwrite demand (no recursion desired) says its sender has just taken
  // the name; a registration request, that it is claiming it.
  const bool overwrite = (request->flags & kNameRecursionDesired) == 0;
  for (TEntry& entry : FEntries) {
    if (entry.claim.name != name) continue;
    // A unique name conflicts with every claim; a group name only with a claim of
    // it as a unique name.
    if (request->Group() && entry.claim.group) continue;
    // While our claim is still open, a claim that ended first holds the name, if
    // its sender answers for it.
    if (entry.broadcasting && overwrite) Challenge(entry, from, now);
    // Held (by the server's grant, while the claim may still be open) is defended.
    if (entry.state != TState::Held) continue;
    FSends.push_back({BuildRegistrationRefusal(*request, kRcodeActive), from, port});
    // Two claims that ended at once: the lower address keeps the name.
    if (!entry.broadcasting && overwrite && !entry.claim.group &&
        from < SourceAddressFor(FInterfaces, from)) {
      Challenge(entry, from, now);
    }
  }
  return true;
}

bool TNameClaim::TakeResponse(std::string_view packet, std::uint32_t from, bool fromHere,
                              TClock::time_point now) {
  const std::optional<TNameResponse> response = ParseNameResponse(packet);
  if (!response || response->Opcode() == TNameOpcode::Query) return false;
  const TNameOpcode opcode = response->Opcode();
  for (TEntry& entry : FEntries) {
    const bool serverWaits =
        entry.server == TServerState::Registering || entry.server == TServerState::Refreshing ||
        entry.server == TServerState::Waiting || entry.server == TServerState::Releasing;
    if (serverWaits && response->id == entry.serverId && from == FConfig.server &&
        FConfig.server != 0) {
      if (entry.server == TServerState::Releasing) {
        if (opcode == TNameOpcode::Release) entry.server = TServerState::None;
      } else if (opcode == TNameOpcode::WaitAck) {
        // The server asks the name's present holder first; it answers within the
        // time it gives.
        entry.server = TServerState::Waiting;
        const auto wait =
            response->ttl != 0
                ? std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::seconds(std::min<std::uint32_t>(response->ttl, 3600)))
                : FConfig.timers.serverInterval * FConfig.timers.serverTries;
        entry.serverNext = now + std::max(wait, FConfig.timers.serverInterval);
      } else if (response->Rcode() == 0) {
        ServerAnswered(entry, response->ttl, now);
      } else {
        TNameNotice notice;
        notice.kind = TKind::Refused;
        notice.from = FConfig.server;
        Lose(entry, notice, now);
      }
      return true;
    }
    if (opcode != TNameOpcode::Registration || response->Rcode() == 0 || fromHere ||
        response->name != entry.claim.name) {
      continue;
    }
    // A machine says it holds the name we claim: it is asked to prove it. A
    // refusal outside our claim, or of another transaction (a conflict demand, a
    // replay), is nobody's business but its sender's.
    if (response->id == entry.broadcastId && entry.broadcasting) Challenge(entry, from, now);
  }
  // Responses to registrations and releases are only ever for their claimant.
  return true;
}

bool TNameClaim::TakeLookupAnswer(std::string_view packet, std::uint32_t from, bool fromHere,
                                  TClock::time_point now) {
  const auto lookingFor = [this](std::uint16_t id, const TNetBiosName& name) -> TEntry* {
    for (TEntry& entry : FEntries) {
      if (entry.pending && entry.lookupId == id && entry.claim.name == name) return &entry;
    }
    return nullptr;
  };
  if (const std::optional<TNameAnswer> answer = ParseNameAnswer(packet)) {
    for (TEntry& challenged : FEntries) {
      if (challenged.claim.name != answer->name || fromHere) continue;
      const bool proved = std::any_of(
          challenged.challenges.begin(), challenged.challenges.end(),
          [&](const TEntry::TChallenge& c) { return c.id == answer->id && c.address == from; });
      if (!proved) continue;
      if (answer->address != 0) {
        // It holds the name: it keeps it.
        TNameNotice notice;
        notice.kind = TKind::Taken;
        notice.holder = from;
        Lose(challenged, notice, now);
      }
      return true;
    }
    TEntry* entry = lookingFor(answer->id, answer->name);
    if (entry == nullptr) return false;
    // Our own answer would name nobody else.
    if (answer->address != 0 && !fromHere) Found(*entry, answer->address);
    return true;
  }
  // The server's "no such name" ends a look-up with it.
  const std::optional<TNameResponse> negative = ParseNameResponse(packet);
  if (!negative || negative->Opcode() != TNameOpcode::Query || negative->Rcode() == 0) {
    return false;
  }
  TEntry* entry = lookingFor(negative->id, negative->name);
  if (entry == nullptr) return false;
  if (entry->lookupByServer && from == FConfig.server) Found(*entry, 0);
  return true;
}

bool TNameClaim::Take(std::string_view packet, std::uint32_t from, std::uint16_t port,
                      bool fromHere, TClock::time_point now) {
  const bool taken = TakeRequest(packet, from, port, fromHere, now) ||
                     TakeResponse(packet, from, fromHere, now) ||
                     TakeLookupAnswer(packet, from, fromHere, now);
  if (taken) Flush();
  return taken;
}

void TNameClaim::Tick(TClock::time_point now) {
  const TNameTimers& timers = FConfig.timers;
  for (TEntry& entry : FEntries) {
    // A challenged machine that does not answer in time proved nothing.
    std::erase_if(entry.challenges, [&](TEntry::TChallenge& challenge) {
      if (now < challenge.next) return false;
      if (challenge.sent >= timers.broadcastTries) return true;
      SendChallenge(challenge, entry);
      ++challenge.sent;
      challenge.next = now + timers.broadcastInterval;
      return false;
    });
    if (entry.broadcasting && now >= entry.broadcastNext) {
      if (entry.broadcastSent < timers.broadcastTries) {
        SendBroadcast(entry, kRegistrationFlags, entry.broadcastId);
        ++entry.broadcastSent;
        entry.broadcastNext = now + timers.broadcastInterval;
      } else if (entry.challenges.empty()) {
        // Nobody objected: the name is ours, and the subnet is told so.
        SendBroadcast(entry, kOverwriteFlags, entry.broadcastId);
        entry.broadcasting = false;
        entry.state = TState::Held;
      } else {
        // Taken only once every machine that objected has had its chance to prove it.
        entry.broadcastNext =
            std::min_element(entry.challenges.begin(), entry.challenges.end(),
                             [](const auto& a, const auto& b) { return a.next < b.next; })
                ->next;
      }
    }
    if (entry.server != TServerState::None && now >= entry.serverNext) {
      switch (entry.server) {
        case TServerState::Registering:
        case TServerState::Refreshing:
        case TServerState::Waiting:
          if (entry.serverSent < timers.serverTries) {
            SendToServer(entry, entry.serverFlags, entry.serverId);
            ++entry.serverSent;
            entry.serverNext = now + timers.serverInterval;
          } else {
            ServerSilent(entry, now);
          }
          break;
        case TServerState::Registered:
          StartServerRegistration(entry, kRefreshFlags, now);
          break;
        case TServerState::Silent:
          StartServerRegistration(entry, kRegistrationFlags, now);
          break;
        case TServerState::Releasing:
          if (entry.serverSent < 2) {
            SendToServer(entry, kReleaseFlags, entry.serverId);
            ++entry.serverSent;
            entry.serverNext = now + timers.releaseWait / 2;
          } else {
            entry.server = TServerState::None;
          }
          break;
        case TServerState::None:
          break;
      }
    }
    if (entry.pending && entry.lookupSent > 0 && now >= entry.lookupNext) {
      const int tries = entry.lookupByServer ? timers.serverTries : timers.broadcastTries;
      if (entry.lookupSent < tries) {
        SendLookup(entry);
        ++entry.lookupSent;
        entry.lookupNext =
            now + (entry.lookupByServer ? timers.serverInterval : timers.broadcastInterval);
      } else {
        Found(entry, 0);
      }
    }
  }
  Flush();
}

std::optional<TNameClaim::TClock::time_point> TNameClaim::NextDeadline() const {
  std::optional<TClock::time_point> next;
  const auto consider = [&next](TClock::time_point at) {
    if (!next || at < *next) next = at;
  };
  for (const TEntry& entry : FEntries) {
    if (entry.broadcasting) {
      consider(entry.broadcastNext);
    }
    if (entry.server != TServerState::None) consider(entry.serverNext);
    if (entry.pending && entry.lookupSent > 0) consider(entry.lookupNext);
    for (const TEntry::TChallenge& challenge : entry.challenges) consider(challenge.next);
  }
  return next;
}

void TNameClaim::Release(TClock::time_point now) {
  for (TEntry& entry : FEntries) {
    if (entry.state == TState::Held) SendBroadcast(entry, kReleaseFlags, NextId());
    const bool registered =
        entry.server == TServerState::Registered || entry.server == TServerState::Refreshing ||
        entry.server == TServerState::Registering || entry.server == TServerState::Waiting;
    if (registered) {
      entry.server = TServerState::Releasing;
      entry.serverId = NextId();
      entry.serverSent = 1;
      entry.serverNext = now + FConfig.timers.releaseWait / 2;
      SendToServer(entry, kReleaseFlags, entry.serverId);
    } else {
      entry.server = TServerState::None;
    }
    entry.state = TState::Released;
    entry.broadcasting = false;
    entry.pending.reset();
    entry.challenges.clear();
  }
}

bool TNameClaim::Releasing() const {
  return std::any_of(FEntries.begin(), FEntries.end(),
                     [](const TEntry& e) { return e.server == TServerState::Releasing; });
}

bool TNameClaim::Holds(const TNetBiosName& name) const {
  return std::any_of(FEntries.begin(), FEntries.end(), [&](const TEntry& e) {
    return e.state == TState::Held && e.claim.name == name;
  });
}

bool TNameClaim::Yields(const TNetBiosName& name) const {
  return std::any_of(FEntries.begin(), FEntries.end(), [&](const TEntry& e) {
    return e.state == TState::Lost && e.claim.name == name;
  });
}

std::vector<TClaimedName> TNameClaim::Held() const {
  std::vector<TClaimedName> held;
  for (const TEntry& entry : FEntries) {
    if (entry.state == TState::Held) held.push_back(entry.claim);
  }
  return held;
}

bool TNameClaim::Claimed() const {
  return FStarted && std::none_of(FEntries.begin(), FEntries.end(),
                                  [](const TEntry& e) { return e.state == TState::Registering; });
}

bool TNameClaim::Settled() const {
  return std::none_of(FEntries.begin(), FEntries.end(), [](const TEntry& e) {
    return e.state == TState::Registering || e.broadcasting || e.pending || !e.challenges.empty() ||
           e.server == TServerState::Registering || e.server == TServerState::Waiting;
  });
}

void TNameClaim::Flush() {
  if (FFound.empty() || !Settled()) return;
  // Names with the same 15 bytes lost to the same machine at once are told as
  // one: by the messenger name among them, if any.
  for (const TNameNotice& notice : FFound) {
    const auto same = std::find_if(FNotices.begin(), FNotices.end(), [&](const TNameNotice& told) {
      return told.kind == notice.kind && told.holder == notice.holder && told.from == notice.from &&
             SameBase(told.name, notice.name);
    });
    if (same == FNotices.end()) {
      FNotices.push_back(notice);
    } else if (notice.name.Suffix() == 0x03 && !notice.group) {
      *same = notice;
    }
  }
  FFound.clear();
}

std::vector<TNameClaim::TSend> TNameClaim::TakeSends() {
  return std::exchange(FSends, {});
}

std::vector<TNameNotice> TNameClaim::TakeNotices() {
  return std::exchange(FNotices, {});
}

}  // namespace pling::net
