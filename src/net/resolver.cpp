// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <random>
#include <thread>

#include "net/name_packets.h"
#include "net/socket.h"
#include "net/wins.h"

namespace pling::net {

using std::chrono::milliseconds;
using TClock = std::chrono::steady_clock;

std::optional<std::optional<TResolved>> TNameCache::Lookup(const std::string& name,
                                                           TClock::time_point now) {
  std::lock_guard<std::mutex> guard(FLock);
  const auto found = FEntries.find(name);
  if (found == FEntries.end()) return std::nullopt;
  if (now >= found->second.expires) {
    FEntries.erase(found);
    return std::nullopt;
  }
  return found->second.answer;
}

void TNameCache::Store(const std::string& name, const std::optional<TResolved>& answer,
                       TClock::time_point now) {
  std::lock_guard<std::mutex> guard(FLock);
  // Expired entries go whenever a new one comes, so the cache never grows
  // beyond the names written to within one lifetime.
  std::erase_if(FEntries, [now](const auto& entry) { return now >= entry.second.expires; });
  FEntries[name] = TEntry{answer, now + (answer ? kPositiveLifetime : kNegativeLifetime)};
}

void TNameCache::Clear() {
  std::lock_guard<std::mutex> guard(FLock);
  FEntries.clear();
}

namespace {

// Queries from a port of their own: the answers come back to it.
class TSocketChannel final : public INameQueryChannel {
 public:
  explicit TSocketChannel(std::uint16_t port) : FSocket(OpenUdpSocket(0, true)), FPort(port) {}
  bool Valid() const { return FSocket.Valid(); }

  void Send(const std::string& packet, std::uint32_t address) override {
    SendTo(FSocket.Get(), packet, address, FPort);
  }

  std::optional<std::string> Receive(TClock::time_point until) override {
    for (;;) {
      const auto left = std::chrono::duration_cast<milliseconds>(until - TClock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd readable{FSocket.Get(), POLLIN, 0};
      const int ready = ::poll(&readable, 1, static_cast<int>(left.count()) + 1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return std::nullopt;
      const ssize_t size = ::recv(FSocket.Get(), FBuffer.data(), FBuffer.size(), MSG_DONTWAIT);
      if (size <= 0) continue;
      const std::string_view packet(FBuffer.data(), static_cast<std::size_t>(size));
      if (IsNameServiceAnswer(packet)) return std::string(packet);
    }
  }

 private:
  runtime::TUniqueFd FSocket;
  const std::uint16_t FPort;
  std::array<char, 1500> FBuffer{};
};

// A channel from a port of its own; null when no socket can be had.
std::unique_ptr<INameQueryChannel> SocketChannel(std::uint16_t port) {
  auto channel = std::make_unique<TSocketChannel>(port);
  if (!channel->Valid()) return nullptr;
  return channel;
}

bool IsAddressText(const std::string& text) {
  in_addr address{};
  return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

std::uint16_t RandomId() {
  thread_local std::mt19937 random{std::random_device{}()};
  return static_cast<std::uint16_t>(random());
}

}  // namespace

bool IsNameServiceAnswer(std::string_view packet) {
  if (ParseNameAnswer(packet) || ParseStatusAnswer(packet)) return true;
  const std::optional<TNameResponse> negative = ParseNameResponse(packet);
  return negative && negative->Opcode() == TNameOpcode::Query && negative->Rcode() != 0;
}

std::optional<TResolved> QueryNetBiosName(std::string_view machine,
                                          const std::vector<TInterface>& interfaces,
                                          INameQueryChannel& channel) {
  const std::vector<TInterface> targets = BroadcastInterfaces(interfaces);
  if (targets.empty() || machine.empty() || machine.size() > 15) return std::nullopt;

  const std::uint16_t id03 = RandomId();
  const auto id00 = static_cast<std::uint16_t>(id03 + 1);
  const TNetBiosName name03 = TNetBiosName::Make(machine, 0x03);
  const TNetBiosName name00 = TNetBiosName::Make(machine, 0x00);
  const std::string query03 = BuildNameQuery(TNameQuery{id03, true, name03});
  const std::string query00 = BuildNameQuery(TNameQuery{id00, true, name00});

  std::optional<TResolved> workstation;  // NAME<00>, taken when no NAME<03> answers in its round
  for (int attempt = 0; attempt < kQueryTries; ++attempt) {
    for (const TInterface& target : targets) {
      channel.Send(query03, target.broadcast);
      channel.Send(query00, target.broadcast);
    }
    const TClock::time_point roundEnd = TClock::now() + kQueryInterval;
    while (const std::optional<std::string> packet = channel.Receive(roundEnd)) {
      const std::optional<TNameAnswer> answer = ParseNameAnswer(*packet);
      if (!answer) continue;
      // Answers come once per interface and responder; the first of each query counts.
      if (answer->address == 0) continue;
      if (answer->id == id03 && answer->name == name03) return TResolved{answer->address, name03};
      if (answer->id == id00 && answer->name == name00 && !workstation) {
        workstation = TResolved{answer->address, name00};
      }
    }
    if (workstation) return workstation;
  }
  return std::nullopt;
}

std::optional<TResolved> QueryNetBiosName(std::string_view machine,
                                          const std::vector<TInterface>& interfaces,
                                          std::uint16_t port) {
  TSocketChannel channel(port);
  if (!channel.Valid()) return std::nullopt;
  return QueryNetBiosName(machine, interfaces, channel);
}

std::optional<TNetBiosName> QueryNodeStatus(std::uint32_t address, INameQueryChannel& channel) {
  if (address == 0) return std::nullopt;
  const std::uint16_t id = RandomId();
  const std::string query = BuildStatusQuery(TStatusQuery{id, TNetBiosName::Broadcast()});
  for (int attempt = 0; attempt < kQueryTries; ++attempt) {
    channel.Send(query, address);
    const TClock::time_point roundEnd = TClock::now() + kQueryInterval;
    while (const std::optional<std::string> packet = channel.Receive(roundEnd)) {
      const std::optional<TStatusAnswer> answer = ParseStatusAnswer(*packet);
      if (!answer || answer->id != id) continue;
      // A machine still claiming its names lists none a write could go to yet.
      if (std::optional<TNetBiosName> name = MessengerName(*answer)) return name;
    }
  }
  return std::nullopt;
}

std::optional<TNetBiosName> QueryNodeStatus(std::uint32_t address, std::uint16_t port) {
  TSocketChannel channel(port);
  if (!channel.Valid()) return std::nullopt;
  return QueryNodeStatus(address, channel);
}

std::optional<std::uint32_t> ResolveHostName(const std::string& host, milliseconds timeout) {
  // getaddrinfo cannot be cancelled; it runs on a thread of its own, which the
  // caller leaves behind after `timeout`. The shared state outlives both.
  struct TState {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::optional<std::uint32_t> address;
  };
  auto state = std::make_shared<TState>();
  try {
    std::thread([state, host] {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_DGRAM;
      addrinfo* list = nullptr;
      std::optional<std::uint32_t> found;
      if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0) {
        for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
          if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            found = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
            break;
          }
        }
        ::freeaddrinfo(list);
      }
      std::lock_guard<std::mutex> guard(state->lock);
      state->address = found;
      state->finished = true;
      state->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  std::unique_lock<std::mutex> guard(state->lock);
  state->done.wait_for(guard, timeout, [&] { return state->finished; });
  return state->address;
}

void TResolver::SetChannelFactory(TChannelFactory factory) {
  std::lock_guard<std::mutex> guard(FChannelLock);
  FChannelFactory = std::move(factory);
}

void TResolver::SetNameServer(std::string server) {
  std::lock_guard<std::mutex> guard(FChannelLock);
  FNameServers.clear();
  for (std::string& name : WinsServerList(server)) {
    FNameServers.push_back(TNameServer{std::move(name), {}, {}, {}, kServerSilentFirst});
  }
}

namespace {
static_assert(kServerSilentLongest <= kLongestSilence, "the board keeps every silence");
std::string BoardKey(const std::string& server) {
  return "wins:" + server;
}
}  // namespace

std::uint32_t TResolver::NameServer(std::size_t index) {
  std::string server;
  {
    std::lock_guard<std::mutex> guard(FChannelLock);
    if (index >= FNameServers.size()) return 0;
    TNameServer& entry = FNameServers[index];
    const TClock::time_point now = TClock::now();
    if (now < entry.silentUntil) return 0;
    // Another program of this user may have met its silence meanwhile.
    if (const std::optional<TSilence> shared = FBoard.Find(BoardKey(entry.name), now)) {
      entry.silentFor = shared->next;
      if (now < shared->until) {
        entry.silentUntil = shared->until;
        return 0;
      }
    }
    if (entry.address && now - entry.found < kPositiveLifetime) return *entry.address;
    server = entry.name;
  }
  const std::optional<std::uint32_t> address = WinsServerAddress(server, kHostResolveTime);
  std::lock_guard<std::mutex> guard(FChannelLock);
  if (index >= FNameServers.size() || FNameServers[index].name != server) return 0;
  TNameServer& entry = FNameServers[index];
  entry.address = address;
  entry.found = TClock::now();
  // A server whose name does not resolve is not asked for a while.
  if (!address) entry.silentUntil = entry.found + kNegativeLifetime;
  return address.value_or(0);
}

void TResolver::ServerSilent(std::size_t index) {
  std::lock_guard<std::mutex> guard(FChannelLock);
  if (index >= FNameServers.size()) return;
  TNameServer& entry = FNameServers[index];
  const TClock::time_point now = TClock::now();
  entry.silentUntil = now + entry.silentFor;
  entry.silentFor = std::min(entry.silentFor * 2, std::chrono::seconds(kServerSilentLongest));
  FBoard.Put(BoardKey(entry.name), TSilence{entry.silentUntil, entry.silentFor}, now);
}

void TResolver::ServerAnswered(std::size_t index) {
  std::lock_guard<std::mutex> guard(FChannelLock);
  if (index >= FNameServers.size()) return;
  FNameServers[index].silentFor = kServerSilentFirst;
  FBoard.Remove(BoardKey(FNameServers[index].name), TClock::now());
}

std::unique_ptr<INameQueryChannel> TResolver::MakeChannel() {
  std::lock_guard<std::mutex> guard(FChannelLock);
  return FChannelFactory ? FChannelFactory() : nullptr;
}

std::optional<TResolved> TResolver::Resolve(std::string_view machine) {
  const std::string key(machine);
  if (auto cached = FCache.Lookup(key, TClock::now())) return *cached;
  std::optional<TResolved> answer;
  // A NetBIOS name may hold dots (logins such as FIRST.LAST): every name that fits
  // in 15 bytes is asked for first. Longer ones, and an IPv4 address written out,
  // can only be the host resolver's.
  if (machine.size() <= 15 && !IsAddressText(key)) {
    // The name servers first, in order, then the subnets.
    std::size_t servers = 0;
    {
      std::lock_guard<std::mutex> guard(FChannelLock);
      servers = FNameServers.size();
    }
    for (std::size_t index = 0; index < servers; ++index) {
      const std::uint32_t server = NameServer(index);
      if (server == 0) continue;
      std::unique_ptr<INameQueryChannel> channel = MakeChannel();
      if (!channel) channel = SocketChannel(FNamePort);
      TResolved found;
      const TServerAnswer said =
          channel ? QueryNameServer(machine, server, *channel, found) : TServerAnswer::Silent;
      if (said == TServerAnswer::Silent) {
        ServerSilent(index);
        continue;
      }
      ServerAnswered(index);
      if (said == TServerAnswer::Found) answer = found;
      break;
    }
    if (!answer) {
      const std::vector<TInterface> interfaces = Ipv4Interfaces();
      const std::unique_ptr<INameQueryChannel> channel = MakeChannel();
      answer = channel ? QueryNetBiosName(machine, interfaces, *channel)
                       : QueryNetBiosName(machine, interfaces, FNamePort);
    }
  }
  if (!answer) {
    // The host resolver knows the address only; the machine there says which of
    // its names a write goes to (a host name or an address is none of them).
    if (const auto address = ResolveHostName(key, kHostResolveTime)) {
      const std::unique_ptr<INameQueryChannel> channel = MakeChannel();
      const std::optional<TNetBiosName> name =
          channel ? QueryNodeStatus(*address, *channel) : QueryNodeStatus(*address, FNamePort);
      if (name) answer = TResolved{*address, *name};
    }
  }
  FCache.Store(key, answer, TClock::now());
  return answer;
}

}  // namespace pling::net
