// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/port_holder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "net/holder_helper.h"
#include "net/holder_wire.h"
#include "net/interfaces.h"
#include "net/samba_services.h"
#include "net/socket.h"
#include "runtime/thread_name.h"

namespace pling::net {

namespace {

using TClock = std::chrono::steady_clock;

// Datagrams taken in one call, and calls before the other sockets get their turn.
constexpr unsigned kReceiveBatch = 32;
constexpr int kReceiveCalls = 2;
// Room for one datagram. A mailslot write with its data within kMaxMailslotData
// and a name a mailslot can have is far shorter; a longer datagram is cut here
// and discarded as too long.
constexpr std::size_t kDatagramRoom = 2048;
constexpr std::size_t kNamePacketRoom = 1500;
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
// A process that cannot have the ports tries again after this pause, twice as
// long after each failure, up to the second (a holder may start meanwhile).
constexpr std::chrono::milliseconds kFirstPortRetry{1000};
constexpr std::chrono::milliseconds kLongestPortRetry{60000};
// A helper started to hold the ports (THolderConfig::startHelper) has this long
// to take them; meanwhile this process tries to reach it at short pauses.
constexpr std::chrono::seconds kHelperStart{2};
// A service that could not start (another program held its port) is started
// again this often while the ports are held, until it runs.
constexpr std::chrono::seconds kServiceRetry{5};
constexpr std::size_t kMaxClients = 1024;
// Senders found over their limit by other threads, waiting to be reported.
constexpr std::size_t kMaxQueuedReports = 64;
// Room in the kernel for a burst of datagrams while the thread hands earlier ones
// on (the system's limit applies where the process may not go beyond it).
constexpr int kReceiveBufferBytes = 4 << 20;

// The most a waiter sends (its greeting, holder_wire.h).
constexpr std::size_t kMaxGreeting = 17;

std::pair<sockaddr_un, socklen_t> HolderAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::copy(kHolderSocket.begin(), kHolderSocket.end(), address.sun_path + 1);
  return {address,
          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + kHolderSocket.size())};
}

std::string SystemProblem(int error) {
  return CannotReceive(std::string(std::strerror(error)) + ".");
}

// Why the holder cannot have its ports: every one that was refused named.
std::string PortsProblem(const std::vector<TPortRefusal>& refused) {
  const bool barred = std::any_of(refused.begin(), refused.end(), [](const TPortRefusal& r) {
    return !r.tcp && (r.error == EACCES || r.error == EPERM);
  });
  if (barred) {
    const std::string samba = EnabledSambaServices().datagram;
    if (!samba.empty()) return CannotReceive(SambaKeepsDatagramPorts(samba));
    // Where no systemd runs, the helper that may use them is for a group's members.
    if (const std::string helper = HolderHelperPath();
        IsHolderHelper(helper) && !HelperRunnable(helper)) {
      return CannotReceive(RefusalText(refused, helper));
    }
  }
  return CannotReceive(RefusalText(refused));
}

std::chrono::milliseconds Longer(std::chrono::milliseconds pause, std::chrono::milliseconds longest,
                                 std::chrono::milliseconds first = kFirstPause) {
  return pause.count() == 0 ? first : std::min(pause * 2, longest);
}

// Whether a port that could not be had may come free later: another program
// holds it, or this one may not bind it (a holder with the right may start).
bool MayComeFree(int error) {
  return error == EADDRINUSE || error == EACCES || error == EPERM;
}

// Several datagrams from one socket in one call.
class TBatchReceiver {
 public:
  explicit TBatchReceiver(std::size_t room) : FBuffers(kReceiveBatch * room) {
    for (unsigned i = 0; i < kReceiveBatch; ++i) {
      FVectors[i] = iovec{FBuffers.data() + i * room, room};
    }
  }

  // Receives what waits (up to kReceiveBatch) and hands each to `take` with its
  // sender and whether it was cut short; the number received.
  template <typename Take>
  unsigned Receive(int fd, Take take) {
    for (unsigned i = 0; i < kReceiveBatch; ++i) {
      FHeaders[i] = mmsghdr{};
      FHeaders[i].msg_hdr.msg_name = &FFrom[i];
      FHeaders[i].msg_hdr.msg_namelen = sizeof FFrom[i];
      FHeaders[i].msg_hdr.msg_iov = &FVectors[i];
      FHeaders[i].msg_hdr.msg_iovlen = 1;
    }
    int count;
    do {
      count = ::recvmmsg(fd, FHeaders.data(), kReceiveBatch, MSG_DONTWAIT, nullptr);
    } while (count < 0 && errno == EINTR);
    if (count <= 0) return 0;
    for (int i = 0; i < count; ++i) {
      const mmsghdr& header = FHeaders[static_cast<std::size_t>(i)];
      const sockaddr_in& from = FFrom[static_cast<std::size_t>(i)];
      const std::size_t size = std::min<std::size_t>(header.msg_len, FVectors[0].iov_len);
      take(std::string_view(static_cast<const char*>(header.msg_hdr.msg_iov->iov_base), size),
           TPacketSource{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)},
           (header.msg_hdr.msg_flags & MSG_TRUNC) != 0);
    }
    return static_cast<unsigned>(count);
  }

 private:
  std::vector<char> FBuffers;
  std::array<iovec, kReceiveBatch> FVectors{};
  std::array<mmsghdr, kReceiveBatch> FHeaders{};
  std::array<sockaddr_in, kReceiveBatch> FFrom{};
};

class TNamePorts final : public THolderPorts {
 public:
  using TAdmit = std::function<bool(std::uint32_t address)>;
  TNamePorts(int fd, int datagramFd, TAdmit admit)
      : FFd(fd), FDatagramFd(datagramFd), FAdmit(std::move(admit)) {}
  bool SendNamePacket(std::string_view packet, std::uint32_t address, std::uint16_t port) override {
    return SendTo(FFd, packet, address, port, false);
  }
  bool SendDatagram(std::string_view packet, std::uint32_t address, std::uint16_t port) override {
    return SendTo(FDatagramFd, packet, address, port, false);
  }
  bool AdmitMessageFrom(std::uint32_t address) override { return FAdmit(address); }

 private:
  const int FFd;
  const int FDatagramFd;
  const TAdmit FAdmit;
};

}  // namespace

std::string CannotReceive(std::string_view why) {
  return "Messages from other computers cannot be received: " + std::string(why);
}

struct TPortHolder::TState {
  explicit TState(THolderConfig c) : config(std::move(c)), receiver(Names(config), config.limit) {
    // Services see each datagram before it is looked at for a local mailslot.
    receiver.SetTap(
        [this](const TMailslotDatagram& datagram, const TPacketSource& from, bool local) {
          for (const auto& service : config.services) {
            if (service->TakeDatagram(datagram, from, local)) return true;
          }
          return false;
        });
  }

  static THolderNames Names(const THolderConfig& config) {
    THolderNames names(config.computerName, config.userName, config.workgroup, config.holds,
                       config.yields);
    names.users = config.waiters;  // [users]
    return names;
  }

  const THolderConfig config;
  THolderReceiver receiver;

  mutable std::mutex lock;
  std::condition_variable settledChanged;
  bool started = false;
  bool settled = false;
  bool holds = false;
  bool served = false;  // a holder settled this user's name
  std::string problem;
  std::vector<TPortRefusal> refused;  // the ports `problem` is about
  runtime::TUniqueFd stop{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::thread thread;

  // A waiting process, as the holder sees it.
  struct TClient {
    runtime::TUniqueFd fd;
    std::string greeting;  // what it sent so far
    bool greeted = false;
    std::string user;   // its user's name to claim; empty: none
    bool told = false;  // told that its user's name is settled
  };
  // Only the holder's thread uses these.
  std::unordered_map<int, TClient> clients;
  std::vector<int> brokenClients;  // to be closed once the current events are done

  // Senders to report that other threads (the name service's, the session
  // server's) found over their limit: the holder's thread tells the waiters,
  // whose sockets are its own. A few at most: while one floods, it is reported
  // again only every kLimitReportInterval.
  std::mutex reportsLock;
  std::vector<std::uint32_t> reports;
  runtime::TUniqueFd reportsRung{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  void ReportLimitedLater(std::uint32_t address) {
    {
      std::lock_guard<std::mutex> guard(reportsLock);
      if (reports.size() >= kMaxQueuedReports || std::ranges::count(reports, address) != 0) return;
      reports.push_back(address);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(reportsRung.Get(), &one, sizeof one);
  }
  void ReportQueued() {
    std::uint64_t rung = 0;
    [[maybe_unused]] const ssize_t got = ::read(reportsRung.Get(), &rung, sizeof rung);
    std::vector<std::uint32_t> now;
    {
      std::lock_guard<std::mutex> guard(reportsLock);
      now.swap(reports);
    }
    for (const std::uint32_t address : now) ReportLimited(address);
  }
  // A message that came as no datagram (see THolderPorts::AdmitMessageFrom).
  bool AdmitMessage(std::uint32_t address) {
    std::optional<std::uint32_t> report;
    const bool taken = receiver.AdmitMessage(address, TClock::now(), report);
    if (report) ReportLimitedLater(*report);
    return taken;
  }

  void Settle(std::string why, bool holder, std::vector<TPortRefusal> ports = {}) {
    bool differs = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      differs = !settled || problem != why || holds != holder || refused != ports;
      problem = std::move(why);
      refused = std::move(ports);
      holds = holder;
      settled = true;
      settledChanged.notify_all();
    }
    if (differs && config.changed) config.changed();
  }

  void SetServed(bool now) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (served == now) return;
      served = now;
    }
    if (now && config.servedByHolder) config.servedByHolder();
    if (config.changed) config.changed();
  }

  // Waits `pause` unless the holder is stopped first; whether it was.
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

  void Run();
  // Serves while this process holds the ports; returns when stopped.
  void Serve(runtime::TUniqueFd& listener, runtime::TUniqueFd& datagrams,
             runtime::TUniqueFd& names);
  void ServeNames(int names, int stopNames);
  void TakeNamePackets(int names, TBatchReceiver& batch, TInterfaceCache& interfaces);
  void TakeDatagrams(int fd, TBatchReceiver& batch, TInterfaceCache& interfaces,
                     TMailslotOutbox& outbox);
  void ReportLimited(std::uint32_t address);
  // [users] Reads what waiter `fd` sent; false when it is to go.
  bool ReadClient(int fd, TClient& client);
  // [users] Tells the waiters whose user's name is settled now.
  void TellSettled();
  // Waits as a waiter until the holder goes; false when stopped meanwhile.
  bool WaitForHolder(int connection);
};

void TPortHolder::TState::Run() {
  runtime::SetThreadName("netbios ports");
  const auto [address, length] = HolderAddress();
  std::chrono::milliseconds pause{0};      // before the next attempt
  std::chrono::milliseconds portRetry{0};  // after the ports could not be had
  // The ports could not be had for `error`: tries again later when they may
  // come free (the listener goes meanwhile: a waiting process tries for itself);
  // false when that is not to be.
  const auto retryLater = [&](int error) {
    if (!MayComeFree(error)) return false;
    portRetry = Longer(portRetry, kLongestPortRetry, kFirstPortRetry);
    pause = portRetry;
    return true;
  };
  // The helper this process started, while it may run (its lifeline), and until
  // when it may take the ports.
  runtime::TUniqueFd helper;
  TClock::time_point helperUntil{};
  // The ports could not be had for `error`: where this process may not bind them
  // and a helper may, the helper is started (the listener goes, and the helper
  // takes the holder's name and the ports); one that was started has a moment
  // to take them. Whether to try again shortly, leaving the outcome unsettled.
  const auto helperTakesOver = [&](int error) {
    if (!config.startHelper) return false;
    const TClock::time_point now = TClock::now();
    if (helper.Valid() && HelperRunning(helper.Get())) {
      // The ports are the helper's already, its name comes in a moment.
      if (now >= helperUntil) return false;
      pause = Longer(pause, kLongestHandOverPause);
      return true;
    }
    // One that ended without taking them is started again only at a later attempt.
    if ((error != EACCES && error != EPERM) || now < helperUntil) return false;
    helper = config.startHelper();
    if (!helper.Valid()) return false;
    helperUntil = now + kHelperStart;
    pause = Longer(std::chrono::milliseconds(0), kLongestHandOverPause);
    return true;
  };
  for (int failures = 0;;) {
    if (Wait(pause)) return;
    runtime::TUniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.Valid()) {
      Settle(SystemProblem(errno), false);
      return;
    }
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
      // This process is the one to hold the ports.
      if (::listen(listener.Get(), 64) != 0) {
        Settle(SystemProblem(errno), false);
        return;
      }
      // Both ports are tried, and the session port looked at, whatever fails
      // first: the user is told every port another program holds.
      runtime::TUniqueFd datagrams = OpenUdpSocket(config.datagramPort, true);
      const int datagramError = datagrams.Valid() ? 0 : errno;
      runtime::TUniqueFd names = OpenUdpSocket(config.namePort, true);
      const int nameError = names.Valid() ? 0 : errno;
      if (datagramError != 0 || nameError != 0) {
        if (helperTakesOver(datagramError != 0 ? datagramError : nameError)) continue;
        std::vector<TPortRefusal> ports;
        if (nameError != 0) ports.push_back({false, config.namePort, nameError});
        if (datagramError != 0) ports.push_back({false, config.datagramPort, datagramError});
        if (config.sessionPort != 0) {
          if (auto session = ProbePort(true, config.sessionPort)) ports.push_back(*session);
        }
        Settle(PortsProblem(ports), false, ports);
        if ((datagramError == 0 || MayComeFree(datagramError)) &&
            retryLater(nameError != 0 ? nameError : datagramError)) {
          continue;
        }
        return;  // the listener closes: a waiting process tries for itself
      }
      const int receiveBuffer = kReceiveBufferBytes;
      // A socket the service manager handed over may have its room already (the
      // kernel reports twice the size asked for); it is never made smaller.
      int room = 0;
      socklen_t roomLength = sizeof room;
      ::getsockopt(datagrams.Get(), SOL_SOCKET, SO_RCVBUF, &room, &roomLength);
      if (room < 2 * receiveBuffer && ::setsockopt(datagrams.Get(), SOL_SOCKET, SO_RCVBUFFORCE,
                                                   &receiveBuffer, sizeof receiveBuffer) != 0) {
        ::setsockopt(datagrams.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
      }
      portRetry = std::chrono::milliseconds(0);
      // A burst of queries waits here instead of going unanswered.
      if (::setsockopt(names.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer,
                       sizeof receiveBuffer) != 0) {
        ::setsockopt(names.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
      }
      Serve(listener, datagrams, names);
      return;
    }
    if (errno != EADDRINUSE) {
      Settle(SystemProblem(errno), false);
      return;
    }
    // Another process holds the ports, or is about to. The connect never waits on
    // it: a holder that does not accept must not hold up the mailslot's opening.
    runtime::TUniqueFd connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int error =
        !connection.Valid() ? errno
        : ::connect(connection.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0
            ? 0
            : errno;
    if (error == EAGAIN) {
      // The holder's queue is full: it is there, but takes no more waiters now.
      portRetry = std::chrono::milliseconds(0);
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
        Settle(CannotReceive("the process that receives them cannot be reached."), false);
      }
      pause = Longer(pause, kLongestHandOverPause);
      continue;
    }
    // [users] Tells the holder whose messenger name to claim (a holder that does
    // not know the greeting reads it and forgets it).
    const std::string greeting = WaiterGreeting(config.userName);
    [[maybe_unused]] const ssize_t sent =
        ::send(connection.Get(), greeting.data(), greeting.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    portRetry = std::chrono::milliseconds(0);
    Settle({}, false);
    failures = 0;
    const TClock::time_point connected = TClock::now();
    const bool holderGone = WaitForHolder(connection.Get());
    SetServed(false);
    if (!holderGone) return;
    // A holder that closes its waiters at once is not to be hammered.
    pause = TClock::now() - connected < kTurnedAway ? Longer(pause, kLongestBusyPause)
                                                    : std::chrono::milliseconds(0);
  }
}

bool TPortHolder::TState::WaitForHolder(int connection) {
  std::string pending;  // a record not yet whole
  for (;;) {
    std::array<pollfd, 2> fds{pollfd{connection, POLLIN, 0}, pollfd{stop.Get(), POLLIN, 0}};
    const int ready = ::poll(fds.data(), fds.size(), -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) return false;
    std::array<char, 256> buffer;
    const ssize_t got = ::recv(connection, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) return true;  // the holder has gone: take over
    pending.append(buffer.data(), static_cast<std::size_t>(got));
    std::size_t at = 0;
    for (; pending.size() - at >= kHolderRecordSize; at += kHolderRecordSize) {
      if (pending[at] == kNamesRecord) {
        SetServed(true);
        continue;
      }
      if (pending[at] != kLimitedRecord || !config.senderLimited) continue;
      std::uint32_t address = 0;
      for (std::size_t i = 1; i < kHolderRecordSize; ++i) {
        address = address << 8 | static_cast<std::uint8_t>(pending[at + i]);
      }
      config.senderLimited(address);
    }
    pending.erase(0, at);
  }
}

void TPortHolder::TState::Serve(runtime::TUniqueFd& listener, runtime::TUniqueFd& datagrams,
                                runtime::TUniqueFd& names) {
  runtime::TUniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
  runtime::TUniqueFd stopNames(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  // [users] Rung when a user's name is settled.
  runtime::TUniqueFd namesSettled(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!epoll.Valid() || !stopNames.Valid() || !namesSettled.Valid() || !reportsRung.Valid()) {
    Settle(SystemProblem(errno), false);
    return;
  }
  const auto add = [&](int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return ::epoll_ctl(epoll.Get(), EPOLL_CTL_ADD, fd, &event) == 0;
  };
  TMailslotOutbox outbox(config.connectLocal);
  if (!add(stop.Get()) || !add(listener.Get()) || !add(datagrams.Get()) ||
      !add(namesSettled.Get()) || !add(reportsRung.Get()) ||
      (outbox.WatchFd() >= 0 && !add(outbox.WatchFd()))) {
    Settle(SystemProblem(errno), false);
    return;
  }
  if (config.waiters) {
    config.waiters->Watch([fd = namesSettled.Get()] {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
    });
  }
  TNamePorts ports(names.Get(), datagrams.Get(),
                   [this](std::uint32_t address) { return AdmitMessage(address); });
  std::string servicesProblem;
  std::vector<TPortRefusal> servicesRefused;
  std::vector<IHolderService*> notRunning;
  for (const auto& service : config.services) {
    std::string why = service->Started(ports);
    if (why.empty()) continue;
    notRunning.push_back(service.get());
    if (servicesProblem.empty()) servicesProblem = std::move(why);
    for (const TPortRefusal& refusal : service->Refused()) servicesRefused.push_back(refusal);
  }
  TClock::time_point startAgain = TClock::now() + kServiceRetry;
  // The name service on a thread of its own; should none be had, on this one.
  std::thread nameThread;
  try {
    nameThread =
        std::thread([this, fd = names.Get(), stopFd = stopNames.Get()] { ServeNames(fd, stopFd); });
  } catch (const std::system_error&) {
    add(names.Get());
  }
  Settle(servicesProblem, true, servicesRefused);

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
  const auto forget = [&](int fd) {
    ::epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
    const auto found = clients.find(fd);
    if (found == clients.end()) return;
    // [users] Its user's name goes with the user's last program.
    if (!found->second.user.empty() && config.waiters) config.waiters->Leave(found->second.user);
    clients.erase(found);
    setAccepting(true);
  };
  TBatchReceiver datagramBatch(kDatagramRoom);
  TBatchReceiver nameBatch(kNamePacketRoom);
  TInterfaceCache interfaces;
  std::array<epoll_event, 16> events{};
  for (bool serving = true; serving;) {
    int timeout = -1;
    if (!notRunning.empty()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(startAgain - TClock::now());
      timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
    }
    const int count =
        ::epoll_wait(epoll.Get(), events.data(), static_cast<int>(events.size()), timeout);
    if (count < 0) {
      if (errno == EINTR) continue;
      Settle(SystemProblem(errno), false);
      break;
    }
    for (int i = 0; i < count && serving; ++i) {
      const int fd = events[static_cast<std::size_t>(i)].data.fd;
      if (fd == stop.Get()) {
        serving = false;
      } else if (fd == datagrams.Get()) {
        TakeDatagrams(fd, datagramBatch, interfaces, outbox);
      } else if (fd == outbox.WatchFd()) {
        std::uint64_t lost = 0;
        outbox.Flush(lost);
        receiver.Counters().noMailslot.fetch_add(lost, std::memory_order_relaxed);
      } else if (fd == names.Get()) {
        TakeNamePackets(fd, nameBatch, interfaces);
      } else if (fd == reportsRung.Get()) {
        ReportQueued();
      } else if (fd == namesSettled.Get()) {
        std::uint64_t rung = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &rung, sizeof rung);
        TellSettled();
      } else if (fd == listener.Get()) {
        while (accepting) {
          if (clients.size() >= kMaxClients) {
            setAccepting(false);
            break;
          }
          runtime::TUniqueFd client(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
          if (!client.Valid()) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
              setAccepting(false);
            }
            break;
          }
          if (!add(client.Get())) continue;  // closed: it tries again after a pause
          const int key = client.Get();
          clients[key].fd = std::move(client);
        }
      } else {
        // A waiting process greets, or has gone (or sent something it should
        // not): then it is forgotten.
        const auto found = clients.find(fd);
        if (found == clients.end() || !ReadClient(fd, found->second)) forget(fd);
      }
    }
    // A waiter whose notice could not be written whole is closed: it connects
    // again (see ReportLimited).
    for (const int fd : brokenClients) forget(fd);
    brokenClients.clear();
    if (serving && !notRunning.empty() && TClock::now() >= startAgain) {
      // The port another program held may be free now (it ended).
      std::string problemNow;
      std::vector<TPortRefusal> refusedNow;
      std::erase_if(notRunning, [&](IHolderService* service) {
        std::string why = service->Started(ports);
        if (why.empty()) return true;
        if (problemNow.empty()) problemNow = std::move(why);
        for (const TPortRefusal& refusal : service->Refused()) refusedNow.push_back(refusal);
        return false;
      });
      if (problemNow != servicesProblem || refusedNow != servicesRefused) {
        servicesProblem = problemNow;
        servicesRefused = refusedNow;
        Settle(servicesProblem, true, servicesRefused);
      }
      startAgain = TClock::now() + kServiceRetry;
    }
  }
  // [names] A last word while the name service still takes answers.
  for (const auto& service : config.services) service->Stopping();
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(stopNames.Get(), &one, sizeof one);
  if (nameThread.joinable()) nameThread.join();
  for (const auto& service : config.services) service->Stopped();
  if (config.waiters) config.waiters->Watch({});
  clients.clear();
}

bool TPortHolder::TState::ReadClient(int fd, TClient& client) {
  std::array<char, 64> buffer;
  const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
  if (got < 0) return errno == EAGAIN || errno == EINTR;
  if (got == 0) return false;
  // Anything after the greeting is more than a waiter sends.
  if (client.greeted || client.greeting.size() + static_cast<std::size_t>(got) > kMaxGreeting) {
    return false;
  }
  client.greeting.append(buffer.data(), static_cast<std::size_t>(got));
  std::string user;
  switch (ReadWaiterGreeting(client.greeting, user)) {
    case TGreeting::Incomplete:
      return true;
    case TGreeting::Bad:
      return false;
    case TGreeting::Complete:
      break;
  }
  client.greeting.clear();
  client.greeted = true;
  client.user = std::move(user);
  if (!client.user.empty() && config.waiters) config.waiters->Join(client.user);
  TellSettled();
  return true;
}

void TPortHolder::TState::TellSettled() {
  const std::string record = HolderRecord(kNamesRecord, 0);
  for (auto& [fd, client] : clients) {
    if (client.told || !client.greeted) continue;
    if (!client.user.empty() && config.waiters && !config.waiters->Settled(client.user)) continue;
    const ssize_t sent = ::send(fd, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    // No room: told at the next chance. Part of it written: the waiter could not
    // read on, so it goes.
    if (sent < 0) continue;
    client.told = true;
    if (static_cast<std::size_t>(sent) < record.size()) brokenClients.push_back(fd);
  }
}

void TPortHolder::TState::TakeDatagrams(int fd, TBatchReceiver& batch, TInterfaceCache& interfaces,
                                        TMailslotOutbox& outbox) {
  THolderCounters& counters = receiver.Counters();
  for (int call = 0; call < kReceiveCalls; ++call) {
    const TClock::time_point now = TClock::now();
    const std::vector<TInterface>& current = interfaces.Get(now);
    const unsigned received =
        batch.Receive(fd, [&](std::string_view packet, TPacketSource from, bool truncated) {
          std::optional<std::uint32_t> report;
          const std::optional<TLocalMessage> message =
              receiver.TakeDatagram(packet, from, current, now, report, truncated);
          if (report) ReportLimited(*report);
          if (!message) return;
          switch (outbox.Deliver(message->slot, message->data)) {
            case TOutboxResult::Sent:
            case TOutboxResult::Queued:
              counters.delivered.fetch_add(1, std::memory_order_relaxed);
              break;
            case TOutboxResult::NoMailslot:
              counters.noMailslot.fetch_add(1, std::memory_order_relaxed);
              break;
            case TOutboxResult::Full:
              counters.mailslotFull.fetch_add(1, std::memory_order_relaxed);
              break;
          }
        });
    if (received < kReceiveBatch) return;
  }
}

void TPortHolder::TState::ReportLimited(std::uint32_t address) {
  if (config.senderLimited) config.senderLimited(address);
  const std::string record = HolderRecord(kLimitedRecord, address);
  for (const auto& [fd, client] : clients) {
    const ssize_t sent = ::send(fd, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    // No room: this notice is lost to it (it comes again while the sender goes
    // on). Part of it written: the waiter could not read on, so it goes.
    if (sent > 0 && static_cast<std::size_t>(sent) < record.size()) brokenClients.push_back(fd);
  }
}

void TPortHolder::TState::ServeNames(int names, int stopNames) {
  runtime::SetThreadName("netbios names");
  TBatchReceiver batch(kNamePacketRoom);
  TInterfaceCache interfaces;
  for (;;) {
    std::array<pollfd, 2> fds{pollfd{names, POLLIN, 0}, pollfd{stopNames, POLLIN, 0}};
    const int ready = ::poll(fds.data(), fds.size(), -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) return;
    TakeNamePackets(names, batch, interfaces);
  }
}

void TPortHolder::TState::TakeNamePackets(int names, TBatchReceiver& batch,
                                          TInterfaceCache& interfaces) {
  for (int call = 0; call < kReceiveCalls; ++call) {
    const TClock::time_point now = TClock::now();
    const std::vector<TInterface>& current = interfaces.Get(now);
    const unsigned received =
        batch.Receive(names, [&](std::string_view packet, TPacketSource from, bool truncated) {
          std::optional<std::uint32_t> report;
          if (!receiver.AdmitNamePacket(from, current, now, &report) || truncated) {
            // A name query flood is told too, as a datagram flood is.
            if (report) ReportLimitedLater(*report);
            return;
          }
          for (const auto& service : config.services) {
            if (service->TakeNamePacket(packet, from)) return;
          }
          if (const std::optional<TNameReply> reply =
                  receiver.AnswerNamePacket(packet, from, current)) {
            SendTo(names, reply->packet, reply->to.address, reply->to.port, false);
          }
        });
    if (received < kReceiveBatch) return;
  }
}

TPortHolder::TPortHolder(THolderConfig config)
    : FState(std::make_shared<TState>(std::move(config))) {}

TPortHolder::~TPortHolder() {
  Stop();
}

void TPortHolder::Stop() {
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

void TPortHolder::Start() {
  std::unique_lock<std::mutex> guard(FState->lock);
  if (!FState->started) {
    FState->started = true;
    if (!FState->stop.Valid()) {
      FState->problem = SystemProblem(errno);
      FState->settled = true;
      return;
    }
    FState->settled = false;
    try {
      FState->thread = std::thread([state = FState] {
        state->Run();
        // Ended by itself (the ports cannot be had, or serving failed): nobody
        // waits for it, and the state lives on with this copy until it is gone.
        std::lock_guard<std::mutex> ended(state->lock);
        if (state->thread.get_id() == std::this_thread::get_id()) state->thread.detach();
      });
    } catch (const std::exception& error) {
      // Sending, and this machine's own mailslots, work without it; a later call
      // tries again.
      const auto* system = dynamic_cast<const std::system_error*>(&error);
      FState->problem = CannotReceive(
          "the thread that receives them cannot be started (" +
          (system != nullptr ? system->code().message() : std::string("no memory")) + ").");
      FState->holds = false;
      FState->settled = true;
      FState->started = false;
      return;
    }
  }
  FState->settledChanged.wait(guard, [this] { return FState->settled; });
}

std::string TPortHolder::Problem() const {
  std::lock_guard<std::mutex> guard(FState->lock);
  return FState->problem;
}

std::vector<TPortRefusal> TPortHolder::Refused() const {
  std::lock_guard<std::mutex> guard(FState->lock);
  return FState->refused;
}

bool TPortHolder::HoldsPorts() const {
  std::lock_guard<std::mutex> guard(FState->lock);
  return FState->holds;
}

bool TPortHolder::ServedByHolder() const {
  std::lock_guard<std::mutex> guard(FState->lock);
  return FState->served;
}

THolderCounts TPortHolder::Counts() const {
  return FState->receiver.Counters().Read();
}

}  // namespace pling::net
