#include "net/transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "net/interfaces.h"
#include "net/name_service.h"
#include "net/netbios.h"
#include "net/resolver.h"
#include "net/session_client.h"
#include "net/session_server.h"
#include "net/socket.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::string_view kMailslotPrefix = "\\MAILSLOT\\";
constexpr std::string_view kMessengerSlot = "MESSNGR";
// The time to live our name answers carry, as Windows gives it.
constexpr std::uint32_t kAnswerTtl = 259200;
// Datagrams taken from one socket before the others get their turn.
constexpr int kReceiveBatch = 64;
// How long the interface list is trusted before it is read again (only when a
// packet needs it: nothing wakes up for it).
constexpr auto kInterfacesLifetime = std::chrono::seconds(2);
// Pauses between attempts to reach the holder while it cannot be reached: they
// start short and grow, up to the first limit while the holder's name is bound
// but nobody listens on it yet (a hand-over under way), up to the second while a
// holder turns waiters away (its queue is full, or it closes them at once).
constexpr std::chrono::milliseconds kFirstPause{10};
constexpr std::chrono::milliseconds kLongestHandOverPause{50};
constexpr std::chrono::milliseconds kLongestBusyPause{1000};
// A connection to the holder that ends sooner than this was turned away.
constexpr auto kTurnedAway = std::chrono::seconds(1);
// Failed attempts to reach the holder after which the user is told (trying goes on).
constexpr int kAttemptsBeforeProblem = 100;
constexpr std::size_t kMaxClients = 1024;
constexpr int kReceiveBufferBytes = 1 << 20;
// Answers kept for one query under way; a flood of them is cut off here.
constexpr std::size_t kMaxQueuedAnswers = 256;

const char* const kCannotReceive = "Messages from other computers cannot be received: ";

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

std::string AsciiUpper(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](char c) { return AsciiUpper(c); });
  return result;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiUpper(text.substr(0, prefix.size())) == prefix;
}

NetBiosName UpperName(NetBiosName name) {
  for (std::size_t i = 0; i < 15; ++i) {
    name.bytes[i] = static_cast<std::uint8_t>(AsciiUpper(static_cast<char>(name.bytes[i])));
  }
  return name;
}

std::pair<sockaddr_un, socklen_t> HolderAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::copy(kHolderSocket.begin(), kHolderSocket.end(), address.sun_path + 1);
  return {address,
          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + kHolderSocket.size())};
}

std::string PortProblem(std::uint16_t port, int error) {
  const std::string number = std::to_string(port);
  if (error == EACCES || error == EPERM) {
    return std::string(kCannotReceive) + "this program may not use UDP port " + number +
           " (ports below 1024 need the cap_net_bind_service capability; see the README).";
  }
  if (error == EADDRINUSE) {
    return std::string(kCannotReceive) + "another program (such as a NetBIOS name server) " +
           "holds UDP port " + number + ".";
  }
  return std::string(kCannotReceive) + "UDP port " + number + " cannot be opened (" +
         std::strerror(error) + ").";
}

std::chrono::milliseconds Longer(std::chrono::milliseconds pause,
                                 std::chrono::milliseconds longest) {
  return pause.count() == 0 ? kFirstPause : std::min(pause * 2, longest);
}

// Hands up to kReceiveBatch waiting datagrams on `fd` to `take`, with the
// sender's address; stops early when none is left.
template <typename Take>
void ReceiveWaiting(int fd, std::span<char> buffer, Take take) {
  for (int i = 0; i < kReceiveBatch; ++i) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t size = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (size < 0) {
      if (errno == EINTR) continue;
      return;
    }
    take(std::string_view(buffer.data(), static_cast<std::size_t>(size)), from);
  }
}

}  // namespace

struct TTransport::TState {
  explicit TState(TTransportConfig c)
      : config(std::move(c)),
        resolver(config.namePort),
        computer00(NetBiosName::Make(config.computerName, 0x00)),
        computer03(NetBiosName::Make(config.computerName, 0x03)),
        user03(NetBiosName::Make(config.userName, 0x03)),
        workgroup00(NetBiosName::Make(config.workgroup, 0x00)),
        // [names] This machine's names, claimed while this process holds the ports.
        ourNames(TNameServiceConfig{
            {{computer00, false}, {computer03, false}, {user03, false}, {workgroup00, true}},
            config.winsServer,
            config.namePort,
            config.nameTimers,
            config.nameNotice}) {
    nextId = static_cast<std::uint16_t>(std::random_device{}());
    resolver.SetNameServer(config.winsServer);
  }

  const TTransportConfig config;
  TResolver resolver;
  const NetBiosName computer00, computer03, user03, workgroup00;
  TNameService ourNames;
  std::atomic<std::uint16_t> nextId{0};

  mutable std::mutex lock;
  std::condition_variable settledChanged;
  bool started = false;
  bool settled = false;
  bool holds = false;
  std::string problem;
  TFd stop{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::thread thread;

  // While this process holds the name service port its own queries go from it too
  // (some old systems answer only there); the answers that arrive on it are handed
  // to every query under way. Guarded by queryLock.
  class THolderChannel;
  std::mutex queryLock;
  std::condition_variable answered;
  int namesFd = -1;
  std::vector<THolderChannel*> channels;

  // Only the transport's thread uses these.
  std::vector<TInterface> interfaces;
  TClock::time_point interfacesRead{};

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

  void Settle(std::string why, bool holder) {
    std::lock_guard<std::mutex> guard(lock);
    problem = std::move(why);
    holds = holder;
    settled = true;
    settledChanged.notify_all();
  }

  // Waits `pause` unless the transport is stopped first; whether it was.
  bool Wait(std::chrono::milliseconds pause) const {
    pollfd fd{stop.Get(), POLLIN, 0};
    const auto end = TClock::now() + pause;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - TClock::now());
      const int ready = ::poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
      if (ready > 0) return true;
      if (ready == 0 || errno != EINTR) return false;
    }
  }

  const std::vector<TInterface>& Interfaces() {
    const TClock::time_point now = TClock::now();
    if (interfaces.empty() || now - interfacesRead > kInterfacesLifetime) {
      interfaces = Ipv4Interfaces();
      interfacesRead = now;
    }
    return interfaces;
  }

  // Whether a datagram to `name` is for this machine: a name it holds, the
  // workgroup (whose messages never depend on claiming its name) or everybody.
  bool IsOurs(const NetBiosName& name) const {
    const NetBiosName upper = UpperName(name);
    return upper == NetBiosName::Broadcast() || upper == workgroup00 || ourNames.Holds(upper);
  }

  // Session messages (session_server.h, session_client.h).
  std::unique_ptr<TSessionServer> StartSessionServer(std::string& why) const;
  bool SendSessionMessage(const TResolved& target, std::string_view data) const;

  void Run();
  void Serve(TFd& listener, TFd& datagrams, TFd& names);
  void ReceiveDatagrams(int fd);
  void ReceiveNamePackets(int fd);
  void TakeDatagram(std::string_view packet, std::uint32_t from);
  void TakeNamePacket(int fd, std::string_view packet, const sockaddr_in& from);
};

class TTransport::TState::THolderChannel final : public INameQueryChannel {
 public:
  explicit THolderChannel(TState& state) : FState(state) {
    std::lock_guard<std::mutex> guard(FState.queryLock);
    FState.channels.push_back(this);
  }
  ~THolderChannel() override {
    std::lock_guard<std::mutex> guard(FState.queryLock);
    std::erase(FState.channels, this);
  }
  THolderChannel(const THolderChannel&) = delete;
  THolderChannel& operator=(const THolderChannel&) = delete;

  void Send(const std::string& packet, std::uint32_t address) override {
    std::lock_guard<std::mutex> guard(FState.queryLock);
    if (FState.namesFd >= 0) SendTo(FState.namesFd, packet, address, FState.config.namePort);
  }

  std::optional<std::string> Receive(TClock::time_point until) override {
    std::unique_lock<std::mutex> guard(FState.queryLock);
    if (!FState.answered.wait_until(guard, until, [this] { return !answers.empty(); })) {
      return std::nullopt;
    }
    std::string answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  }

  std::deque<std::string> answers;  // guarded by the state's queryLock

 private:
  TState& FState;
};

void TTransport::TState::Run() {
  pthread_setname_np(pthread_self(), "netbios ports");
  const auto [address, length] = HolderAddress();
  std::chrono::milliseconds pause{0};  // before the next attempt
  for (int failures = 0;;) {
    if (Wait(pause)) return;
    TFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.Valid()) {
      Settle(std::string(kCannotReceive) + std::strerror(errno) + ".", false);
      return;
    }
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
      // This process is the one to hold the ports.
      if (::listen(listener.Get(), 64) != 0) {
        Settle(std::string(kCannotReceive) + std::strerror(errno) + ".", false);
        return;
      }
      TFd datagrams = OpenUdpSocket(config.datagramPort, true);
      if (!datagrams.Valid()) {
        Settle(PortProblem(config.datagramPort, errno), false);
        return;  // the listener closes: a waiting process tries for itself
      }
      // Room for a burst of datagrams while the thread hands earlier ones on.
      const int receiveBuffer = kReceiveBufferBytes;
      ::setsockopt(datagrams.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
      TFd names = OpenUdpSocket(config.namePort, true);
      if (!names.Valid()) {
        Settle(PortProblem(config.namePort, errno), false);
        return;
      }
      {
        std::lock_guard<std::mutex> guard(queryLock);
        namesFd = names.Get();
      }
      std::string sessionProblem;
      const std::unique_ptr<TSessionServer> sessions = StartSessionServer(sessionProblem);
      Settle(sessionProblem, true);
      Serve(listener, datagrams, names);
      std::lock_guard<std::mutex> guard(queryLock);
      namesFd = -1;
      return;
    }
    if (errno != EADDRINUSE) {
      Settle(std::string(kCannotReceive) + std::strerror(errno) + ".", false);
      return;
    }
    // Another process holds the ports, or is about to. The connect never waits on
    // it: a holder that does not accept must not hold up the mailslot's opening.
    TFd connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int error =
        !connection.Valid() ? errno
        : ::connect(connection.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0
            ? 0
            : errno;
    if (error == EAGAIN) {
      // The holder's queue is full: it is there, but takes no more waiters now.
      Settle({}, false);
      failures = 0;
      pause = Longer(pause, kLongestBusyPause);
      continue;
    }
    if (error != 0 && error != EINPROGRESS) {
      // The holder ended between the two calls, or its successor has bound the name
      // and listens in a moment: try again shortly, for as long as it takes.
      if (++failures == 1) Settle({}, false);
      if (failures == kAttemptsBeforeProblem) {
        Settle(std::string(kCannotReceive) + "the process that receives them cannot be reached.",
               false);
      }
      pause = Longer(pause, kLongestHandOverPause);
      continue;
    }
    Settle({}, false);
    failures = 0;
    const TClock::time_point connected = TClock::now();
    for (;;) {
      std::array<pollfd, 2> fds{pollfd{connection.Get(), POLLIN, 0}, pollfd{stop.Get(), POLLIN, 0}};
      const int ready = ::poll(fds.data(), fds.size(), -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || (fds[1].revents & POLLIN) != 0) return;
      char byte;
      const ssize_t got = ::recv(connection.Get(), &byte, 1, MSG_DONTWAIT);
      if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR))) continue;
      break;  // the holder has gone: take over
    }
    // A holder that closes its waiters at once is not to be hammered.
    pause = TClock::now() - connected < kTurnedAway ? Longer(pause, kLongestBusyPause)
                                                    : std::chrono::milliseconds(0);
  }
}

void TTransport::TState::Serve(TFd& listener, TFd& datagrams, TFd& names) {
  TFd epoll(::epoll_create1(EPOLL_CLOEXEC));
  if (!epoll.Valid()) {
    Settle(std::string(kCannotReceive) + std::strerror(errno) + ".", false);
    return;
  }
  const auto add = [&](int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return ::epoll_ctl(epoll.Get(), EPOLL_CTL_ADD, fd, &event) == 0;
  };
  if (!add(stop.Get()) || !add(listener.Get()) || !add(datagrams.Get()) || !add(names.Get())) {
    Settle(std::string(kCannotReceive) + std::strerror(errno) + ".", false);
    return;
  }
  // [names] Claimed from the name service port; released when serving ends.
  ourNames.Start(names.Get());
  struct TRelease {
    TNameService& names;
    ~TRelease() { names.Stop(); }
  } release{ourNames};
  const int namesTimer = ourNames.TimerFd();
  if (namesTimer >= 0) add(namesTimer);
  std::unordered_map<int, TFd> clients;  // waiting processes: kept open, never read
  // While no more waiters can be taken (the limit, or no file descriptor left) the
  // listener is out of the watch until one goes; new ones wait in its queue.
  bool accepting = true;
  const auto setAccepting = [&](bool on) {
    if (on == accepting) return;
    accepting = on;
    if (on) {
      add(listener.Get());
    } else {
      ::epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, listener.Get(), nullptr);
    }
  };
  std::array<epoll_event, 16> events{};
  for (;;) {
    const int count = ::epoll_wait(epoll.Get(), events.data(), static_cast<int>(events.size()), -1);
    if (count < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < count; ++i) {
      const int fd = events[static_cast<std::size_t>(i)].data.fd;
      if (fd == stop.Get()) return;
      if (fd == datagrams.Get()) {
        ReceiveDatagrams(fd);
      } else if (fd == names.Get()) {
        ReceiveNamePackets(fd);
      } else if (fd == namesTimer) {
        ourNames.OnTimer();  // [names]
      } else if (fd == listener.Get()) {
        while (accepting) {
          if (clients.size() >= kMaxClients) {
            setAccepting(false);
            break;
          }
          TFd client(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
          if (!client.Valid()) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
              setAccepting(false);
            }
            break;
          }
          if (!add(client.Get())) continue;  // closed: it tries again after a pause
          const int key = client.Get();
          clients.emplace(key, std::move(client));
        }
      } else {
        // A waiting process has gone (or sent something it should not): forget it.
        char buffer[64];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
          ::epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
          clients.erase(fd);
          setAccepting(true);
        }
      }
    }
  }
}

void TTransport::TState::ReceiveDatagrams(int fd) {
  static thread_local std::vector<char> buffer(65536);
  ReceiveWaiting(fd, buffer, [this](std::string_view packet, const sockaddr_in& from) {
    TakeDatagram(packet, ntohl(from.sin_addr.s_addr));
  });
}

void TTransport::TState::TakeDatagram(std::string_view packet, std::uint32_t from) {
  const std::optional<MailslotDatagram> datagram = ParseMailslotDatagram(packet);
  if (!datagram || !IsOurs(datagram->destination)) return;
  if (!StartsWithIgnoreCase(datagram->mailslot, kMailslotPrefix)) return;
  const std::string_view slot = std::string_view(datagram->mailslot).substr(kMailslotPrefix.size());
  if (slot.empty()) return;
  // A group or broadcast write from this machine was handed to the local mailslot
  // by its writer already.
  if (datagram->type != DatagramType::DirectUnique && IsOwnAddress(Interfaces(), from)) return;
  if (config.deliverLocal) config.deliverLocal(slot, datagram->data);
}

void TTransport::TState::ReceiveNamePackets(int fd) {
  std::array<char, 1500> buffer{};
  ReceiveWaiting(fd, buffer, [this, fd](std::string_view packet, const sockaddr_in& from) {
    TakeNamePacket(fd, packet, from);
  });
}

void TTransport::TState::TakeNamePacket(int fd, std::string_view packet, const sockaddr_in& from) {
  if (ourNames.Take(packet, from)) return;  // [names] registrations, releases, their answers
  if (IsNameServiceAnswer(packet)) {
    std::lock_guard<std::mutex> guard(queryLock);
    for (THolderChannel* channel : channels) {
      if (channel->answers.size() < kMaxQueuedAnswers) channel->answers.emplace_back(packet);
    }
    answered.notify_all();
    return;
  }
  const std::uint32_t asker = ntohl(from.sin_addr.s_addr);
  if (const std::optional<StatusQuery> status = ParseStatusQuery(packet)) {
    // Asked for this machine's names ("*", or one of them): all of them, back to
    // the asker alone.
    const NetBiosName name = UpperName(status->name);
    if (name != NetBiosName::Broadcast() && !IsOurs(name)) return;
    std::vector<StatusEntry> held;  // [names] only those this machine holds
    for (const TClaimedName& claim : ourNames.Held()) held.push_back({claim.name, claim.group});
    SendTo(fd, BuildStatusAnswer(StatusAnswer{status->id, status->name, std::move(held)}), asker,
           ntohs(from.sin_port));
    return;
  }
  const std::optional<NameQuery> query = ParseNameQuery(packet);
  if (!query) return;
  const NetBiosName name = UpperName(query->name);
  const bool group = name == workgroup00;
  if (!ourNames.Holds(name)) return;  // [names]
  const std::uint32_t address = SourceAddressFor(Interfaces(), asker);
  if (address == 0) return;
  const std::string answer =
      BuildNameAnswer(NameAnswer{query->id, query->name, group, kAnswerTtl, address});
  SendTo(fd, answer, asker, ntohs(from.sin_port));
}

std::unique_ptr<TSessionServer> TTransport::TState::StartSessionServer(std::string& why) const {
  if (config.sessionPort == 0) return nullptr;
  TSessionServerConfig sessions;
  sessions.computerName = config.computerName;
  sessions.userName = config.userName;
  sessions.holds = [this](const NetBiosName& name) { return ourNames.Holds(name); };  // [names]
  sessions.port = config.sessionPort;
  if (config.deliverLocal) {
    sessions.deliver = [deliver = config.deliverLocal](std::string_view datagram) {
      return deliver(kMessengerSlot, datagram);
    };
  }
  auto server = std::make_unique<TSessionServer>(std::move(sessions));
  why = server->Start();
  return server;
}

bool TTransport::TState::SendSessionMessage(const TResolved& target, std::string_view data) const {
  // The messenger datagram's fields: sender, 0x00, receiver, 0x00, text.
  const std::size_t first = data.find('\0');
  const std::size_t second = first == std::string_view::npos ? first : data.find('\0', first + 1);
  if (second == std::string_view::npos) return false;
  TSessionMessage message;
  message.sender = std::string(data.substr(0, first));
  message.receiver = std::string(data.substr(first + 1, second - first - 1));
  const std::string_view text = data.substr(second + 1);
  message.text = std::string(text.substr(0, text.find('\0')));
  SessionRequest names;
  names.called = target.name;
  names.called.bytes[15] = 0x03;  // the machine's messenger name
  names.calling = computer00;
  return net::SendSessionMessage(target.address, config.sessionPort, names, message);
}

TTransport::TTransport(TTransportConfig config)
    : FState(std::make_shared<TState>(std::move(config))) {
  TState* state = FState.get();
  FState->resolver.SetChannelFactory([state]() -> std::unique_ptr<INameQueryChannel> {
    {
      std::lock_guard<std::mutex> guard(state->queryLock);
      if (state->namesFd < 0) return nullptr;  // from a port of its own
    }
    return std::make_unique<TState::THolderChannel>(*state);
  });
}

TTransport::~TTransport() {
  StopReceiving();
}

void TTransport::StopReceiving() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(FState->lock);
    thread = std::move(FState->thread);
  }
  if (thread.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FState->stop.Get(), &one, sizeof one);
    thread.join();
  }
}

void TTransport::StartReceiving() {
  std::unique_lock<std::mutex> guard(FState->lock);
  if (!FState->started) {
    FState->started = true;
    if (!FState->stop.Valid()) {
      FState->problem = std::string(kCannotReceive) + std::strerror(errno) + ".";
      FState->settled = true;
      return;
    }
    TState* state = FState.get();
    FState->settled = false;
    try {
      FState->thread = std::thread([state] { state->Run(); });
    } catch (const std::exception& error) {
      // Sending, and this machine's own mailslots, work without it; a later call
      // tries again.
      const auto* system = dynamic_cast<const std::system_error*>(&error);
      FState->problem = std::string(kCannotReceive) + "the thread that receives them cannot be " +
                        "started (" + (system != nullptr ? system->code().message() : "no memory") +
                        ").";
      FState->holds = false;
      FState->settled = true;
      FState->started = false;
      return;
    }
  }
  FState->settledChanged.wait(guard, [this] { return FState->settled; });
}

std::string TTransport::ReceiveProblem() const {
  std::lock_guard<std::mutex> guard(FState->lock);
  return FState->problem;
}

bool TTransport::HoldsPorts() const {
  std::lock_guard<std::mutex> guard(FState->lock);
  return FState->holds;
}

bool TTransport::SendsAtOnce(std::string_view machine, TSendWay way) {
  if (machine.empty() || machine.back() == '*') return true;
  const auto cached = FState->resolver.Cache().Lookup(AsciiUpper(machine), TClock::now());
  if (!cached) return false;
  // A name nobody answered for fails at once; a session message waits for its machine.
  return !cached->has_value() || way == TSendWay::Datagram || FState->config.sessionPort == 0;
}

TResolver& TTransport::Resolver() {
  return FState->resolver;
}

TSendResult TTransport::Send(std::string_view machine, std::string_view slotName,
                             std::string_view data, TSendWay way) {
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
  // A session message first where the machine takes one: it is confirmed.
  if (way == TSendWay::SessionFirst && config.sessionPort != 0 &&
      AsciiUpper(slotName) == kMessengerSlot && FState->SendSessionMessage(*target, data)) {
    return TSendResult::Delivered;
  }
  if (socket < 0) return TSendResult::Failed;
  datagram.type = DatagramType::DirectUnique;
  datagram.destination = target->name;
  datagram.sourceIp = SourceAddressFor(interfaces, target->address);
  return SendTo(socket, BuildMailslotDatagram(datagram), target->address, config.datagramPort)
             ? TSendResult::Sent
             : TSendResult::Failed;
}

}  // namespace pling::net
