// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/session_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "net/inherited_sockets.h"
#include "net/interfaces.h"
#include "net/samba_services.h"
#include "net/socket.h"
#include "runtime/thread_name.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::string_view kCannotReceive =
    "Messages sent as session messages (net send, smbclient -M) cannot be received: ";
// Reads taken from one connection before the others get their turn.
constexpr int kReadsPerTurn = 8;
constexpr std::size_t kReadSize = 4096;
// How long the listener rests when no file descriptor is left for a connection.
constexpr auto kOutOfDescriptorsPause = std::chrono::seconds(1);
constexpr int kBacklog = 64;

// Windows senders write a line break as 0x14; the window and the command line
// show CR LF as one.
std::string WithLineBreaks(std::string text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    if (c == '\x14') {
      result += "\r\n";
    } else {
      result += c;
    }
  }
  return result;
}

// Text blocks are zero-terminated by some senders: the text ends there.
std::string UpToZero(std::string text) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

}  // namespace

TSessionConversation::TSessionConversation(const TSessionLimits& limits, std::uint16_t group,
                                           TAnswersTo answersTo, TDeliver deliver,
                                           TFromUtf8 fromUtf8, TAdmit admit)
    : FLimits(limits),
      FGroup(group),
      FAnswersTo(std::move(answersTo)),
      FDeliver(std::move(deliver)),
      FFromUtf8(std::move(fromUtf8)),
      FAdmit(std::move(admit)) {}

bool TSessionConversation::Take(std::string_view bytes) {
  if (FClosed) return false;
  FInput.append(bytes);
  std::size_t at = 0;
  for (;;) {
    const std::string_view rest = std::string_view(FInput).substr(at);
    if (rest.size() < kSessionHeaderSize) break;
    const std::optional<TSessionHeader> header = ParseSessionHeader(rest);
    if (!header || header->length > FLimits.maxPacket) {
      FClosed = true;
      break;
    }
    if (rest.size() - kSessionHeaderSize < header->length) break;  // the rest is on its way
    const std::string_view payload = rest.substr(kSessionHeaderSize, header->length);
    at += kSessionHeaderSize + header->length;
    if (!TakePacket(header->type, payload)) {
      FClosed = true;
      break;
    }
  }
  if (FClosed) {
    FInput.clear();
    FInput.shrink_to_fit();
    FPending.reset();
    return false;
  }
  FInput.erase(0, at);
  return true;
}

bool TSessionConversation::TakePacket(std::uint8_t type, std::string_view payload) {
  switch (static_cast<TSessionPacketType>(type)) {
    case TSessionPacketType::KeepAlive:
      return true;
    case TSessionPacketType::Request: {
      if (FEstablished) return false;  // a second request: a protocol error
      const std::optional<TSessionRequest> request = ParseSessionRequest(payload);
      if (!request) {
        FOutput += BuildNegativeSessionResponse(kUnspecifiedError);
        return false;
      }
      if (!FAnswersTo(request->called)) {
        FOutput += BuildNegativeSessionResponse(kCalledNameNotPresent);
        return false;
      }
      FOutput += BuildPositiveSessionResponse();
      FEstablished = true;
      return true;
    }
    case TSessionPacketType::Message:
      if (!FEstablished) return false;
      return TakeSmb(payload);
    default:
      return false;
  }
}

void TSessionConversation::Reply(const TSmbMessageRequest& request, TSmbStatus status,
                                 std::uint16_t group) {
  FOutput +=
      BuildSessionPacket(TSessionPacketType::Message, BuildSmbMessageReply(request, status, group));
  if (status != kSmbSuccess) ++FErrors;
}

TSmbStatus TSessionConversation::Deliver(const std::string& sender, const std::string& receiver,
                                         std::string text) {
  std::string datagram = sender;
  datagram += '\0';
  datagram += receiver;
  datagram += '\0';
  datagram += WithLineBreaks(std::move(text));
  return FDeliver && FDeliver(datagram) ? kSmbSuccess : kSmbNotReceiving;
}

bool TSessionConversation::TakeSmb(std::string_view payload) {
  TSmbMessageRequest request;
  switch (ParseSmbMessageRequest(payload, request)) {
    case TSmbRequestVerdict::NotSmb:
      return false;
    case TSmbRequestVerdict::UnknownCommand:
      Reply(request, kSmbUnknownCommand);
      return FErrors < FLimits.maxErrors;
    case TSmbRequestVerdict::Malformed:
      Reply(request, kSmbBadRequest);
      return FErrors < FLimits.maxErrors;
    case TSmbRequestVerdict::Ok:
      break;
  }
  const bool namesFit =
      request.originator.size() <= FLimits.maxName && request.destination.size() <= FLimits.maxName;
  std::string text = UpToZero(std::move(request.text));
  switch (static_cast<TSmbMessageCommand>(request.command)) {
    case TSmbMessageCommand::Send:
      if (!namesFit) {
        Reply(request, kSmbBadRequest);
      } else if (text.size() > FLimits.maxText || (FAdmit && !FAdmit())) {
        Reply(request, kSmbNoRoom);
      } else {
        TSessionText whole(FFromUtf8);
        whole.Add(text);
        Reply(request, Deliver(request.originator, request.destination, whole.Take()));
      }
      break;
    case TSmbMessageCommand::SendStart:
      // A new message replaces one that never ended.
      FPending.reset();
      if (!namesFit) {
        Reply(request, kSmbBadRequest);
      } else if (FAdmit && !FAdmit()) {
        Reply(request, kSmbNoRoom);
      } else {
        FPending = TPending{request.originator, request.destination, TSessionText(FFromUtf8)};
        Reply(request, kSmbSuccess, FGroup);
      }
      break;
    case TSmbMessageCommand::SendText:
      if (!FPending || request.group != FGroup) {
        Reply(request, kSmbBadRequest);
      } else if (text.size() > FLimits.maxText - FPending->text.Received()) {
        FPending.reset();
        Reply(request, kSmbNoRoom);
      } else {
        FPending->text.Add(text);
        Reply(request, kSmbSuccess);
      }
      break;
    case TSmbMessageCommand::SendEnd:
      if (!FPending || request.group != FGroup) {
        Reply(request, kSmbBadRequest);
      } else {
        TPending message = std::move(*FPending);
        FPending.reset();
        Reply(request, Deliver(message.sender, message.receiver, message.text.Take()));
      }
      break;
  }
  return FErrors < FLimits.maxErrors;
}

struct TSessionServer::TState {
  explicit TState(TSessionServerConfig c)
      : config(std::move(c)),
        computer03(TNetBiosName::Make(config.computerName, 0x03)),
        user03(TNetBiosName::Make(config.userName, 0x03)) {}

  struct TConnection {
    runtime::TUniqueFd fd;
    std::uint32_t peer = 0;
    TClock::time_point lastActive;
    std::unique_ptr<TSessionConversation> conversation;
  };

  const TSessionServerConfig config;
  const TNetBiosName computer03, user03;
  runtime::TUniqueFd listener;
  runtime::TUniqueFd epoll;
  runtime::TUniqueFd stop{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::uint16_t port = 0;
  std::optional<TPortRefusal> refused;  // by the last Start
  std::thread thread;

  // Only the server's thread uses these.
  std::unordered_map<int, TConnection> connections;
  TSenderLimits senders{config.senderLimit};
  TInterfaceCache interfaces;
  std::uint16_t nextGroup = 1;
  bool listening = true;
  TClock::time_point listenAgain{};

  bool AnswersTo(const TNetBiosName& called) const {
    const TNetBiosName upper = called.Upper();
    if (config.holdsForUser && config.holdsForUser(upper)) return true;  // [users]
    const bool ours = upper == computer03 || (!config.userName.empty() && upper == user03);
    return ours && (!config.holds || config.holds(upper));  // [names]
  }

  // Whether one more message from `peer` is within its sender limit.
  bool Admit(std::uint32_t peer) {
    const TClock::time_point now = TClock::now();
    if ((peer >> 24) == 127 || IsLocalSender(interfaces.Get(now), peer)) return true;
    if (config.admitSender) return config.admitSender(peer);
    const TSenderVerdict verdict = senders.Take(peer, now, TSenderWay::Session);
    if (ToReport(verdict) && config.senderLimited) {
      config.senderLimited(verdict == TSenderVerdict::DropAllAndReport ? kAllSenders : peer);
    }
    return Taken(verdict);
  }

  bool Watch(int fd, std::uint32_t events, int op = EPOLL_CTL_ADD) const {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    return ::epoll_ctl(epoll.Get(), op, fd, &event) == 0;
  }

  void Run();
  void Accept(TClock::time_point now);
  void MakeRoomFor(std::uint32_t peer);
  void Read(int fd, TClock::time_point now);
  void Close(int fd);
  // Sends what the connection's replies left; false when it is to be closed.
  bool Flush(TConnection& connection);
  void CloseIdle(TClock::time_point now);
  int NextTimeout(TClock::time_point now) const;
};

void TSessionServer::TState::Run() {
  runtime::SetThreadName("session msgs");
  std::array<epoll_event, 32> events{};
  for (;;) {
    const int count = ::epoll_wait(epoll.Get(), events.data(), static_cast<int>(events.size()),
                                   NextTimeout(TClock::now()));
    if (count < 0 && errno != EINTR) return;
    const TClock::time_point now = TClock::now();
    for (int i = 0; i < count; ++i) {
      const epoll_event& event = events[static_cast<std::size_t>(i)];
      if (event.data.fd == stop.Get()) return;
      if (event.data.fd == listener.Get()) {
        Accept(now);
        continue;
      }
      const auto found = connections.find(event.data.fd);
      if (found == connections.end()) continue;
      if ((event.events & EPOLLOUT) != 0 && !Flush(found->second)) {
        Close(event.data.fd);
        continue;
      }
      if ((event.events & (EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0)
        Read(event.data.fd, now);
    }
    if (!listening && now >= listenAgain && Watch(listener.Get(), EPOLLIN)) listening = true;
    CloseIdle(now);
  }
}

int TSessionServer::TState::NextTimeout(TClock::time_point now) const {
  // Idle, nothing is timed: the thread sleeps until something happens.
  std::optional<TClock::time_point> next;
  if (!listening) next = listenAgain;
  for (const auto& [fd, connection] : connections) {
    const TClock::time_point due = connection.lastActive + config.limits.idleTimeout;
    if (!next || due < *next) next = due;
  }
  if (!next) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, 60 * 60 * 1000));
}

void TSessionServer::TState::CloseIdle(TClock::time_point now) {
  std::vector<int> idle;
  for (const auto& [fd, connection] : connections) {
    if (now - connection.lastActive >= config.limits.idleTimeout) idle.push_back(fd);
  }
  for (const int fd : idle) Close(fd);
}

void TSessionServer::TState::MakeRoomFor(std::uint32_t peer) {
  // The least recently active of those connections, preferring ones that never
  // made a session.
  const auto victim = [this](auto&& among) {
    int chosen = -1;
    bool chosenEstablished = true;
    TClock::time_point chosenActive{};
    for (const auto& [fd, connection] : connections) {
      if (!among(connection)) continue;
      const bool established = connection.conversation->Established();
      if (chosen < 0 || (chosenEstablished && !established) ||
          (chosenEstablished == established && connection.lastActive < chosenActive)) {
        chosen = fd;
        chosenEstablished = established;
        chosenActive = connection.lastActive;
      }
    }
    return chosen;
  };
  std::size_t fromPeer = 0;
  for (const auto& [fd, connection] : connections) fromPeer += connection.peer == peer ? 1 : 0;
  if (fromPeer >= config.limits.maxSessionsPerPeer) {
    Close(victim([peer](const TConnection& c) { return c.peer == peer; }));
  }
  if (connections.size() >= config.limits.maxSessions) {
    // Room is made at the expense of the address that holds the most (the new
    // connection counted), so that one from a quiet address always gets in, and
    // stays while many addresses open and close connections around it.
    std::unordered_map<std::uint32_t, std::size_t> held{{peer, 1}};
    std::size_t most = 1;
    for (const auto& [fd, connection] : connections) {
      most = std::max(most, ++held[connection.peer]);
    }
    const int chosen = victim([&](const TConnection& c) { return held[c.peer] == most; });
    Close(chosen >= 0 ? chosen : victim([](const TConnection&) { return true; }));
  }
}

void TSessionServer::TState::Accept(TClock::time_point now) {
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    runtime::TUniqueFd fd(::accept4(listener.Get(), reinterpret_cast<sockaddr*>(&from), &fromLength,
                                    SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.Valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The connection waits in the queue; the listener rests meanwhile instead of
        // waking this thread again and again.
        ::epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, listener.Get(), nullptr);
        listening = false;
        listenAgain = now + kOutOfDescriptorsPause;
      }
      return;
    }
    const std::uint32_t peer = ntohl(from.sin_addr.s_addr);
    MakeRoomFor(peer);
    if (!Watch(fd.Get(), EPOLLIN | EPOLLRDHUP)) continue;
    TConnection connection;
    connection.peer = peer;
    connection.lastActive = now;
    const std::uint16_t group = nextGroup;
    nextGroup = static_cast<std::uint16_t>(nextGroup == 0xFFFF ? 1 : nextGroup + 1);
    connection.conversation = std::make_unique<TSessionConversation>(
        config.limits, group, [this](const TNetBiosName& called) { return AnswersTo(called); },
        config.deliver, config.fromUtf8, [this, peer] { return Admit(peer); });
    const int key = fd.Get();
    connection.fd = std::move(fd);
    connections.emplace(key, std::move(connection));
  }
}

void TSessionServer::TState::Read(int fd, TClock::time_point now) {
  TConnection& connection = connections.at(fd);
  std::array<char, kReadSize> buffer{};
  bool open = true;
  for (int i = 0; i < kReadsPerTurn && open; ++i) {
    const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      open = false;
      break;
    }
    if (got == 0) {
      open = false;
      break;
    }
    connection.lastActive = now;
    open = connection.conversation->Take(
        std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    open = Flush(connection) && open;
  }
  if (!open) Close(fd);
}

bool TSessionServer::TState::Flush(TConnection& connection) {
  std::string& output = connection.conversation->Output();
  while (!output.empty()) {
    const ssize_t sent =
        ::send(connection.fd.Get(), output.data(), output.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      break;
    }
    output.erase(0, static_cast<std::size_t>(sent));
  }
  if (output.size() > config.limits.maxUnsent) return false;
  // Told when there is room again while replies wait.
  return Watch(connection.fd.Get(),
               EPOLLIN | EPOLLRDHUP | (output.empty() ? 0u : static_cast<std::uint32_t>(EPOLLOUT)),
               EPOLL_CTL_MOD);
}

void TSessionServer::TState::Close(int fd) {
  const auto found = connections.find(fd);
  if (found == connections.end()) return;
  ::epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
  connections.erase(found);
}

TSessionServer::TSessionServer(TSessionServerConfig config)
    : FState(std::make_unique<TState>(std::move(config))) {}

TSessionServer::~TSessionServer() {
  if (FState->thread.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FState->stop.Get(), &one, sizeof one);
    FState->thread.join();
  }
}

std::optional<TPortRefusal> TSessionServer::Refused() const {
  return FState->refused;
}

std::uint16_t TSessionServer::Port() const {
  return FState->port;
}

std::string TSessionServer::Start() {
  TState& state = *FState;
  if (state.thread.joinable()) return {};
  const auto problem = [](const std::string& why) { return std::string(kCannotReceive) + why; };
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(state.config.address);
  address.sin_port = htons(state.config.port);
  // A listening socket the service manager bound for this process is taken as it
  // is (inherited_sockets.h); else the port is bound here.
  if (state.config.port != 0) state.listener = InheritedSocket(SOCK_STREAM, state.config.port);
  if (!state.listener.Valid()) {
    state.listener =
        runtime::TUniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!state.listener.Valid()) return problem(std::string(std::strerror(errno)) + ".");
    // The port is free again at once after the previous holder ends, though its
    // closed connections linger for a while.
    const int on = 1;
    ::setsockopt(state.listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(state.listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0 ||
        ::listen(state.listener.Get(), kBacklog) != 0) {
      const int error = errno;
      state.listener.Reset();
      state.refused = TPortRefusal{true, state.config.port, error};
      if (error == EACCES || error == EPERM) {
        const std::string samba = EnabledSambaServices().session;
        if (!samba.empty()) return problem(SambaKeepsSessionPort(samba));
      }
      return problem(RefusalText({*state.refused}));
    }
  }
  state.refused.reset();
  socklen_t length = sizeof address;
  ::getsockname(state.listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  state.port = ntohs(address.sin_port);
  state.epoll = runtime::TUniqueFd(::epoll_create1(EPOLL_CLOEXEC));
  if (!state.epoll.Valid() || !state.stop.Valid() || !state.Watch(state.stop.Get(), EPOLLIN) ||
      !state.Watch(state.listener.Get(), EPOLLIN)) {
    const int error = errno;
    state.listener.Reset();
    return problem(std::string(std::strerror(error)) + ".");
  }
  try {
    state.thread = std::thread([&state] { state.Run(); });
  } catch (const std::system_error& error) {
    state.listener.Reset();
    return problem("the thread that receives them cannot be started (" + error.code().message() +
                   ").");
  }
  return {};
}

}  // namespace pling::net
