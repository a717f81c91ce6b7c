// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/transport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "net/browse_service.h"
#include "net/holder_users.h"
#include "net/interfaces.h"
#include "net/name_service.h"
#include "net/netbios.h"
#include "net/path_memory.h"
#include "net/port_holder.h"
#include "net/resolver.h"
#include "net/session_client.h"
#include "net/session_server.h"
#include "net/socket.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::string_view kMailslotPrefix = "\\MAILSLOT\\";
constexpr std::string_view kMessengerSlot = "MESSNGR";
// Answers kept for one query under way; a flood of them is cut off here.
constexpr std::size_t kMaxQueuedAnswers = 256;

// While this process holds the name service port its own queries go from it too
// (some old systems answer only there); the answers that arrive on it are handed
// to every query under way.
class THolderQueries final : public IHolderService {
 public:
  class TChannel;

  explicit THolderQueries(std::uint16_t namePort) : FNamePort(namePort) {}

  std::string Started(THolderPorts& ports) override {
    std::lock_guard<std::mutex> guard(FLock);
    FPorts = &ports;
    return {};
  }
  void Stopped() override {
    std::lock_guard<std::mutex> guard(FLock);
    FPorts = nullptr;
  }
  bool TakeNamePacket(std::string_view packet, const TPacketSource&) override;

  // A channel for one lookup; none while this process does not hold the port.
  std::unique_ptr<INameQueryChannel> MakeChannel();

 private:
  friend class TChannel;
  std::mutex FLock;
  std::condition_variable FAnswered;
  THolderPorts* FPorts = nullptr;
  std::vector<TChannel*> FChannels;
  const std::uint16_t FNamePort;
};

class THolderQueries::TChannel final : public INameQueryChannel {
 public:
  explicit TChannel(THolderQueries& queries) : FQueries(queries) {
    FQueries.FChannels.push_back(this);  // with the lock held by MakeChannel
  }
  ~TChannel() override {
    std::lock_guard<std::mutex> guard(FQueries.FLock);
    std::erase(FQueries.FChannels, this);
  }
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  void Send(const std::string& packet, std::uint32_t address) override {
    std::lock_guard<std::mutex> guard(FQueries.FLock);
    if (FQueries.FPorts != nullptr) {
      FQueries.FPorts->SendNamePacket(packet, address, FQueries.FNamePort);
    }
  }

  std::optional<std::string> Receive(TClock::time_point until) override {
    std::unique_lock<std::mutex> guard(FQueries.FLock);
    if (!FQueries.FAnswered.wait_until(guard, until, [this] { return !answers.empty(); })) {
      return std::nullopt;
    }
    std::string answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  }

  std::deque<std::string> answers;  // guarded by the queries' lock

 private:
  THolderQueries& FQueries;
};

bool THolderQueries::TakeNamePacket(std::string_view packet, const TPacketSource&) {
  if (!IsNameServiceAnswer(packet)) return false;
  std::lock_guard<std::mutex> guard(FLock);
  for (TChannel* channel : FChannels) {
    if (channel->answers.size() < kMaxQueuedAnswers) channel->answers.emplace_back(packet);
  }
  FAnswered.notify_all();
  return true;
}

std::unique_ptr<INameQueryChannel> THolderQueries::MakeChannel() {
  std::lock_guard<std::mutex> guard(FLock);
  if (FPorts == nullptr) return nullptr;  // from a port of its own
  return std::make_unique<TChannel>(*this);
}

// Session messages on TCP 139 (session_server.h), taken while this process holds
// the ports; each goes to the messenger mailslot.
class THolderSessions final : public IHolderService {
 public:
  THolderSessions(const TTransportConfig& config, std::function<bool(const TNetBiosName&)> holds,
                  std::shared_ptr<const IHolderUserNames> users) {
    FConfig.computerName = config.computerName;
    FConfig.userName = config.userName;
    FConfig.holds = std::move(holds);  // [names]
    FConfig.holdsForUser = [users = std::move(users)](const TNetBiosName& name) {
      return users->Holds(name);
    };
    FConfig.port = config.sessionPort;
    FConfig.fromUtf8 = config.fromUtf8;
    if (config.deliverLocal) {
      FConfig.deliver = [deliver = config.deliverLocal](std::string_view datagram) {
        return deliver(kMessengerSlot, datagram);
      };
    }
  }
  std::string Started(THolderPorts& ports) override {
    // A sender's session messages and datagrams spend one limit, which the
    // holder keeps and reports.
    FConfig.admitSender = [&ports](std::uint32_t address) {
      return ports.AdmitMessageFrom(address);
    };
    FServer = std::make_unique<TSessionServer>(FConfig);
    return FServer->Start();
  }
  std::vector<TPortRefusal> Refused() const override {
    const auto refused = FServer ? FServer->Refused() : std::nullopt;
    return refused ? std::vector<TPortRefusal>{*refused} : std::vector<TPortRefusal>{};
  }
  bool TakeNamePacket(std::string_view, const TPacketSource&) override { return false; }
  void Stopped() override { FServer.reset(); }

 private:
  TSessionServerConfig FConfig;
  std::unique_ptr<TSessionServer> FServer;  // the holder's thread alone
};

// [names] This machine's names, claimed while this process holds the ports.
TNameServiceConfig NameServiceConfig(const TTransportConfig& config) {
  const auto name = [](std::string_view text, std::uint8_t suffix) {
    return TNetBiosName::Make(text, suffix);
  };
  TNameServiceConfig names;
  names.names = {{name(config.computerName, 0x00), false},
                 {name(config.computerName, 0x03), false},
                 {name(config.userName, 0x03), false},
                 {name(config.workgroup, 0x00), true}};
  names.server = config.winsServer;
  names.port = config.namePort;
  names.timers = config.nameTimers;
  names.notice = config.nameNotice;
  names.claimed = config.reachable;
  return names;
}

// [users] The names of the users whose programs wait on this process while it
// holds the ports, claimed as its own are; its own are not claimed twice.
std::shared_ptr<THolderUsers> HolderUsers(const TTransportConfig& config) {
  std::vector<TNetBiosName> own{TNetBiosName::Make(config.computerName, 0x03)};
  if (!config.userName.empty()) own.push_back(TNetBiosName::Make(config.userName, 0x03));
  TNameServiceConfig base = NameServiceConfig(config);
  // What happens to another user's name is no news for this process's user; the
  // holder service, which has no user of its own, logs it.
  if (!config.userName.empty()) base.notice = nullptr;
  return std::make_shared<THolderUsers>(std::move(base), std::move(own));
}

// [browse] Announcing this machine and hearing the others, once its name is held.
std::shared_ptr<TBrowseService> BrowseService(const TTransportConfig& config,
                                              const std::shared_ptr<TNameService>& names) {
  TBrowseConfig browse;
  browse.computerName = config.computerName;
  browse.workgroup = config.workgroup;
  browse.comment = config.comment;
  browse.namesHeld = [names, name = TNetBiosName::Make(config.computerName, 0x00)] {
    return names->Holds(name);
  };
  browse.answerDelay = config.browseAnswerDelay;
  browse.shareName = config.neighbourhoodSocket;
  browse.commentChangeName = config.commentChangeSocket;
  browse.commentChanged = config.commentChanged;
  browse.datagramPort = config.datagramPort;
  browse.namePort = config.namePort;
  return std::make_shared<TBrowseService>(std::move(browse));
}

THolderConfig HolderConfig(const TTransportConfig& config,
                           const std::shared_ptr<THolderQueries>& queries,
                           const std::shared_ptr<TNameService>& names,
                           const std::shared_ptr<TBrowseService>& browse,
                           const std::shared_ptr<THolderUsers>& users) {
  THolderConfig holder;
  holder.computerName = config.computerName;
  holder.userName = config.userName;
  holder.workgroup = config.workgroup;
  holder.connectLocal = config.connectLocal;
  holder.senderLimited = config.senderLimited;
  // [names] First, so that the answers to its own look-ups reach it.
  auto holds = [names](const TNetBiosName& name) { return names->Holds(name); };
  holder.holds = holds;
  holder.yields = [names](const TNetBiosName& name) { return names->Yields(name); };
  // [users] Before this machine's own claim, which takes the packets both need.
  holder.waiters = users;
  holder.servedByHolder = config.reachable;
  holder.changed = config.receiveChanged;
  holder.startHelper = config.startHelper;
  holder.services.push_back(users);
  holder.services.push_back(names);
  holder.services.push_back(browse);  // [browse] before the queries, which take every answer
  holder.services.push_back(queries);
  if (config.sessionPort != 0) {
    holder.services.push_back(std::make_shared<THolderSessions>(config, holds, users));
  }
  holder.datagramPort = config.datagramPort;
  holder.namePort = config.namePort;
  holder.sessionPort = config.sessionPort;
  return holder;
}

}  // namespace

struct TTransport::TState {
  explicit TState(TTransportConfig c)
      : config(std::move(c)),
        resolver(config.namePort),
        queries(std::make_shared<THolderQueries>(config.namePort)),
        nameService(std::make_shared<TNameService>(NameServiceConfig(config))),
        users(HolderUsers(config)),
        browse(BrowseService(config, nameService)),
        holder(HolderConfig(config, queries, nameService, browse, users)) {
    computer00 = TNetBiosName::Make(config.computerName, 0x00);
    workgroup00 = TNetBiosName::Make(config.workgroup, 0x00);
    nextId = static_cast<std::uint16_t>(std::random_device{}());
    resolver.SetNameServer(config.winsServer);  // [names] looked up there first
    resolver.ShareSilences(config.silenceBoard);
  }

  const TTransportConfig config;
  TResolver resolver;
  std::shared_ptr<THolderQueries> queries;
  std::shared_ptr<TNameService> nameService;  // [names]
  std::shared_ptr<THolderUsers> users;        // [users]
  std::shared_ptr<TBrowseService> browse;     // [browse]
  TPortHolder holder;
  TNetBiosName computer00, workgroup00;
  std::atomic<std::uint16_t> nextId{0};
  mutable TPathMemory paths{config.silenceBoard};  // machines whose session port did not answer

  // For writes, from any thread: one socket to send from, made at the first write,
  // and the interfaces as last read.
  std::mutex sendLock;
  runtime::TUniqueFd sendSocket;
  TInterfaceCache sendInterfaces;

  // Sends a messenger datagram's message to `target` as a session message; how
  // it went (session_client.h).
  TSessionOutcome SendSessionMessage(const TResolved& target, std::string_view data) const;

  // The socket and interfaces a write uses; an invalid socket when none can be had.
  int SendSocket(std::vector<TInterface>& current) {
    std::lock_guard<std::mutex> guard(sendLock);
    current = sendInterfaces.Get();
    if (!sendSocket.Valid()) sendSocket = OpenUdpSocket(0, true);
    return sendSocket.Get();
  }
};

TSessionOutcome TTransport::TState::SendSessionMessage(const TResolved& target,
                                                       std::string_view data) const {
  if (!paths.SessionWorthTrying(target.address, TClock::now())) return TSessionOutcome::NotTaken;
  // The messenger datagram's fields: sender, 0x00, receiver, 0x00, text.
  const std::size_t first = data.find('\0');
  const std::size_t second = first == std::string_view::npos ? first : data.find('\0', first + 1);
  if (second == std::string_view::npos) return TSessionOutcome::NotTaken;
  TMessengerMessage message;
  message.sender = std::string(data.substr(0, first));
  message.receiver = std::string(data.substr(first + 1, second - first - 1));
  const std::string_view text = data.substr(second + 1);
  message.text = std::string(text.substr(0, text.find('\0')));
  TSessionRequest names;
  names.called = target.name;
  names.called.bytes[15] = 0x03;  // the machine's messenger name
  names.calling = computer00;
  const TClock::time_point began = TClock::now();
  const TSessionOutcome outcome =
      net::SendSessionMessage(target.address, config.sessionPort, names, message);
  // Any answer at all shows that the path works, whatever the machine said.
  paths.SessionTried(target.address, outcome != TSessionOutcome::NotTaken, began, TClock::now());
  return outcome;
}

TTransport::TTransport(TTransportConfig config)
    : FState(std::make_shared<TState>(std::move(config))) {
  const std::shared_ptr<THolderQueries> queries = FState->queries;
  FState->resolver.SetChannelFactory([queries] { return queries->MakeChannel(); });
}

// Stops the holder (its own destructor) before the rest goes.
TTransport::~TTransport() = default;

void TTransport::StartReceiving() {
  FState->holder.Start();
}

void TTransport::StopReceiving() {
  FState->holder.Stop();
}

std::string TTransport::ReceiveProblem() const {
  return FState->holder.Problem();
}

std::vector<TPortRefusal> TTransport::RefusedPorts() const {
  return FState->holder.Refused();
}

bool TTransport::HoldsPorts() const {
  return FState->holder.HoldsPorts();
}

bool TTransport::Reachable() const {
  return (FState->holder.HoldsPorts() && FState->nameService->Claimed()) ||
         FState->holder.ServedByHolder();
}

std::shared_ptr<TNeighbourhood> TTransport::Neighbourhood() const {
  return FState->browse->Neighbourhood();
}

void TTransport::SetComment(std::string_view comment) {
  FState->browse->SetComment(comment);
}

THolderCounts TTransport::HolderCounts() const {
  return FState->holder.Counts();
}

bool TTransport::SendsAtOnce(std::string_view machine, TSendWay way) {
  if (machine.empty() || machine.back() == '*') return true;
  const auto cached = FState->resolver.Cache().Lookup(NetBiosUpper(machine), TClock::now());
  if (!cached) return false;
  // A name nobody answered for fails at once; a session message waits for its machine.
  return !cached->has_value() || way == TSendWay::Datagram || FState->config.sessionPort == 0 ||
         !FState->paths.SessionWorthTrying((*cached)->address, TClock::now());
}

TResolver& TTransport::Resolver() {
  return FState->resolver;
}

TSendResult TTransport::Send(std::string_view machine, std::string_view slotName,
                             std::string_view data, TSendWay way) {
  if (data.size() > kMaxMailslotData) return TSendResult::TooLong;
  if (machine.empty() || slotName.empty()) return TSendResult::BadName;
  const TTransportConfig& config = FState->config;

  TMailslotDatagram datagram;
  datagram.id = FState->nextId.fetch_add(1, std::memory_order_relaxed);
  datagram.source = FState->computer00;
  datagram.mailslot = std::string(kMailslotPrefix) + NetBiosUpper(slotName);
  datagram.data = std::string(data);
  std::vector<TInterface> interfaces;
  const int socket = FState->SendSocket(interfaces);

  if (machine.back() == '*') {
    std::string domain = NetBiosUpper(machine.substr(0, machine.size() - 1));
    if (domain.empty()) domain = config.workgroup;
    if (domain.size() > 15 || domain.find('*') != std::string::npos) return TSendResult::BadName;
    datagram.type = TDatagramType::DirectGroup;
    datagram.destination = TNetBiosName::Make(domain, 0x00);
    bool sent = false;
    if (socket >= 0) {
      for (const TInterface& target : BroadcastInterfaces(interfaces)) {
        datagram.sourceIp = target.address;
        sent = SendTo(socket, BuildMailslotDatagram(datagram), target.broadcast,
                      config.datagramPort) ||
               sent;
      }
    }
    // This machine is one of its workgroup's: its own mailslot gets the write too.
    if (datagram.destination == FState->workgroup00 && config.deliverLocal) {
      sent = config.deliverLocal(slotName, data) || sent;
    }
    return sent ? TSendResult::Sent : TSendResult::Failed;
  }

  if (machine.find('*') != std::string_view::npos) return TSendResult::BadName;
  const std::optional<TResolved> target = FState->resolver.Resolve(NetBiosUpper(machine));
  if (!target) return TSendResult::NotFound;
  // A session message first where the machine takes one: it is confirmed. Once
  // its text went out, the datagram would be a second copy.
  if (way == TSendWay::SessionFirst && config.sessionPort != 0 &&
      NetBiosUpper(slotName) == kMessengerSlot) {
    switch (FState->SendSessionMessage(*target, data)) {
      case TSessionOutcome::Delivered:
        return TSendResult::Delivered;
      case TSessionOutcome::Unconfirmed:
        return TSendResult::Unconfirmed;
      case TSessionOutcome::Refused:
        return TSendResult::Refused;
      case TSessionOutcome::NotTaken:
        break;
    }
  }
  if (socket < 0) return TSendResult::Failed;
  datagram.type = TDatagramType::DirectUnique;
  datagram.destination = target->name;
  datagram.sourceIp = SourceAddressFor(interfaces, target->address);
  return SendTo(socket, BuildMailslotDatagram(datagram), target->address, config.datagramPort)
             ? TSendResult::Sent
             : TSendResult::Failed;
}

}  // namespace pling::net
