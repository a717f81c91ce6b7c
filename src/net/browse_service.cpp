// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/browse_service.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "net/comment_change.h"
#include "net/interfaces.h"
#include "net/neighbourhood_share.h"
#include "net/netbios.h"
#include "runtime/thread_name.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

// Machines waiting for their status query; past this, a flood of new names is
// not asked about (each is asked when heard again after kPeopleRefresh).
constexpr std::size_t kMaxAsks = 1024;
// While the name is being claimed, the first announcement looks again this often.
constexpr std::chrono::milliseconds kClaimPoll{100};
// The system this machine says it runs in its announcements.
constexpr std::uint8_t kOsMajor = 6;
constexpr std::uint8_t kOsMinor = 1;
constexpr std::uint8_t kMessengerSuffix = 0x03;
constexpr std::uint8_t kMasterBrowserSuffix = 0x1D;
constexpr std::uint8_t kWorkgroupSuffix = 0x00;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return NetBiosUpper(x) == NetBiosUpper(y);
         });
}

}  // namespace

TAnnouncement OwnAnnouncement(const TBrowseConfig& config, std::uint32_t periodicityMs,
                              std::uint8_t updateCount, bool stopping) {
  TAnnouncement a;
  a.opcode = TBrowseOpcode::HostAnnouncement;
  a.updateCount = updateCount;
  a.periodicityMs = periodicityMs;
  a.name = config.computerName.substr(0, kMaxBrowseName);
  a.osMajor = kOsMajor;
  a.osMinor = kOsMinor;
  a.serverType = stopping ? 0 : kServerWorkstation;
  a.comment = FitBrowseComment(config.comment);
  return a;
}

TBrowseService::TBrowseService(TBrowseConfig config)
    : FConfig(std::move(config)), FRandom(std::random_device{}()) {
  if (!FConfig.neighbourhood) FConfig.neighbourhood = std::make_shared<TNeighbourhood>();
  FNextId = static_cast<std::uint16_t>(FRandom());
}

TBrowseService::~TBrowseService() {
  Stopped();
}

std::string TBrowseService::Started(THolderPorts& ports) {
  std::lock_guard<std::mutex> guard(FLock);
  FPorts = &ports;
  FStop = false;
  FStarted = TClock::now();
  FNextAnnounce = FStarted;
  FInterval = std::chrono::milliseconds(0);
  FRequested = false;
  FAnswerAt.reset();
  FWake = runtime::TUniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!FConfig.shareName.empty()) FShare = ListenForNeighbourhood(FConfig.shareName);
  if (!FConfig.commentChangeName.empty()) {
    FCommentChange = ListenForCommentChange(FConfig.commentChangeName);
  }
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    FPorts = nullptr;
    return "This machine is not announced on the network, nor are the others listed: no "
           "thread could be started for it.";
  }
  FConfig.neighbourhood->SetLive(true);
  return {};
}

void TBrowseService::Wake() {
  const std::uint64_t one = 1;
  if (FWake.Valid()) {
    [[maybe_unused]] const ssize_t written = ::write(FWake.Get(), &one, sizeof one);
  }
}

bool TBrowseService::TakeDatagram(const TMailslotDatagram& datagram, const TPacketSource& from,
                                  bool local) {
  if (!EqualsIgnoreCase(datagram.mailslot, kBrowseMailslot)) return false;
  if (local) return true;  // this machine's own frames come back: nothing to hear
  const TClock::time_point now = TClock::now();
  if (const std::optional<TAnnouncement> a = ParseAnnouncement(datagram.data)) {
    const std::string workgroup =
        a->opcode == TBrowseOpcode::DomainAnnouncement ? a->name : datagram.destination.Name();
    const TNeighbourhood::THearing hearing =
        FConfig.neighbourhood->Hear(*a, workgroup, from.address, now);
    if (hearing.askPeople) {
      std::lock_guard<std::mutex> guard(FLock);
      // Asked only of a single host elsewhere: an announcement that claims to come
      // from a broadcast address must not make this machine query a subnet.
      if (FAsks.size() < kMaxAsks && MayAnswer(FInterfaces.Get(now), from.address)) {
        FAsks.push_back(TAsk{a->name, from.address});
        Wake();
      }
    }
  } else if (ParseAnnouncementRequest(datagram.data) &&
             EqualsIgnoreCase(datagram.destination.Name(), FConfig.workgroup)) {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FAnswerAt && FPorts != nullptr) {
      const auto most = std::max<std::int64_t>(FConfig.answerDelay.count(), 0);
      std::uniform_int_distribution<std::int64_t> delay(0, most);
      FAnswerAt = now + std::chrono::milliseconds(delay(FRandom));
      Wake();
    }
  }
  return true;
}

bool TBrowseService::TakeNamePacket(std::string_view packet, const TPacketSource& from) {
  const std::optional<TStatusAnswer> answer = ParseStatusAnswer(packet);
  if (!answer) return false;
  TAsk asked;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const auto it = FAsked.find(answer->id);
    if (it == FAsked.end() || it->second.first.address != from.address) return false;
    asked = std::move(it->second.first);
    FAsked.erase(it);
  }
  std::vector<std::string> people;
  for (const TStatusEntry& entry : answer->names) {
    if (entry.group || entry.name.Suffix() != kMessengerSuffix) continue;
    std::string name = entry.name.Name();
    if (!name.empty() && std::find(people.begin(), people.end(), name) == people.end()) {
      people.push_back(std::move(name));
    }
  }
  FConfig.neighbourhood->SetPeople(asked.name, asked.address, std::move(people));
  return true;
}

void TBrowseService::SendBrowseFrame(const std::string& data, std::uint8_t suffix) {
  if (FPorts == nullptr) return;
  TMailslotDatagram d;
  d.type = TDatagramType::DirectGroup;
  d.source = TNetBiosName::Make(FConfig.computerName, 0x00);
  d.destination = TNetBiosName::Make(FConfig.workgroup, suffix);
  d.mailslot = std::string(kBrowseMailslot);
  d.data = data;
  for (const TInterface& i : BroadcastInterfaces(Ipv4Interfaces())) {
    d.id = FNextId++;
    d.sourceIp = i.address;
    FPorts->SendDatagram(BuildMailslotDatagram(d), i.broadcast, FConfig.datagramPort);
  }
}

TClock::time_point TBrowseService::Tick(TClock::time_point now) {
  if (!FRequested) {
    FRequested = true;
    SendBrowseFrame(BuildAnnouncementRequest(
                        TAnnouncementRequest{FConfig.computerName.substr(0, kMaxBrowseName)}),
                    kWorkgroupSuffix);
  }
  if (now >= FNextAnnounce) {
    const bool held = !FConfig.namesHeld || FConfig.namesHeld();
    if (!held && now - FStarted < FConfig.claimWait) {
      FNextAnnounce = now + kClaimPoll;
    } else {
      FInterval = FInterval.count() == 0 ? FConfig.firstInterval
                                         : std::min(FInterval * 2, FConfig.longestInterval);
      SendBrowseFrame(
          BuildAnnouncement(OwnAnnouncement(FConfig, static_cast<std::uint32_t>(FInterval.count()),
                                            FUpdateCount++, false)),
          kMasterBrowserSuffix);
      ++FAnnounced;
      FNextAnnounce = now + FInterval;
      FAnswerAt.reset();  // it has just announced itself
    }
  }
  if (FAnswerAt && FAnnounced == 0) {
    // Not before this machine holds its names: the first announcement, which
    // waits for them, is the answer (a machine that hears it asks at once which
    // names it has).
    FAnswerAt.reset();
  } else if (FAnswerAt && now >= *FAnswerAt) {
    FAnswerAt.reset();
    const auto period = FInterval.count() == 0 ? FConfig.firstInterval : FInterval;
    SendBrowseFrame(
        BuildAnnouncement(OwnAnnouncement(FConfig, static_cast<std::uint32_t>(period.count()),
                                          FUpdateCount++, false)),
        kMasterBrowserSuffix);
    ++FAnnounced;
  }
  std::erase_if(FAsked, [&](const auto& asked) {
    return now - asked.second.second >= FConfig.statusTimeout;
  });
  if (!FAsks.empty() && now >= FNextAsk && FPorts != nullptr) {
    TAsk ask = std::move(FAsks.front());
    FAsks.pop_front();
    const std::uint16_t id = FNextId++;
    FPorts->SendNamePacket(BuildStatusQuery(TStatusQuery{id, TNetBiosName::Broadcast()}),
                           ask.address, FConfig.namePort);
    FAsked[id] = {std::move(ask), now};
    FNextAsk = now + FConfig.statusInterval;
  }
  TClock::time_point next = FNextAnnounce;
  if (FAnswerAt) next = std::min(next, *FAnswerAt);
  if (!FAsks.empty()) next = std::min(next, std::max(FNextAsk, now));
  for (const auto& asked : FAsked) {
    next = std::min(next, asked.second.second + FConfig.statusTimeout);
  }
  return next;
}

void TBrowseService::Run() {
  runtime::SetThreadName("browse");
  std::unique_lock<std::mutex> guard(FLock);
  while (!FStop) {
    const TClock::time_point now = TClock::now();
    const TClock::time_point next = Tick(now);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
    const int timeout = static_cast<int>(
        std::clamp<std::int64_t>(wait.count(), 0, std::numeric_limits<int>::max()));
    // Descriptors that are not open (-1) are left out by poll.
    std::array<pollfd, 3> fds{pollfd{FWake.Get(), POLLIN, 0}, pollfd{FShare.Get(), POLLIN, 0},
                              pollfd{FCommentChange.Get(), POLLIN, 0}};
    guard.unlock();
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(FWake.Get(), &count, sizeof count);
    }
    if (ready > 0 && FShare.Valid() && (fds[1].revents & POLLIN) != 0) {
      ServeNeighbourhood(FShare.Get(),
                         EncodeMachines(FConfig.neighbourhood->Machines(TClock::now())));
    }
    if (ready > 0 && FCommentChange.Valid() && (fds[2].revents & POLLIN) != 0 &&
        TakeCommentChanges(FCommentChange.Get()) && FConfig.commentChanged) {
      FConfig.commentChanged();
    }
    guard.lock();
  }
}

void TBrowseService::SetComment(std::string_view comment) {
  std::lock_guard<std::mutex> guard(FLock);
  std::string fitted = FitBrowseComment(comment);
  if (fitted == FConfig.comment) return;
  FConfig.comment = std::move(fitted);
  // As an answer to a request goes: now, with the interval as it is. Before the
  // first announcement there is nothing to correct: that one carries it.
  if (FPorts != nullptr && FAnnounced > 0) {
    FAnswerAt = TClock::now();
    Wake();
  }
}

void TBrowseService::Stopping() {
  std::lock_guard<std::mutex> guard(FLock);
  if (FPorts == nullptr || FAnnounced == 0) return;
  // The last word: this machine stops (the others drop it at once).
  SendBrowseFrame(BuildAnnouncement(OwnAnnouncement(FConfig, 0, FUpdateCount++, true)),
                  kMasterBrowserSuffix);
}

void TBrowseService::Stopped() {
  FConfig.neighbourhood->SetLive(false);
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
    thread = std::move(FThread);
    Wake();
  }
  if (thread.joinable()) thread.join();
  std::lock_guard<std::mutex> guard(FLock);
  FPorts = nullptr;
  FShare.Reset();
  FCommentChange.Reset();
  FWake.Reset();
  FAsks.clear();
  FAsked.clear();
}

std::uint64_t TBrowseService::Announced() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FAnnounced;
}

}  // namespace pling::net
