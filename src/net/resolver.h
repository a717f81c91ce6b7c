// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding another machine's address from its name, as Windows networking does:
// a broadcast NetBIOS name query for NAME<03> (its messenger name) and NAME<00>
// on every interface, kQueryTries tries 250 ms apart, and then the host's own
// resolver (DNS, /etc/hosts). An address the host resolver gives is asked for its
// names with a node status query (as many tries): the write goes to the messenger
// name it lists, else to its workstation name. A machine that does not answer,
// or holds neither, is not found: a datagram to any other name would be dropped
// by its receiver. Every name of at most 15 bytes is asked for by NetBIOS first,
// dots and all (FIRST.LAST is a user's messenger name); a longer one, or an IPv4
// address written out, goes to the host resolver only.
//
// A machine that has just started answers for no name until it has claimed them
// (three broadcasts 250 ms apart; name_claim.h): a node status answer then lists
// none of them. So a lookup goes on asking for longer than a claim takes, and an
// answer without a name a write could go to does not end it: a message to
// someone who started Pling a moment ago still reaches them.
//
// Answers are cached: a found address for kPositiveLifetime, a name nobody
// answered for kNegativeLifetime. A window that writes to several receivers, or
// to one receiver again and again, so waits for the network once per name and
// lifetime, not once per message. An uncached name holds the writing thread for
// at most kQueryTime plus kHostResolveTime plus kQueryTime.
//
// With name servers (WINS; see wins.h) a name is asked of the servers first, in
// their order, by unicast, and only then of the subnets. A server that does not
// answer adds at most kServerQueryTries times kServerQueryInterval, and is then
// left out for a while (kServerSilentFirst, growing while it stays silent), so
// that sends meanwhile go straight to the subnets.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net/interfaces.h"
#include "net/netbios.h"
#include "net/silence_board.h"

namespace pling::net {

inline constexpr int kQueryTries = 5;
inline constexpr std::chrono::milliseconds kQueryInterval{250};
inline constexpr std::chrono::milliseconds kQueryTime = kQueryInterval * kQueryTries;
inline constexpr std::chrono::milliseconds kHostResolveTime{1500};
inline constexpr std::chrono::seconds kPositiveLifetime{300};
inline constexpr std::chrono::seconds kNegativeLifetime{30};

struct TResolved {
  std::uint32_t address = 0;  // host byte order
  // The name the datagram goes to: NAME<03> when the machine answered for its
  // messenger name (or listed it in its node status), else NAME<00>.
  TNetBiosName name;
  friend bool operator==(const TResolved&, const TResolved&) = default;
};

// Answers remembered for a while, positive and negative. Thread-safe.
class TNameCache {
 public:
  using TClock = std::chrono::steady_clock;
  // Empty: not cached (or expired). Holding nullopt: cached as unknown.
  std::optional<std::optional<TResolved>> Lookup(const std::string& name, TClock::time_point now);
  void Store(const std::string& name, const std::optional<TResolved>& answer,
             TClock::time_point now);
  void Clear();

 private:
  struct TEntry {
    std::optional<TResolved> answer;
    TClock::time_point expires;
  };
  std::mutex FLock;
  std::unordered_map<std::string, TEntry> FEntries;
};

// Where name service queries go out and their answers come back.
class INameQueryChannel {
 public:
  virtual ~INameQueryChannel() = default;
  // Sends `packet` to the name service port at `address` (a broadcast address
  // or one machine's).
  virtual void Send(const std::string& packet, std::uint32_t address) = 0;
  // The next answer packet that came in (a name query answer or a node status
  // answer), or nullopt once `until` has passed.
  virtual std::optional<std::string> Receive(std::chrono::steady_clock::time_point until) = 0;
};

// Whether `packet` is an answer a channel hands on: a positive name query
// answer, a negative one (a name server's "no such name"), or a node status answer.
bool IsNameServiceAnswer(std::string_view packet);

// Broadcasts the name queries for `machine` (OEM upper case, at most 15 bytes)
// through `channel` to each of `interfaces`' broadcast addresses and waits for
// the answers, ignoring repeats and answers to other queries.
std::optional<TResolved> QueryNetBiosName(std::string_view machine,
                                          const std::vector<TInterface>& interfaces,
                                          INameQueryChannel& channel);

// Broadcasts the name queries for `machine` (OEM upper case, at most 15 bytes)
// to each of `interfaces`' broadcast addresses from a port of its own and waits
// for the answers, ignoring repeats and answers to other queries.
std::optional<TResolved> QueryNetBiosName(std::string_view machine,
                                          const std::vector<TInterface>& interfaces,
                                          std::uint16_t port = kNameServicePort);

// Asks the machine at `address` (host byte order) for its names through
// `channel` and waits for its answer; the name a write to it goes to (see
// MessengerName), or nullopt when it does not answer or holds no such name.
std::optional<TNetBiosName> QueryNodeStatus(std::uint32_t address, INameQueryChannel& channel);

// The same from a port of its own, asking the machine's port `port`.
std::optional<TNetBiosName> QueryNodeStatus(std::uint32_t address,
                                            std::uint16_t port = kNameServicePort);

// The host resolver's IPv4 address for `host`, waiting at most `timeout`.
std::optional<std::uint32_t> ResolveHostName(const std::string& host,
                                             std::chrono::milliseconds timeout);

class TResolver {
 public:
  explicit TResolver(std::uint16_t namePort = kNameServicePort) : FNamePort(namePort) {}
  // `machine` in OEM upper case. Cached answers come back at once.
  std::optional<TResolved> Resolve(std::string_view machine);
  TNameCache& Cache() { return FCache; }
  // Where queries go; none (the default): from a port of their own.
  using TChannelFactory = std::function<std::unique_ptr<INameQueryChannel>()>;
  void SetChannelFactory(TChannelFactory factory);
  // The WINS servers to ask first, in order, as configured (IPv4 addresses or
  // host names, separated by spaces or commas); empty: none.
  void SetNameServer(std::string server);
  // Shares what is learnt of silent servers with this user's other programs
  // (silence_board.h); none (the default): this resolver alone remembers.
  void ShareSilences(std::string boardPath) { FBoard = TSilenceBoard(std::move(boardPath)); }

 private:
  std::unique_ptr<INameQueryChannel> MakeChannel();
  // The `index`th server's address, found once a while; 0: not to be asked now.
  std::uint32_t NameServer(std::size_t index);
  void ServerSilent(std::size_t index);
  void ServerAnswered(std::size_t index);
  std::mutex FChannelLock;
  struct TNameServer {
    std::string name;
    std::optional<std::uint32_t> address;
    std::chrono::steady_clock::time_point found{};
    std::chrono::steady_clock::time_point silentUntil{};
    std::chrono::seconds silentFor{};  // how long the next silence is remembered
  };
  std::vector<TNameServer> FNameServers;
  TChannelFactory FChannelFactory;
  TSilenceBoard FBoard;
  const std::uint16_t FNamePort;
  TNameCache FCache;
};

}  // namespace pling::net
