// SPDX-License-Identifier: GPL-3.0-or-later
// netbios_tool: NetBIOS packets on a test LAN, built and read with pling_net
// alone, as a peer for tests (run it inside a namespace of tests/support/netns-lan,
// never on the host's interfaces). Every command stops by itself: a bounded number
// of packets, a bounded time.
//
//   query NAME SUFFIX BCAST [--unicast] [--tries N] [--interval-ms M] [--wait-ms W]
//       asks for NAME<SUFFIX> from port 137 (an ephemeral port when 137 is taken);
//       prints "answer=IP group=0|1 ttl=T name=NAME<xx> from=IP:PORT" once per
//       distinct answer; exit 0 with an answer, 1 without
//   respond NAME SUFFIX IP [--group] [--count N] [--seconds S]
//       answers queries for NAME<SUFFIX> on port 137 with IP; prints "ready" once
//       bound, "answered=IP:PORT" per answer, and stops after N answers or S seconds
//   send-dgram TO_IP SOURCE#xx DEST#xx SLOT TEXT [--type unique|group|broadcast]
//              [--source-ip IP] [--count N]
//       sends a mailslot write of TEXT (with \0 turned into NUL bytes) to TO_IP:138
//   send-raw TO_IP PORT HEX [--count N]
//       sends the bytes HEX as one UDP datagram, N times
//   recv-dgram [--count N] [--seconds S]
//       prints each mailslot datagram arriving on port 138 as
//       "dgram type=.. from=IP source=.. dest=.. slot=.. data=HEX"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "net/netbios.h"

namespace {

using namespace pling::net;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "netbios_tool: %s\n", what.c_str());
  std::exit(2);
}

class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) Fail(std::string("socket: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  ~Socket() { ::close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Bind(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  std::uint16_t Port() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
  }
  void Send(const std::string& bytes, const sockaddr_in& to) const {
    if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) < 0) {
      Fail(std::string("sendto: ") + std::strerror(errno));
    }
  }
  // Waits until `deadline` for one datagram; false when none came.
  bool Receive(Clock::time_point deadline, std::string& bytes, sockaddr_in& from) const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd waiting{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[65536];
    socklen_t size = sizeof from;
    const ssize_t got =
        ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (got < 0) return false;
    bytes.assign(buffer, static_cast<std::size_t>(got));
    return true;
  }

 private:
  int fd_;
};

sockaddr_in Address(const std::string& ip, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) Fail("not an IPv4 address: " + ip);
  return address;
}

std::uint32_t HostOrder(const std::string& ip) {
  return ntohl(Address(ip, 0).sin_addr.s_addr);
}

std::string Dotted(std::uint32_t hostOrder) {
  in_addr address{htonl(hostOrder)};
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

std::string Peer(const sockaddr_in& from) {
  return Dotted(ntohl(from.sin_addr.s_addr)) + ":" + std::to_string(ntohs(from.sin_port));
}

std::uint8_t Suffix(const std::string& text) {
  return static_cast<std::uint8_t>(std::stoul(text, nullptr, 16));
}

// NAME#xx, or "*" for the broadcast name.
TNetBiosName NameArg(const std::string& text) {
  if (text == "*") return TNetBiosName::Broadcast();
  const std::size_t hash = text.rfind('#');
  if (hash == std::string::npos) Fail("name without #suffix: " + text);
  return TNetBiosName::Make(text.substr(0, hash), Suffix(text.substr(hash + 1)));
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0x0F];
  }
  return hex;
}

std::string Unhex(const std::string& hex) {
  if (hex.size() % 2 != 0) Fail("odd number of hex digits");
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Options after the positional arguments: --flag or --key value.
struct Options {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> named;

  Options(int argc, char** argv, int first, const std::set<std::string>& flags) {
    for (int i = first; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg.rfind("--", 0) != 0) {
        args.push_back(arg);
      } else if (flags.count(arg) != 0) {
        named.emplace_back(arg, "1");
      } else if (i + 1 < argc) {
        named.emplace_back(arg, argv[++i]);
      } else {
        Fail("missing value for " + arg);
      }
    }
  }
  std::string Get(const std::string& key, const std::string& fallback) const {
    for (const auto& [name, value] : named) {
      if (name == key) return value;
    }
    return fallback;
  }
  long Number(const std::string& key, long fallback) const {
    return std::stol(Get(key, std::to_string(fallback)));
  }
  void Need(std::size_t count, const char* usage) const {
    if (args.size() != count) Fail(std::string("usage: netbios_tool ") + usage);
  }
};

int Query(const Options& o) {
  o.Need(3, "query NAME SUFFIX BCAST [--unicast] [--tries N] [--interval-ms M] [--wait-ms W]");
  const TNetBiosName name = TNetBiosName::Make(o.args[0], Suffix(o.args[1]));
  const sockaddr_in to = Address(o.args[2], kNameServicePort);
  const long tries = o.Number("--tries", 3);
  const auto interval = std::chrono::milliseconds(o.Number("--interval-ms", 250));
  const auto wait = std::chrono::milliseconds(o.Number("--wait-ms", 1000));
  Socket socket;
  if (!socket.Bind(kNameServicePort) && !socket.Bind(0)) Fail("cannot bind a UDP port");

  TNameQuery query;
  query.id = static_cast<std::uint16_t>(std::random_device{}());
  query.broadcast = o.Get("--unicast", "") != "1";
  query.name = name;
  const std::string packet = BuildNameQuery(query);
  std::set<std::string> seen;
  for (long attempt = 0; attempt < tries; ++attempt) {
    socket.Send(packet, to);
    const auto deadline = Clock::now() + (attempt + 1 < tries ? interval : wait);
    std::string bytes;
    sockaddr_in from{};
    while (socket.Receive(deadline, bytes, from)) {
      const auto answer = ParseNameAnswer(bytes);
      if (!answer || answer->id != query.id || answer->name != name) continue;
      const std::string line = "answer=" + Dotted(answer->address) +
                               " group=" + (answer->group ? "1" : "0") +
                               " ttl=" + std::to_string(answer->ttl) +
                               " name=" + answer->name.ToString() + " from=" + Peer(from);
      if (seen.insert(line).second) std::printf("%s\n", line.c_str());
    }
  }
  std::printf("source_port=%u\n", socket.Port());
  return seen.empty() ? 1 : 0;
}

int Respond(const Options& o) {
  o.Need(3, "respond NAME SUFFIX IP [--group] [--count N] [--seconds S]");
  const TNetBiosName name = TNetBiosName::Make(o.args[0], Suffix(o.args[1]));
  const std::uint32_t address = HostOrder(o.args[2]);
  const bool group = o.Get("--group", "") == "1";
  const long count = o.Number("--count", 1);
  const auto deadline = Clock::now() + std::chrono::seconds(o.Number("--seconds", 20));
  Socket socket;
  if (!socket.Bind(kNameServicePort)) Fail(std::string("bind 137: ") + std::strerror(errno));
  std::printf("ready\n");
  std::fflush(stdout);
  long answered = 0;
  std::string bytes;
  sockaddr_in from{};
  while (answered < count && socket.Receive(deadline, bytes, from)) {
    const auto query = ParseNameQuery(bytes);
    if (!query || query->name != name) continue;
    socket.Send(BuildNameAnswer({query->id, name, group, 300000, address}), from);
    std::printf("answered=%s\n", Peer(from).c_str());
    std::fflush(stdout);
    ++answered;
  }
  std::printf("answered_total=%ld\n", answered);
  return 0;
}

int SendDatagram(const Options& o) {
  o.Need(5,
         "send-dgram TO_IP SOURCE#xx DEST#xx SLOT TEXT [--type unique|group|broadcast] "
         "[--source-ip IP] [--count N]");
  TMailslotDatagram d;
  const std::string type = o.Get("--type", "unique");
  d.type = type == "group"       ? TDatagramType::DirectGroup
           : type == "broadcast" ? TDatagramType::Broadcast
                                 : TDatagramType::DirectUnique;
  d.sourceIp = HostOrder(o.Get("--source-ip", "0.0.0.0"));
  d.source = NameArg(o.args[1]);
  d.destination = NameArg(o.args[2]);
  d.mailslot = o.args[3];
  for (std::size_t i = 0; i < o.args[4].size(); ++i) {
    if (o.args[4].compare(i, 2, "\\0") == 0) {
      d.data.push_back('\0');
      ++i;
    } else {
      d.data.push_back(o.args[4][i]);
    }
  }
  Socket socket;
  if (!socket.Bind(kDatagramPort)) socket.Bind(0);
  const sockaddr_in to = Address(o.args[0], kDatagramPort);
  const long count = o.Number("--count", 1);
  for (long i = 0; i < count; ++i) {
    d.id = static_cast<std::uint16_t>(d.id + 1);
    socket.Send(BuildMailslotDatagram(d), to);
  }
  std::printf("sent=%ld\n", count);
  return 0;
}

int SendRaw(const Options& o) {
  o.Need(3, "send-raw TO_IP PORT HEX [--count N]");
  Socket socket;
  const sockaddr_in to = Address(o.args[0], static_cast<std::uint16_t>(std::stoul(o.args[1])));
  const std::string bytes = Unhex(o.args[2]);
  const long count = o.Number("--count", 1);
  for (long i = 0; i < count; ++i) socket.Send(bytes, to);
  std::printf("sent=%ld\n", count);
  return 0;
}

int ReceiveDatagrams(const Options& o) {
  o.Need(0, "recv-dgram [--count N] [--seconds S]");
  const long count = o.Number("--count", 1);
  const auto deadline = Clock::now() + std::chrono::seconds(o.Number("--seconds", 20));
  Socket socket;
  if (!socket.Bind(kDatagramPort)) Fail(std::string("bind 138: ") + std::strerror(errno));
  std::printf("ready\n");
  std::fflush(stdout);
  long received = 0;
  std::string bytes;
  sockaddr_in from{};
  while (received < count && socket.Receive(deadline, bytes, from)) {
    const auto d = ParseMailslotDatagram(bytes);
    if (!d) {
      std::printf("dropped from=%s size=%zu\n", Peer(from).c_str(), bytes.size());
      continue;
    }
    std::printf("dgram type=0x%02x from=%s source=%s dest=%s slot=%s data=%s\n",
                static_cast<unsigned>(d->type), Peer(from).c_str(), d->source.ToString().c_str(),
                d->destination.ToString().c_str(), d->mailslot.c_str(), Hex(d->data).c_str());
    std::fflush(stdout);
    ++received;
  }
  std::printf("received_total=%ld\n", received);
  return received == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "query") return Query(Options(argc, argv, 2, {"--unicast"}));
    if (command == "respond") return Respond(Options(argc, argv, 2, {"--group"}));
    if (command == "send-dgram") return SendDatagram(Options(argc, argv, 2, {}));
    if (command == "send-raw") return SendRaw(Options(argc, argv, 2, {}));
    if (command == "recv-dgram") return ReceiveDatagrams(Options(argc, argv, 2, {}));
  } catch (const std::exception& error) {
    Fail(error.what());
  }
  Fail("commands: query, respond, send-dgram, send-raw, recv-dgram");
}
