#include "net/name_service.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <random>

#include "net/resolver.h"
#include "net/wins.h"

namespace pling::net {

namespace {

// How long the interface list is trusted before it is read again.
constexpr auto kInterfacesLifetime = std::chrono::seconds(2);

timespec AsTimespec(std::chrono::steady_clock::duration since) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
  return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

}  // namespace

TNameService::TNameService(TNameServiceConfig config) : FConfig(std::move(config)) {}

const std::vector<TInterface>& TNameService::Interfaces() {
  const TClock::time_point now = TClock::now();
  if (FInterfaces.empty() || now - FInterfacesRead > kInterfacesLifetime) {
    FInterfaces = Ipv4Interfaces();
    FInterfacesRead = now;
  }
  return FInterfaces;
}

void TNameService::Start(int fd) {
  std::vector<TNameNotice> notices;
  // The server's address first: a host name may take the host resolver a while.
  std::uint32_t server = 0;
  if (!FConfig.server.empty()) {
    if (const auto address = WinsServerAddress(FConfig.server, kHostResolveTime)) {
      server = *address;
    } else {
      TNameNotice notice;
      notice.kind = TNameNotice::TKind::ServerUnknown;
      notice.server = FConfig.server;
      notices.push_back(notice);
    }
  }
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FClaim || FStopped) return;
    FFd = fd;
    FTimer = TFd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    TNameClaimConfig config;
    config.names = FConfig.names;
    config.server = server;
    config.port = FConfig.port;
    config.timers = FConfig.timers;
    config.firstId = static_cast<std::uint16_t>(std::random_device{}());
    FClaim.emplace(std::move(config));
    FClaim->Start(Interfaces(), TClock::now());
    for (TNameNotice& notice : Flush()) notices.push_back(std::move(notice));
  }
  Tell(notices);
}

int TNameService::TimerFd() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FTimer.Get();
}

void TNameService::OnTimer() {
  std::vector<TNameNotice> notices;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FClaim) return;
    std::uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t got = ::read(FTimer.Get(), &expirations, sizeof expirations);
    FClaim->Tick(TClock::now());
    notices = Flush();
  }
  Tell(notices);
}

bool TNameService::Take(std::string_view packet, const sockaddr_in& from) {
  std::vector<TNameNotice> notices;
  bool taken = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FClaim || FStopped) return false;
    const std::uint32_t address = ntohl(from.sin_addr.s_addr);
    const TClock::time_point now = TClock::now();
    // Without a timer the deadlines are looked at whenever a packet comes.
    if (!FTimer.Valid()) FClaim->Tick(now);
    taken = FClaim->Take(packet, address, ntohs(from.sin_port), IsOwnAddress(Interfaces(), address),
                         now);
    notices = Flush();
  }
  Tell(notices);
  return taken;
}

bool TNameService::Holds(const NetBiosName& name) const {
  std::lock_guard<std::mutex> guard(FLock);
  return FClaim && FClaim->Holds(name);
}

std::vector<TClaimedName> TNameService::Held() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FClaim ? FClaim->Held() : std::vector<TClaimedName>{};
}

std::vector<TNameNotice> TNameService::Flush() {
  for (const TNameClaim::TSend& send : FClaim->TakeSends()) {
    SendTo(FFd, send.packet, send.address, send.port);
  }
  if (FTimer.Valid()) {
    itimerspec when{};
    if (const auto next = FClaim->NextDeadline()) {
      when.it_value = AsTimespec(next->time_since_epoch());
      // A deadline at the clock's zero would disarm the timer.
      if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(FTimer.Get(), TFD_TIMER_ABSTIME, &when, nullptr);
  }
  return FClaim->TakeNotices();
}

void TNameService::Tell(const std::vector<TNameNotice>& notices) const {
  if (!FConfig.notice) return;
  for (const TNameNotice& notice : notices) FConfig.notice(notice);
}

void TNameService::Stop() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FClaim || FStopped) return;
  FStopped = true;
  FClaim->Release(TClock::now());
  Flush();
  // The server answers each release; nothing else is waited for at exit.
  const TClock::time_point end = TClock::now() + FConfig.timers.releaseWait;
  std::array<char, 1500> buffer{};
  while (FClaim->Releasing() && TClock::now() < end) {
    const auto next = std::min(FClaim->NextDeadline().value_or(end), end);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - TClock::now());
    pollfd readable{FFd, POLLIN, 0};
    const int ready =
        ::poll(&readable, 1, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t size = ::recvfrom(FFd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &length);
      if (size >= 0) {
        const std::uint32_t address = ntohl(from.sin_addr.s_addr);
        FClaim->Take(std::string_view(buffer.data(), static_cast<std::size_t>(size)), address,
                     ntohs(from.sin_port), IsOwnAddress(Interfaces(), address), TClock::now());
      }
    }
    FClaim->Tick(TClock::now());
    Flush();
  }
}

}  // namespace pling::net
