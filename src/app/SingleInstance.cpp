// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <string_view>
#include <thread>

#include "platform/paths.h"

namespace pling::app {
namespace {

// The request is one line: "show", and after a blank the activation token the
// later start was given, if any.
constexpr std::string_view kRequest = "show";
constexpr std::string_view kAnswer = "shown\n";
// A request line longer than this is no request.
constexpr std::size_t kMaxRequest = 4096;
// Programs knocking at once; more wait in the socket's queue.
constexpr int kBacklog = 8;
constexpr std::size_t kMaxClients = 8;
// How long a knocking program may take to say what it wants.
constexpr int kClientTimeoutMs = 2000;
constexpr int kRetryMs = 50;

std::string LockPath(const std::string& folder) {
  return folder + "/instance.lock";
}
std::string SocketPath(const std::string& folder) {
  return folder + "/instance.socket";
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

// The programs that knocked and have not yet said what they want.
class TSingleInstance::TClients : public QObject {
 public:
  TClients(int socket, std::function<void(const std::string&)> onShow)
      : FOnShow(std::move(onShow)), FListener(socket, QSocketNotifier::Read, this) {
    connect(&FListener, &QSocketNotifier::activated, this, [this] { Accept(); });
    // Those that knocked before anyone listened.
    Accept();
  }
  ~TClients() override {
    for (const auto& [fd, client] : FClients) ::close(fd);
  }

 private:
  struct TClient {
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> timeout;
    std::string received;
  };

  void Accept() {
    for (;;) {
      const int fd = ::accept4(static_cast<int>(FListener.socket()), nullptr, nullptr,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR) continue;
        return;  // none waiting (or a failure that the next knock retries)
      }
      if (FClients.size() >= kMaxClients) {
        ::close(fd);
        continue;
      }
      TClient& client = FClients[fd];
      client.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
      connect(client.notifier.get(), &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
      client.timeout = std::make_unique<QTimer>();
      client.timeout->setSingleShot(true);
      connect(client.timeout.get(), &QTimer::timeout, this, [this, fd] { Drop(fd); });
      client.timeout->start(kClientTimeoutMs);
    }
  }

  void Read(int fd) {
    const auto found = FClients.find(fd);
    if (found == FClients.end()) return;
    char buffer[64];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got <= 0) return Drop(fd);
    std::string& received = found->second.received;
    received.append(buffer, static_cast<std::size_t>(got));
    const std::size_t end = received.find('\n');
    if (end == std::string::npos) {
      if (received.size() > kMaxRequest) Drop(fd);
      return;
    }
    const std::string line = received.substr(0, end);
    const bool show = line == kRequest || (line.size() > kRequest.size() + 1 &&
                                           line.compare(0, kRequest.size(), kRequest) == 0 &&
                                           line[kRequest.size()] == ' ');
    const std::string token = show && line.size() > kRequest.size() + 1
                                  ? line.substr(kRequest.size() + 1)
                                  : std::string();
    if (show) {
      // The answer first: the other program may end at once.
      [[maybe_unused]] const ssize_t sent =
          ::send(fd, kAnswer.data(), kAnswer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    Drop(fd);
    if (show && FOnShow) FOnShow(token);
  }

  void Drop(int fd) {
    const auto found = FClients.find(fd);
    if (found == FClients.end()) return;
    // The notifier goes before its descriptor is closed.
    FClients.erase(found);
    ::close(fd);
  }

  std::function<void(const std::string&)> FOnShow;
  QSocketNotifier FListener;
  std::map<int, TClient> FClients;
};

TSingleInstance::TSingleInstance(std::string folder) : FFolder(std::move(folder)) {}

TSingleInstance::~TSingleInstance() {
  FClients.reset();
  if (FSocket >= 0) ::close(FSocket);
  // The socket file stays; whoever takes the lock next replaces it.
  if (FLock >= 0) ::close(FLock);
}

std::string TSingleInstance::SessionFolder() {
  return platform::SessionDirectory();
}

TSingleInstance::TClaim TSingleInstance::Claim(std::string& problem) {
  if (!platform::PrivateFolder(FFolder, problem)) return TClaim::kUnguarded;
  const std::string lockPath = LockPath(FFolder);
  FLock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (FLock < 0) {
    problem = lockPath + ": " + std::strerror(errno);
    return TClaim::kUnguarded;
  }
  if (::flock(FLock, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(FLock);
    FLock = -1;
    if (error == EWOULDBLOCK) return TClaim::kRunning;
    problem = lockPath + ": " + std::strerror(error);
    return TClaim::kUnguarded;
  }
  // Ours now: a socket left by an earlier holder goes.
  const std::string socketPath = SocketPath(FFolder);
  sockaddr_un address{};
  if (!SocketAddress(socketPath, address)) {
    problem = socketPath + ": the path is too long for a socket";
    return TClaim::kFirst;  // the lock still keeps others out; they cannot knock
  }
  ::unlink(socketPath.c_str());
  FSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FSocket < 0 ||
      ::bind(FSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(FSocket, kBacklog) != 0) {
    problem = socketPath + ": " + std::strerror(errno);
    if (FSocket >= 0) ::close(FSocket);
    FSocket = -1;
  }
  return TClaim::kFirst;
}

bool TSingleInstance::AskToShow(int timeoutMs, std::string& problem,
                                const std::string& activationToken) {
  sockaddr_un address{};
  const std::string socketPath = SocketPath(FFolder);
  if (!SocketAddress(socketPath, address)) {
    problem = socketPath + ": the path is too long for a socket";
    return false;
  }
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto left = [&] {
    return static_cast<int>(std::max<Clock::rep>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
  };
  for (;;) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      problem = std::strerror(errno);
      return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      std::string answer;
      // A token holds no line break or blank (it is one word); one that does is
      // left out rather than sent broken.
      std::string request(kRequest);
      if (!activationToken.empty() && activationToken.size() < kMaxRequest - kRequest.size() - 2 &&
          activationToken.find_first_of(" \n") == std::string::npos) {
        request += ' ' + activationToken;
      }
      request += '\n';
      bool sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(request.size());
      while (sent && answer.size() < kAnswer.size()) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, left()) <= 0) break;
        char buffer[16];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(got));
      }
      ::close(fd);
      if (answer.compare(0, kAnswer.size(), kAnswer) == 0) return true;
      problem = "it did not answer";
      return false;
    }
    const int error = errno;
    ::close(fd);
    // Not listening yet (still starting): knock again in a moment.
    if ((error != ENOENT && error != ECONNREFUSED && error != EAGAIN) || left() == 0) {
      problem =
          error == ENOENT || error == ECONNREFUSED ? "it does not listen" : std::strerror(error);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kRetryMs, left())));
  }
}

void TSingleInstance::Listen(std::function<void(const std::string& activationToken)> onShow) {
  if (FSocket < 0) return;
  FClients = std::make_unique<TClients>(FSocket, std::move(onShow));
}

}  // namespace pling::app
