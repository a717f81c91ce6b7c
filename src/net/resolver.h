#pragma once
// Finding another machine's address from its name, as Windows networking does:
// a broadcast NetBIOS name query for NAME<03> (its messenger name) and NAME<00>
// on every interface, three tries 250 ms apart, and then the host's own resolver
// (DNS, /etc/hosts).
//
// Answers are cached: a found address for kPositiveLifetime, a name nobody
// answered for kNegativeLifetime. A window that writes to several receivers, or
// to one receiver again and again, so waits for the network once per name and
// lifetime, not once per message. An uncached name holds the writing thread for
// at most kQueryTime plus kHostResolveTime.
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

namespace pling::net {

inline constexpr int kQueryTries = 3;
inline constexpr std::chrono::milliseconds kQueryInterval{250};
inline constexpr std::chrono::milliseconds kQueryTime = kQueryInterval * kQueryTries;
inline constexpr std::chrono::milliseconds kHostResolveTime{1500};
inline constexpr std::chrono::seconds kPositiveLifetime{300};
inline constexpr std::chrono::seconds kNegativeLifetime{30};

struct TResolved {
  std::uint32_t address = 0;  // host byte order
  // The name the datagram goes to: NAME<03> when the machine answered for its
  // messenger name (or only the host resolver knew it), else NAME<00>.
  NetBiosName name;
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

// Where name queries go out and their answers come back.
class INameQueryChannel {
 public:
  virtual ~INameQueryChannel() = default;
  virtual void Send(const std::string& packet, std::uint32_t broadcast) = 0;
  // The next answer that came in, or nullopt once `until` has passed.
  virtual std::optional<NameAnswer> Receive(std::chrono::steady_clock::time_point until) = 0;
};

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

 private:
  std::mutex FChannelLock;
  TChannelFactory FChannelFactory;
  const std::uint16_t FNamePort;
  TNameCache FCache;
};

}  // namespace pling::net
