// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The names this machine answers to on the network, claimed and defended as
// the name service of Windows networking does it (RFC 1001/1002).
//
// Broadcast (B node). Each name is claimed on every subnet by a broadcast
// registration request, sent three times 250 ms apart (BCAST_REQ_RETRY_COUNT,
// BCAST_REQ_RETRY_TIMEOUT). A machine that already holds it answers with a
// negative registration response. Such an answer counts only while the claim is
// open, only with the claim's transaction id, and only once its sender has proved
// it holds the name: it is asked for the name by a unicast query (the end-node
// challenge), three tries 250 ms apart, and must answer it itself. Then the name
// is not taken, this machine does not answer for it, and the user is told which
// machine holds it; a sender that does not answer changes nothing (the claim
// waits for it, then goes on). Without a proved answer the name is taken: an
// overwrite demand tells the subnet so, and from then on this machine answers
// queries for it and defends it: a registration of it by another machine (of a
// unique name, or of a group name when ours is unique) gets a negative response
// with RCODE ACT_ERR.
//
// Nothing unsolicited takes a name away: name conflict demands, release requests
// and negative responses outside an open claim are ignored, whoever sends them.
// One case needs a rule: two machines that claim the same unique name at the same
// moment both hear no objection and both send their overwrite demand. An overwrite
// demand for a name we hold, from a machine whose address is lower than ours on
// that subnet, is challenged as above; if that machine answers for the name, ours
// is given up and the user is told. The lower address keeps the name, the higher
// one yields, so exactly one of the two holds it. An overwrite demand that arrives
// while our own claim is still open is challenged too: its sender finished first.
// At exit every name is released by broadcast.
//
// A machine whose links take no broadcasts (point-to-point ones: VPNs) can
// neither claim nor find a name without a server: the user is told so once.
//
// With a name server (WINS; H node). Each name is also registered with the
// server by unicast (the server's grant makes it ours at once) (three tries 5 s apart:
// UCAST_REQ_RETRY_COUNT, UCAST_REQ_RETRY_TIMEOUT; a WACK response stretches the wait), refreshed
// when half its TTL has passed, and released at exit. A refusal by the server is told to the user
// as a taken name, with the holder the server names for it. A server that does not answer is
// given up on for every name at once: the next configured server (if any) is asked in its place,
// every name registered with it anew. When none answers the user is told once, and they are asked
// again, from the first, 15 s later, then at twice the interval each time up to 10 minutes; any
// answer starts the interval over.
//
// A plain state machine: no sockets, no threads, no clock of its own. The caller
// feeds it packets and the time, sends what it queues, and calls Tick at
// NextDeadline.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/interfaces.h"
#include "net/netbios.h"

namespace pling::net {

struct TClaimedName {
  TNetBiosName name;
  bool group = false;
  friend bool operator==(const TClaimedName&, const TClaimedName&) = default;
};

struct TNameTimers {
  std::chrono::milliseconds broadcastInterval{250};
  int broadcastTries = 3;
  std::chrono::milliseconds serverInterval{5000};
  int serverTries = 3;
  // After the servers did not answer, before they are asked again: first this
  // long, then twice as long each time they stay silent, up to serverRetryLongest.
  std::chrono::seconds serverRetry{15};
  std::chrono::seconds serverRetryLongest{600};
  // Never refreshed sooner than this after the last answer, whatever TTL it gave.
  std::chrono::seconds shortestRefresh{60};
  // At exit: how long the server's answers to the releases are waited for, with
  // one repeat half-way.
  std::chrono::milliseconds releaseWait{500};
};

// The TTL this machine asks the server for (the server grants what it will).
inline constexpr std::uint32_t kRequestedTtl = 300000;

// Something the user is to be told about this machine's names.
struct TNameNotice {
  enum class TKind {
    Taken,          // another machine answered our registration: it holds the name
    Refused,        // the server refused the name
    ServerSilent,   // the server does not answer
    ServerUnknown,  // the server's name cannot be resolved to an address
    NoBroadcast,    // no link takes broadcasts (point-to-point only), and no server
  };
  TKind kind = TKind::Taken;
  // The name (OEM bytes); for several names with the same 15 bytes lost to the
  // same holder at once, the messenger one (suffix 0x03) if among them.
  TNetBiosName name;
  bool group = false;
  std::uint32_t holder = 0;  // the machine that holds the name, when known
  std::uint32_t from = 0;    // the server
  std::string server;        // the server as configured (for ServerUnknown)

  // One sentence for a message box or a terminal, OEM bytes as the names are.
  std::string Text() const;
  // A few words for a status line (the name, not the address).
  std::string Brief() const;
  friend bool operator==(const TNameNotice&, const TNameNotice&) = default;
};

// "10.0.0.1" for an address in host byte order.
std::string AddressText(std::uint32_t address);

struct TNameClaimConfig {
  std::vector<TClaimedName> names;        // duplicates and empty names are left out
  std::uint32_t server = 0;               // the name server (host byte order); 0: none
  std::uint16_t port = kNameServicePort;  // where the peers and the server listen
  TNameTimers timers;
  std::uint16_t firstId = 1;  // transaction ids count up from here
  // Further name servers, asked in order when the one before does not answer.
  std::vector<std::uint32_t> moreServers;
};

class TNameClaim {
 public:
  using TClock = std::chrono::steady_clock;
  struct TSend {
    std::string packet;
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;
    friend bool operator==(const TSend&, const TSend&) = default;
  };

  explicit TNameClaim(TNameClaimConfig config);

  // Starts claiming every name on the subnets of `interfaces` (their broadcast
  // ones) and with the server. Once.
  void Start(const std::vector<TInterface>& interfaces, TClock::time_point now);

  // A name service packet from `from`:`port` (host byte order); `fromHere` when
  // that is one of this machine's own addresses. True when it belongs to the
  // claiming of names (a registration, refresh or release request of any
  // machine, a response to one, a conflict demand, a WACK, or the answer to one
  // of our own look-ups), so that nothing else needs to look at it.
  bool Take(std::string_view packet, std::uint32_t from, std::uint16_t port, bool fromHere,
            TClock::time_point now);

  // Repeats, gives up waiting, refreshes: whatever is due at `now`.
  void Tick(TClock::time_point now);
  // When Tick is next due; nullopt when nothing waits.
  std::optional<TClock::time_point> NextDeadline() const;

  // Releases every name: by broadcast on the subnets, and with the server, whose
  // answers Tick and Take then wait for until Releasing() is false. After it, no
  // name is held.
  void Release(TClock::time_point now);
  bool Releasing() const;

  // Whether this machine holds `name` (its exact bytes) now: answers for it.
  bool Holds(const TNetBiosName& name) const;
  // Whether this machine gave `name` up to another machine that holds it: takes
  // no datagrams for it. A name still being claimed is not given up, so that a
  // datagram sent to this machine's address meanwhile (by a sender that knew it
  // from before a restart or a hand-over of the ports) is not lost.
  bool Yields(const TNetBiosName& name) const;
  // The names held now, in the order they were given.
  std::vector<TClaimedName> Held() const;
  // Whether the claim has started and no name is still being registered: each is
  // held or lost. From then on other machines find this one by its held names.
  bool Claimed() const;

  // What to send, and what to tell the user, since the last call. Notices of the
  // first claim come together once every name is settled.
  std::vector<TSend> TakeSends();
  std::vector<TNameNotice> TakeNotices();

 private:
  enum class TState { Registering, Held, Lost, Released };
  enum class TServerState { None, Registering, Waiting, Registered, Refreshing, Silent, Releasing };
  struct TEntry {
    TClaimedName claim;
    TState state = TState::Registering;
    std::uint16_t broadcastId = 0;
    int broadcastSent = 0;
    bool broadcasting = false;  // claims on the subnets still going out
    TClock::time_point broadcastNext{};
    TServerState server = TServerState::None;
    std::uint16_t serverId = 0;
    std::uint16_t serverFlags = 0;  // of the request the server is to answer
    int serverSent = 0;
    TClock::time_point serverNext{};
    // Finding out who holds a lost name: a query, by broadcast or to the server.
    std::optional<TNameNotice> pending;
    std::uint16_t lookupId = 0;
    int lookupSent = 0;
    TClock::time_point lookupNext{};
    bool lookupByServer = false;
    // Machines asked to prove that they hold the name (a unicast query each).
    struct TChallenge {
      std::uint32_t address = 0;
      std::uint16_t id = 0;
      int sent = 0;
      TClock::time_point next{};
    };
    std::vector<TChallenge> challenges;
  };

  std::uint16_t NextId() { return FNextId++; }
  std::uint16_t NbFlagsFor(const TEntry& entry) const;
  void SendBroadcast(const TEntry& entry, std::uint16_t flags, std::uint16_t id);
  void SendToServer(const TEntry& entry, std::uint16_t flags, std::uint16_t id);
  void SendLookup(const TEntry& entry);
  void Challenge(TEntry& entry, std::uint32_t address, TClock::time_point now);
  void SendChallenge(const TEntry::TChallenge& challenge, const TEntry& entry);
  void StartServerRegistration(TEntry& entry, std::uint16_t flags, TClock::time_point now);
  void Lose(TEntry& entry, TNameNotice notice, TClock::time_point now);
  void Found(TEntry& entry, std::uint32_t holder);
  void ServerAnswered(TEntry& entry, std::uint32_t ttl, TClock::time_point now);
  // The server in use did not answer `entry`: the next one is asked, or all wait.
  void ServerSilent(TEntry& entry, TClock::time_point now);
  bool Settled() const;
  // Moves what was found to the notices once every name is settled.
  void Flush();
  bool TakeRequest(std::string_view packet, std::uint32_t from, std::uint16_t port, bool fromHere,
                   TClock::time_point now);
  bool TakeResponse(std::string_view packet, std::uint32_t from, bool fromHere,
                    TClock::time_point now);
  bool TakeLookupAnswer(std::string_view packet, std::uint32_t from, bool fromHere,
                        TClock::time_point now);

  TNameClaimConfig FConfig;
  std::vector<TInterface> FInterfaces;        // the broadcast ones
  std::uint32_t FServerSource = 0;            // our address towards the server
  std::vector<std::uint32_t> FServers;        // in order; FConfig.server is the one in use
  std::vector<std::uint32_t> FServerSources;  // our address towards each
  std::size_t FServerIndex = 0;
  std::chrono::seconds FServerRetry{};  // the wait after the next silence
  std::vector<TEntry> FEntries;
  std::vector<TSend> FSends;
  std::vector<TNameNotice> FFound;    // held back until the first claim is settled
  std::vector<TNameNotice> FNotices;  // ready to be told
  std::uint16_t FNextId;
  bool FStarted = false;
  bool FServerSilenceTold = false;
};

}  // namespace pling::net
