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

#include "net/interfaces.h"
#include "net/netbios.h"
#include "net/port_holder.h"
#include "net/resolver.h"
#include "net/socket.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::string_view kMailslotPrefix = "\\MAILSLOT\\";
// How long the interface list is trusted before it is read again.
constexpr auto kInterfacesLifetime = std::chrono::seconds(2);
// Answers kept for one query under way; a flood of them is cut off here.
constexpr std::size_t kMaxQueuedAnswers = 256;

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

std::string AsciiUpper(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](char c) { return AsciiUpper(c); });
  return result;
}

// While this process holds the name service port its own queries go from it too
// (some old systems answer only there); the answers that arrive on it are handed
// to every query under way.
class THolderQueries final : public IHolderService {
 public:
  class TChannel;

  explicit THolderQueries(std::uint16_t namePort) : FNamePort(namePort) {}

  void Started(THolderPorts& ports) override {
    std::lock_guard<std::mutex> guard(FLock);
    FPorts = &ports;
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

THolderConfig HolderConfig(const TTransportConfig& config,
                           const std::shared_ptr<THolderQueries>& queries) {
  THolderConfig holder;
  holder.computerName = config.computerName;
  holder.userName = config.userName;
  holder.workgroup = config.workgroup;
  holder.connectLocal = config.connectLocal;
  holder.senderLimited = config.senderLimited;
  holder.services.push_back(queries);
  holder.datagramPort = config.datagramPort;
  holder.namePort = config.namePort;
  return holder;
}

}  // namespace

struct TTransport::TState {
  explicit TState(TTransportConfig c)
      : config(std::move(c)),
        resolver(config.namePort),
        queries(std::make_shared<THolderQueries>(config.namePort)),
        holder(HolderConfig(config, queries)) {
    computer00 = NetBiosName::Make(config.computerName, 0x00);
    workgroup00 = NetBiosName::Make(config.workgroup, 0x00);
    nextId = static_cast<std::uint16_t>(std::random_device{}());
  }

  const TTransportConfig config;
  TResolver resolver;
  std::shared_ptr<THolderQueries> queries;
  TPortHolder holder;
  NetBiosName computer00, workgroup00;
  std::atomic<std::uint16_t> nextId{0};

  // For writes, from any thread: one socket to send from, made at the first write,
  // and the interfaces as last read (again after kInterfacesLifetime).
  std::mutex sendLock;
  TFd sendSocket;
  std::vector<TInterface> sendInterfaces;
  TClock::time_point sendInterfacesRead{};

  // The socket and interfaces a write uses; an invalid socket when none can be had.
  int SendSocket(std::vector<TInterface>& current) {
    std::lock_guard<std::mutex> guard(sendLock);
    const TClock::time_point now = TClock::now();
    if (sendInterfaces.empty() || now - sendInterfacesRead > kInterfacesLifetime) {
      sendInterfaces = Ipv4Interfaces();
      sendInterfacesRead = now;
    }
    current = sendInterfaces;
    if (!sendSocket.Valid()) sendSocket = OpenUdpSocket(0, true);
    return sendSocket.Get();
  }
};

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

std::string TTransport::ReceiveProblem() const {
  return FState->holder.Problem();
}

bool TTransport::HoldsPorts() const {
  return FState->holder.HoldsPorts();
}

THolderCounts TTransport::HolderCounts() const {
  return FState->holder.Counts();
}

bool TTransport::SendsAtOnce(std::string_view machine) {
  if (machine.empty() || machine.back() == '*') return true;
  return FState->resolver.Cache().Lookup(AsciiUpper(machine), TClock::now()).has_value();
}

TResolver& TTransport::Resolver() {
  return FState->resolver;
}

TSendResult TTransport::Send(std::string_view machine, std::string_view slotName,
                             std::string_view data) {
  if (data.size() > kMaxMailslotData) return TSendResult::TooLong;
  if (machine.empty() || slotName.empty()) return TSendResult::BadName;
  const TTransportConfig& config = FState->config;

  MailslotDatagram datagram;
  datagram.id = FState->nextId.fetch_add(1, std::memory_order_relaxed);
  datagram.source = FState->computer00;
  datagram.mailslot = std::string(kMailslotPrefix) + AsciiUpper(slotName);
  datagram.data = std::string(data);
  std::vector<TInterface> interfaces;
  const int socket = FState->SendSocket(interfaces);

  if (machine.back() == '*') {
    std::string domain = AsciiUpper(machine.substr(0, machine.size() - 1));
    if (domain.empty()) domain = config.workgroup;
    if (domain.size() > 15 || domain.find('*') != std::string::npos) return TSendResult::BadName;
    datagram.type = DatagramType::DirectGroup;
    datagram.destination = NetBiosName::Make(domain, 0x00);
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
  const std::optional<TResolved> target = FState->resolver.Resolve(AsciiUpper(machine));
  if (!target) return TSendResult::NotFound;
  if (socket < 0) return TSendResult::Failed;
  datagram.type = DatagramType::DirectUnique;
  datagram.destination = target->name;
  datagram.sourceIp = SourceAddressFor(interfaces, target->address);
  return SendTo(socket, BuildMailslotDatagram(datagram), target->address, config.datagramPort)
             ? TSendResult::Sent
             : TSendResult::Failed;
}

}  // namespace pling::net
