// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The browse protocol's workstation side, as a service of the process that holds
// the ports (port_holder.h):
//
// - Announcing: a HostAnnouncement of this machine (workstation, with the
//   comment) to WORKGROUP<1D> at each subnet's broadcast address, once this
//   machine holds its name (or a few seconds after the start, whatever the
//   claim), then after one minute, and at intervals that double up to twelve
//   minutes; the periodicity each one carries is the time to the next. An
//   AnnouncementRequest for this workgroup is answered after a random delay (at
//   most `answerDelay`), once however many come meanwhile; one that comes
//   before the first announcement gets that one. When the ports go, a
//   last announcement with the server type cleared says this machine stops.
// - Hearing: host, local master and domain announcements go to the
//   neighbourhood (neighbourhood.h); one AnnouncementRequest at the start makes
//   the others announce themselves at once.
// - People: each machine heard is asked for its names with a node status query,
//   one at a time, at most one every `statusInterval` across the LAN; its <03>
//   names are kept with it (and asked again when it is heard after
//   TNeighbourhood::kPeopleRefresh).
// - Sharing: other processes on this machine read the list from here
//   (neighbourhood_share.h).
// - The comment: SetComment changes it; a changed comment is announced at once,
//   and the announcements go on at their intervals. Another process of this
//   user that changed the stored comment says so (comment_change.h), and
//   `commentChanged` reads it again.
//
// A thread of its own sleeps until the next thing due (an announcement, an
// answer, a status query); nothing wakes it between announcements while no
// frame comes.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>

#include "net/browse_frames.h"
#include "net/interfaces.h"
#include "net/neighbourhood.h"
#include "net/port_holder.h"

namespace pling::net {

struct TBrowseConfig {
  std::string computerName;  // OEM code page, upper case
  std::string workgroup;     // OEM code page, upper case
  std::string comment;       // OEM code page (cut to kMaxBrowseComment)
  // Whether this machine holds its computer name now; empty: it does.
  std::function<bool()> namesHeld;
  std::shared_ptr<TNeighbourhood> neighbourhood;
  std::chrono::milliseconds firstInterval = std::chrono::minutes(1);
  std::chrono::milliseconds longestInterval = std::chrono::minutes(12);
  // The longest wait before an AnnouncementRequest is answered.
  std::chrono::milliseconds answerDelay = std::chrono::seconds(30);
  // The first announcement waits at most this long for the name claim.
  std::chrono::milliseconds claimWait = std::chrono::seconds(5);
  std::chrono::milliseconds statusInterval = std::chrono::milliseconds(250);
  std::chrono::milliseconds statusTimeout = std::chrono::seconds(1);
  // The list for other processes: the abstract socket's name; empty: not shared.
  std::string shareName = "pling\\neighbourhood";
  // Where other processes say that the stored comment changed (empty: nowhere),
  // and who reads it again then (on the service's thread, without its lock: it
  // may read a file, and call SetComment).
  std::string commentChangeName = "pling\\browse-comment";
  std::function<void()> commentChanged;
  std::uint16_t datagramPort = kDatagramPort;
  std::uint16_t namePort = kNameServicePort;
};

// The announcement this machine sends (type cleared when it stops).
TAnnouncement OwnAnnouncement(const TBrowseConfig& config, std::uint32_t periodicityMs,
                              std::uint8_t updateCount, bool stopping);

class TBrowseService final : public IHolderService {
 public:
  explicit TBrowseService(TBrowseConfig config);
  ~TBrowseService() override;
  TBrowseService(const TBrowseService&) = delete;
  TBrowseService& operator=(const TBrowseService&) = delete;

  std::string Started(THolderPorts& ports) override;
  bool TakeNamePacket(std::string_view packet, const TPacketSource& from) override;
  bool TakeDatagram(const TMailslotDatagram& datagram, const TPacketSource& from,
                    bool local) override;
  void Stopping() override;
  void Stopped() override;

  const std::shared_ptr<TNeighbourhood>& Neighbourhood() const { return FConfig.neighbourhood; }
  // The comment from now on (OEM code page, fitted to kMaxBrowseComment): when
  // it differs and this machine has announced itself, it announces itself again
  // at once (with the periodicity it has); the next announcement stays due when
  // it was. Any thread.
  void SetComment(std::string_view comment);
  // Announcements sent so far (the last one included), for tests.
  std::uint64_t Announced() const;

 private:
  using TClock = std::chrono::steady_clock;
  struct TAsk {
    std::string name;
    std::uint32_t address = 0;
  };
  void Run();
  void Wake();
  // With the lock held: sends what is due and says when the next thing is.
  TClock::time_point Tick(TClock::time_point now);
  void SendBrowseFrame(const std::string& data, std::uint8_t suffix);

  TBrowseConfig FConfig;
  mutable std::mutex FLock;
  THolderPorts* FPorts = nullptr;
  bool FStop = false;
  std::thread FThread;
  runtime::TUniqueFd FWake;
  runtime::TUniqueFd FShare;
  runtime::TUniqueFd FCommentChange;
  std::mt19937 FRandom;
  // Announcing.
  TClock::time_point FStarted{};
  TClock::time_point FNextAnnounce{};
  std::chrono::milliseconds FInterval{0};
  std::uint8_t FUpdateCount = 0;
  std::uint64_t FAnnounced = 0;
  bool FRequested = false;  // the AnnouncementRequest of the start went out
  std::optional<TClock::time_point> FAnswerAt;
  // People.
  std::deque<TAsk> FAsks;
  TClock::time_point FNextAsk{};
  std::unordered_map<std::uint16_t, std::pair<TAsk, TClock::time_point>> FAsked;
  std::uint16_t FNextId = 0;
  TInterfaceCache FInterfaces;  // with the lock
  // What the holder's threads hand to the service's (with the lock).
  std::string FShared;  // the list as last encoded for other processes
};

}  // namespace pling::net
