// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/session_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "net/socket.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

// A reply longer than this is not a reply to a message command.
constexpr std::size_t kMaxReply = 1024;

// Waits until `fd` is ready for `events` or `deadline` passes; whether it is.
bool WaitFor(int fd, short events, TClock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
    if (left.count() <= 0) return false;
    pollfd ready{fd, events, 0};
    const int count = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (count > 0) return true;
    if (count == 0 || errno != EINTR) return false;
  }
}

runtime::TUniqueFd Connect(std::uint32_t address, std::uint16_t port, TClock::time_point deadline) {
  runtime::TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return fd;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(port);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return fd;
  if (errno != EINPROGRESS || !WaitFor(fd.Get(), POLLOUT, deadline)) return runtime::TUniqueFd();
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    return runtime::TUniqueFd();
  }
  return fd;
}

bool SendAll(int fd, std::string_view bytes, TClock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(fd, POLLOUT, deadline)) {
        return false;
      }
      continue;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool ReceiveExactly(int fd, std::string& into, std::size_t count, TClock::time_point deadline) {
  while (into.size() < count) {
    char buffer[512];
    const std::size_t want = std::min(sizeof buffer, count - into.size());
    const ssize_t got = ::recv(fd, buffer, want, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(fd, POLLIN, deadline)) {
        return false;
      }
      continue;
    }
    into.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

struct TPacket {
  std::uint8_t type = 0;
  std::string payload;
};

// The next packet other than a keep-alive.
std::optional<TPacket> ReceivePacket(int fd, TClock::time_point deadline) {
  for (;;) {
    std::string header;
    if (!ReceiveExactly(fd, header, kSessionHeaderSize, deadline)) return std::nullopt;
    const std::optional<TSessionHeader> parsed = ParseSessionHeader(header);
    if (!parsed || parsed->length > kMaxReply) return std::nullopt;
    TPacket packet;
    packet.type = parsed->type;
    if (!ReceiveExactly(fd, packet.payload, parsed->length, deadline)) return std::nullopt;
    if (packet.type != static_cast<std::uint8_t>(TSessionPacketType::KeepAlive)) return packet;
  }
}

// How one command went.
struct TStep {
  bool sent = false;                      // the command went out whole
  std::optional<TSmbMessageReply> reply;  // its reply, success or not
  bool Succeeded() const { return reply && reply->status == 0; }
  bool Refused() const {
    return reply &&
           (reply->status == kStatusRequestNotAccepted || reply->status == kStatusMessagesOff);
  }
};

// Sends one command and reads its reply.
TStep Exchange(int fd, const TSmbMessageRequest& request, TClock::time_point deadline) {
  TStep step;
  step.sent =
      SendAll(fd, BuildSessionPacket(TSessionPacketType::Message, BuildSmbMessageRequest(request)),
              deadline);
  if (!step.sent) return step;
  const std::optional<TPacket> packet = ReceivePacket(fd, deadline);
  if (!packet || packet->type != static_cast<std::uint8_t>(TSessionPacketType::Message)) {
    return step;
  }
  std::optional<TSmbMessageReply> reply = ParseSmbMessageReply(packet->payload);
  if (reply && reply->command == request.command) step.reply = reply;
  return step;
}

}  // namespace

TSessionOutcome SendSessionMessage(std::uint32_t address, std::uint16_t port,
                                   const TSessionRequest& names, const TMessengerMessage& message,
                                   TSessionTimes times) {
  using enum TSessionOutcome;
  if (message.sender.find('\0') != std::string::npos ||
      message.receiver.find('\0') != std::string::npos) {
    return NotTaken;
  }
  const runtime::TUniqueFd fd = Connect(address, port, TClock::now() + times.connect);
  if (!fd.Valid()) return NotTaken;
  const TClock::time_point deadline = TClock::now() + times.exchange;
  if (!SendAll(fd.Get(), BuildSessionRequest(names), deadline)) return NotTaken;
  const std::optional<TPacket> response = ReceivePacket(fd.Get(), deadline);
  if (!response ||
      response->type != static_cast<std::uint8_t>(TSessionPacketType::PositiveResponse)) {
    return NotTaken;
  }

  TSmbMessageRequest request;
  request.command = static_cast<std::uint8_t>(TSmbMessageCommand::SendStart);
  request.originator = message.sender;
  request.destination = message.receiver;
  const TStep started = Exchange(fd.Get(), request, deadline);
  if (started.Refused()) return Refused;
  if (!started.Succeeded()) return NotTaken;

  request = TSmbMessageRequest{};
  // Samba's file server answers the start without a group id and takes 0, as its
  // own client then sends.
  request.group = started.reply->group.value_or(0);
  request.command = static_cast<std::uint8_t>(TSmbMessageCommand::SendText);
  // From the first byte of text on, the message may reach the screen: whatever
  // happens, it is never sent again.
  const TClock::time_point confirmBy = TClock::now() + times.confirm;
  for (std::size_t at = 0; at < message.text.size(); at += kSessionTextBlock) {
    request.text = message.text.substr(at, kSessionTextBlock);
    const TStep text = Exchange(fd.Get(), request, confirmBy);
    if (at == 0 && !text.sent) return NotTaken;
    if (text.reply && !text.Succeeded()) return Refused;
    if (!text.reply) return Unconfirmed;
  }
  request.text.clear();
  request.command = static_cast<std::uint8_t>(TSmbMessageCommand::SendEnd);
  const TStep ended = Exchange(fd.Get(), request, confirmBy);
  if (ended.Succeeded()) return Delivered;
  return ended.reply ? Refused : Unconfirmed;
}

}  // namespace pling::net
