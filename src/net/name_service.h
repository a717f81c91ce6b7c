#pragma once
// The claiming of this machine's names (name_claim.h) as the process that holds
// the name service port runs it: it sends from that port, keeps a timer for the
// claim's deadlines, resolves the name server's address, and hands what the user
// is to be told to a callback. Thread-safe: the port's packets, the timer and
// the questions may come from different threads.
#include <netinet/in.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/name_claim.h"
#include "net/socket.h"

namespace pling::net {

struct TNameServiceConfig {
  std::vector<TClaimedName> names;
  // The WINS server as configured: an IPv4 address or a host name (found with
  // the host's resolver, waiting at most kHostResolveTime); empty: none.
  std::string server;
  std::uint16_t port = kNameServicePort;
  TNameTimers timers;
  // Called for each notice, on the thread that fed the packet or the timer.
  std::function<void(const TNameNotice&)> notice;
};

class TNameService {
 public:
  explicit TNameService(TNameServiceConfig config);
  TNameService(const TNameService&) = delete;
  TNameService& operator=(const TNameService&) = delete;

  // Starts claiming the names, sending from `fd`: the socket bound to the name
  // service port, which must stay open until Stop has returned. Once.
  void Start(int fd);
  // Readable when OnTimer is due (-1 before Start, or when no timer could be
  // made; then the deadlines are kept only as packets come).
  int TimerFd() const;
  void OnTimer();

  // A packet that came in on the name service port. True when it belonged to
  // the claiming of names (and was dealt with); false for everything else
  // (queries, node status, answers to other look-ups).
  bool Take(std::string_view packet, const sockaddr_in& from);

  // Whether this machine answers for `name` (its exact bytes) now. Before Start:
  // none.
  bool Holds(const NetBiosName& name) const;
  std::vector<TClaimedName> Held() const;

  // Releases every name, and waits (at most the timers' release wait) for the
  // server's answers on the socket, reading everything else there unanswered.
  // Call once nothing else reads from it. Does nothing before Start, or twice.
  void Stop();

 private:
  using TClock = TNameClaim::TClock;
  // Sends what the claim queued, sets the timer, and returns the notices to hand
  // on (outside the lock).
  std::vector<TNameNotice> Flush();
  void Tell(const std::vector<TNameNotice>& notices) const;
  const std::vector<TInterface>& Interfaces();

  TNameServiceConfig FConfig;
  mutable std::mutex FLock;
  std::optional<TNameClaim> FClaim;
  TFd FTimer;
  int FFd = -1;
  bool FStopped = false;
  std::vector<TInterface> FInterfaces;
  TClock::time_point FInterfacesRead{};
};

}  // namespace pling::net
