// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The claiming of this machine's names (name_claim.h) as a service of the
// process that holds the ports (port_holder.h): it sends from the name service
// port, takes the packets that belong to the claim, finds the WINS server's
// address, and keeps a thread of its own that sleeps until the claim's next
// deadline (none while all is settled: nothing wakes up then). What the user is
// to be told goes to a callback. At the end every name is released, and the
// server's answers are waited for a moment.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/name_claim.h"
#include "net/port_holder.h"

namespace pling::net {

struct TNameServiceConfig {
  std::vector<TClaimedName> names;
  // The WINS servers as configured, asked in order: IPv4 addresses or host names
  // (found with the host's resolver, waiting at most kHostResolveTime each),
  // separated by spaces or commas; empty: none.
  std::string server;
  std::uint16_t port = kNameServicePort;
  TNameTimers timers;
  // Called for each notice, on a thread of the holder's or of the service's; it
  // must not wait.
  std::function<void(const TNameNotice&)> notice;
  // Called once, on the same threads, when the first claim is done: every name
  // held or lost (TNameClaim::Claimed). It must not wait.
  std::function<void()> claimed;
};

class TNameService final : public IHolderService {
 public:
  explicit TNameService(TNameServiceConfig config);
  ~TNameService() override;
  TNameService(const TNameService&) = delete;
  TNameService& operator=(const TNameService&) = delete;

  std::string Started(THolderPorts& ports) override;
  bool TakeNamePacket(std::string_view packet, const TPacketSource& from) override;
  void Stopping() override;
  void Stopped() override;

  // Whether this machine answers for `name` (its exact bytes) now: never before
  // the claim has started, nor after the release.
  bool Holds(const TNetBiosName& name) const;
  // Whether this machine gave `name` up to another machine (TNameClaim::Yields).
  bool Yields(const TNetBiosName& name) const;
  // Whether the claim is done (TNameClaim::Claimed); false again after the release.
  bool Claimed() const;

 private:
  using TClock = TNameClaim::TClock;
  // The service's thread: finds the server, starts the claim, ticks at deadlines.
  void Run();
  // Makes the claim and starts it, once; the notices to tell. With the lock held.
  std::vector<TNameNotice> StartClaim(const std::vector<std::uint32_t>& servers,
                                      std::vector<TNameNotice> notices);
  // The configured servers' addresses, waiting at most `timeout` for each name;
  // a notice for each that cannot be found.
  std::vector<std::uint32_t> ServerAddresses(std::chrono::milliseconds timeout,
                                             std::vector<TNameNotice>& notices) const;
  // Sends what the claim queued and takes its notices. With the lock held.
  std::vector<TNameNotice> Flush();
  // Whether the claim just got done: true once, with the lock held.
  bool NewlyClaimed();
  // Tells the notices, then that the claim is done when `claimed`.
  void Tell(const std::vector<TNameNotice>& notices, bool claimed) const;
  const std::vector<TInterface>& Interfaces();

  const TNameServiceConfig FConfig;
  mutable std::mutex FLock;
  std::condition_variable FChanged;  // the claim's deadlines, or the end
  THolderPorts* FPorts = nullptr;
  std::optional<TNameClaim> FClaim;
  bool FStop = false;
  bool FReleased = false;
  bool FClaimedTold = false;
  std::thread FThread;
  bool FTicksOnPackets = false;  // no thread: deadlines are looked at as packets come
  TInterfaceCache FInterfaces;
};

}  // namespace pling::net
