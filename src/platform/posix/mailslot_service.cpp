// SPDX-License-Identifier: GPL-3.0-or-later
// The mailslot service on Linux.
//
// An open mailslot is an AF_UNIX datagram socket bound in the abstract namespace
// at "mailslot\" + the upper-cased slot name: the kernel keeps the name unique
// machine-wide and releases it as soon as the socket is closed, also when the
// process dies. A writer on this machine connects a datagram socket to that name
// and sends each message as one datagram.
//
// One service thread per process (the drain thread) waits with epoll on every
// open mailslot socket and moves each datagram into the mailslot's own queue, so
// that the message count and the next size are exact and ReadFile takes exactly
// one message. The queries drain the socket themselves as well (without blocking),
// so a message written before a query is counted by it. A full queue stops the
// draining of that socket until it has room again; the kernel then holds writers
// back, so nothing is lost. The datagrams the kernel holds meanwhile are counted
// too (by peeking along the socket's queue), so the count stays exact.
//
// Names are folded to upper case in the ANSI code page before they become socket
// names, so that "gr\xE4n" and "GR\xC4N" are one mailslot, as they are one name.
//
// Handles are numbers that are never reused, looked up in a process-wide table;
// a closed or unknown handle fails with ERROR_INVALID_HANDLE.
#include "platform/mailslot_service.h"

#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/identity.h"
#include "platform/posix/network_transport.h"
#include "runtime/event_wait.h"
#include "runtime/thread_name.h"
#include "runtime/unique_fd.h"

namespace pling::platform {
namespace {

using std::chrono::milliseconds;

// A mailslot's queue holds at most this many messages or bytes; draining resumes
// once it is down to three quarters. A window that shows each message takes a few
// hundred a second: the count lets it absorb a burst of ten thousand from several
// senders without holding any of them back; the bytes bound the memory.
constexpr std::size_t kMaxQueuedMessages = 16384;
constexpr std::size_t kMaxQueuedBytes = std::size_t{4} << 20;
constexpr std::size_t kResumeMessages = kMaxQueuedMessages / 4 * 3;
constexpr std::size_t kResumeBytes = kMaxQueuedBytes / 4 * 3;
// Messages the drain thread takes from one socket before it turns to the others.
constexpr std::size_t kDrainBatch = 256;
// How long a local write waits for room in the receiver's queue.
constexpr milliseconds kWriteTimeout(2000);
// How long the copy of a workgroup write to this machine's own mailslot waits for
// room (the writer may be the very thread that reads that mailslot, so not long).
constexpr milliseconds kWorkgroupCopyWait(20);
// The most datagrams a query counts in the kernel's queue behind a full queue.
// The kernel holds only a few (net.unix.max_dgram_qlen + 1); this only bounds the
// work should it be configured to hold very many.
constexpr std::size_t kMaxHeldCounted = 65536;
// Drain until the socket is empty or the queue full.
constexpr std::size_t kDrainAll = std::numeric_limits<std::size_t>::max();

constexpr std::string_view kMailslotPart = "mailslot\\";
constexpr std::string_view kSocketPrefix = "mailslot\\";
// The abstract name follows the leading NUL of sun_path.
constexpr std::size_t kMaxSocketName = sizeof(sockaddr_un::sun_path) - 1;

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

bool FailBool(DWORD error) {
  SetLastError(error);
  return false;
}

// The error code of a mailslot whose socket could not be made or reached (the
// errno of a settings file means something else: FileErrorFromErrno).
DWORD SocketErrorFromErrno(int error) {
  switch (error) {
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EMSGSIZE:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_CANTOPEN;
  }
}

// Characters that neither a machine nor a mailslot name may hold.
bool IsForbidden(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F ||
         std::string_view("\"/:<>?|").find(c) != std::string_view::npos;
}

struct TSlotPath {
  std::string_view machine;
  std::string_view name;
};

// Splits "\\MACHINE\mailslot\NAME". The name may have several parts separated by
// single backslashes, none of them empty; '*' is allowed in the machine part only
// ("*" and "DOMAIN*" address a domain).
std::optional<TSlotPath> ParseSlotPath(std::string_view path) {
  if (!path.starts_with("\\\\")) return std::nullopt;
  path.remove_prefix(2);
  const std::size_t slash = path.find('\\');
  if (slash == 0 || slash == std::string_view::npos) return std::nullopt;
  const std::string_view machine = path.substr(0, slash);
  path.remove_prefix(slash + 1);
  if (path.size() <= kMailslotPart.size() ||
      !AnsiEqualsIgnoreCase(path.substr(0, kMailslotPart.size()), kMailslotPart)) {
    return std::nullopt;
  }
  const std::string_view name = path.substr(kMailslotPart.size());
  if (name.front() == '\\' || name.back() == '\\' || name.find("\\\\") != std::string_view::npos) {
    return std::nullopt;
  }
  if (std::any_of(machine.begin(), machine.end(), IsForbidden) ||
      std::any_of(name.begin(), name.end(), [](char c) { return c == '*' || IsForbidden(c); })) {
    return std::nullopt;
  }
  return TSlotPath{machine, name};
}

struct TSocketAddress {
  sockaddr_un address{};
  socklen_t length = 0;
};

// The abstract socket address of the mailslot `name` (ANSI code page) on this
// machine, its case folded in that page; none when the name is too long for it.
std::optional<TSocketAddress> SocketAddress(std::string_view name) {
  if (kSocketPrefix.size() + name.size() > kMaxSocketName) return std::nullopt;
  std::string folded(name);
  AnsiUpperCase(folded);
  TSocketAddress result;
  result.address.sun_family = AF_UNIX;
  char* out = result.address.sun_path + 1;  // sun_path[0] stays NUL: abstract namespace
  out = std::copy(kSocketPrefix.begin(), kSocketPrefix.end(), out);
  out = std::copy(folded.begin(), folded.end(), out);
  result.length = static_cast<socklen_t>(out - reinterpret_cast<char*>(&result.address));
  return result;
}

// An open mailslot. Everything but the constants is guarded by `lock`.
struct TSlot {
  TSlot(int socket, int watchFd, int epollFd, DWORD maxSize, DWORD timeout)
      : maxMessageSize(maxSize), readTimeout(timeout), epoll(epollFd), watch(watchFd), fd(socket) {}
  ~TSlot() {
    if (fd >= 0) ::close(fd);
    ::close(watch);
  }
  TSlot(const TSlot&) = delete;
  TSlot& operator=(const TSlot&) = delete;

  const DWORD maxMessageSize;
  const DWORD readTimeout;
  const int epoll;
  // An epoll set holding just this socket: readable while a datagram waits in
  // the kernel. A waiter polls it to wake at once, without a hop through the
  // drain thread; unlike a poll on the socket itself, it does not keep the socket
  // (and so the mailslot's name) alive once the socket is closed.
  const int watch;

  std::mutex lock;
  int fd;               // -1 once closed
  bool paused = false;  // queue full: the socket is not drained for now
  int waiters = 0;      // threads in WaitForMailslot
  // Threads that drain the socket themselves, those in WaitForMailslot and the
  // holder of a TMailslotWatch: the drain thread leaves it to them.
  int drainers = 0;
  int readers = 0;  // threads in ReadFile waiting for a message
  std::deque<std::string> queue;
  std::size_t queuedBytes = 0;
  // While the queue is full: the sizes of the datagrams a query has counted in the
  // kernel's queue, oldest first. They leave from the front as draining takes them.
  std::deque<std::size_t> held;
  std::size_t heldBytes = 0;
  std::size_t heldDeliverable = 0;  // those not too long for the mailslot
  // Set while a message waits and a thread waits for one, or once the mailslot
  // is closed; `signalled` tells which, so that a message nobody waits for
  // costs no system call.
  runtime::TEvent ready;
  bool signalled = false;

  bool Deliverable(std::size_t size) const { return maxMessageSize == 0 || size <= maxMessageSize; }
};

// Draining has taken the oldest datagram from the socket: it is no longer held.
void ForgetOldestHeldLocked(TSlot& slot) {
  if (slot.held.empty()) return;
  const std::size_t size = slot.held.front();
  slot.held.pop_front();
  slot.heldBytes -= size;
  if (slot.Deliverable(size)) --slot.heldDeliverable;
}

// Counts the datagrams the kernel holds for a paused mailslot, which ReadFile will
// deliver after the queued ones. The kernel can only be asked by peeking along its
// queue (SO_PEEK_OFF, a byte offset), and it skips an empty datagram once peeked,
// so each datagram is counted once and remembered in `held`; a later query goes on
// from behind the last one counted.
void CountHeldLocked(TSlot& slot) {
  if (slot.fd < 0 || !slot.paused) return;
  std::size_t offset = slot.heldBytes;
  while (slot.held.size() < kMaxHeldCounted && offset <= static_cast<std::size_t>(INT_MAX)) {
    const int peekOffset = static_cast<int>(offset);
    if (::setsockopt(slot.fd, SOL_SOCKET, SO_PEEK_OFF, &peekOffset, sizeof peekOffset) != 0) break;
    // The size of the datagram at that offset, none of it copied.
    const ssize_t size = ::recv(slot.fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: no more
    }
    const auto length = static_cast<std::size_t>(size);
    slot.held.push_back(length);
    slot.heldBytes += length;
    if (slot.Deliverable(length)) ++slot.heldDeliverable;
    offset += length;
  }
  // Back to plain peeking, which draining relies on.
  const int off = -1;
  ::setsockopt(slot.fd, SOL_SOCKET, SO_PEEK_OFF, &off, sizeof off);
}

// A handle opened for writing: a socket connected to a local mailslot, or a
// machine and slot name for the network transport.
struct TMailslotWriter {
  explicit TMailslotWriter(int socket) : fd(socket) {}
  TMailslotWriter(std::string_view machineName, std::string_view slot,
                  std::shared_ptr<IMailslotTransport> network)
      : machine(machineName), slotName(slot), transport(std::move(network)) {}
  ~TMailslotWriter() {
    if (fd >= 0) ::close(fd);
  }
  TMailslotWriter(const TMailslotWriter&) = delete;
  TMailslotWriter& operator=(const TMailslotWriter&) = delete;

  const int fd = -1;
  const std::string machine;
  const std::string slotName;
  const std::shared_ptr<IMailslotTransport> transport;
};

struct THandleEntry {
  std::shared_ptr<TSlot> slot;
  std::shared_ptr<TMailslotWriter> writer;
};

// Sets the slot's event for the threads waiting on it, while a message waits.
void SignalLocked(TSlot& slot) {
  if (slot.signalled || slot.queue.empty() || slot.waiters + slot.readers == 0) return;
  slot.ready.Set();
  slot.signalled = true;
}

// The queue has been emptied: the event is reset (an open mailslot's).
void UnsignalLocked(TSlot& slot) {
  if (!slot.signalled || !slot.queue.empty() || slot.fd < 0) return;
  slot.ready.Reset();
  slot.signalled = false;
}

// Moves up to `limit` waiting datagrams from the socket into the queue; how many
// it queued. With the slot locked; never blocks.
std::size_t DrainLocked(TSlot& slot, HANDLE handle, std::size_t limit) {
  if (slot.fd < 0 || slot.paused) return 0;
  const std::size_t before = slot.queue.size();
  for (std::size_t taken = 0; taken < limit; ++taken) {
    if (slot.queue.size() >= kMaxQueuedMessages || slot.queuedBytes >= kMaxQueuedBytes) {
      // Leave the rest in the kernel, which holds the writers back meanwhile.
      epoll_event event{};
      event.data.u64 = static_cast<std::uint64_t>(handle);
      if (::epoll_ctl(slot.epoll, EPOLL_CTL_MOD, slot.fd, &event) == 0) slot.paused = true;
      break;
    }
    // The size of the next datagram, without taking it (0 is a valid size).
    const ssize_t size = ::recv(slot.fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: nothing more waiting
    }
    const auto length = static_cast<std::size_t>(size);
    if (!slot.Deliverable(length)) {
      // Too long for this mailslot: dropped, as the mailslot never takes it.
      if (::recv(slot.fd, nullptr, 0, MSG_DONTWAIT) >= 0) ForgetOldestHeldLocked(slot);
      continue;
    }
    std::string message(length, '\0');
    const ssize_t received = ::recv(slot.fd, message.data(), length, MSG_DONTWAIT);
    if (received < 0) break;
    ForgetOldestHeldLocked(slot);
    message.resize(static_cast<std::size_t>(received));
    slot.queuedBytes += message.size();
    slot.queue.push_back(std::move(message));
  }
  SignalLocked(slot);
  return slot.queue.size() - before;
}

// After a read: lets the drain thread take from the socket again once the queue
// has room.
void ResumeLocked(TSlot& slot, HANDLE handle) {
  if (!slot.paused || slot.queue.size() > kResumeMessages || slot.queuedBytes > kResumeBytes) {
    return;
  }
  if (slot.drainers > 0) {
    slot.paused = false;  // the drainers drain it; the last one re-arms the drain thread
    return;
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = static_cast<std::uint64_t>(handle);
  if (::epoll_ctl(slot.epoll, EPOLL_CTL_MOD, slot.fd, &event) == 0) slot.paused = false;
}

// Whether the drain thread watches the socket. While a thread waits in
// WaitForMailslot, or holds a TMailslotWatch, it wakes on the socket itself and
// drains it, so the drain thread is left out: one wake-up per message instead of
// two threads fighting over the slot's lock.
void ArmDrainLocked(TSlot& slot, HANDLE handle, bool armed) {
  if (slot.fd < 0 || slot.paused) return;
  epoll_event event{};
  event.events = armed ? EPOLLIN : 0u;
  event.data.u64 = static_cast<std::uint64_t>(handle);
  ::epoll_ctl(slot.epoll, EPOLL_CTL_MOD, slot.fd, &event);
}

void CloseLocked(TSlot& slot) {
  if (slot.fd < 0) return;
  // Out of the epoll set first, then closed here and now: nothing else holds the
  // socket, so the name is free again when this returns.
  ::epoll_ctl(slot.epoll, EPOLL_CTL_DEL, slot.fd, nullptr);
  ::close(slot.fd);
  slot.fd = -1;
  slot.queue.clear();
  slot.queuedBytes = 0;
  slot.held.clear();
  slot.heldBytes = 0;
  slot.heldDeliverable = 0;
  slot.ready.Set();  // wakes the waiters, who find the mailslot closed
  slot.signalled = true;
}

class TService {
 public:
  TService() : FEpoll(::epoll_create1(EPOLL_CLOEXEC)) {
    if (FEpoll < 0) throw std::system_error(errno, std::generic_category(), "epoll_create1");
  }
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;
  // Never destroyed (see Service()).

  int Epoll() const { return FEpoll; }

  // Registers an open mailslot: a handle, and its socket in the drain thread's set.
  HANDLE AddSlot(const std::shared_ptr<TSlot>& slot) {
    std::call_once(FStarted, [this] { std::thread([this] { DrainLoop(); }).detach(); });
    const HANDLE handle = Add(THandleEntry{slot, nullptr});
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = static_cast<std::uint64_t>(handle);
    std::lock_guard<std::mutex> guard(slot->lock);
    if (::epoll_ctl(FEpoll, EPOLL_CTL_ADD, slot->fd, &event) != 0) {
      const int error = errno;
      Remove(handle);
      return Fail(SocketErrorFromErrno(error));
    }
    return handle;
  }

  HANDLE AddWriter(std::shared_ptr<TMailslotWriter> writer) {
    return Add(THandleEntry{nullptr, std::move(writer)});
  }

  // Sockets connected to the local mailslots written to last (by socket name),
  // so that the next write to one needs neither a new socket nor a connect.
  std::shared_ptr<TMailslotWriter> KeptWriter(const std::string& name) {
    std::lock_guard<std::mutex> guard(FLock);
    for (const auto& [kept, writer] : FKeptWriters) {
      if (kept == name) return writer;
    }
    return nullptr;
  }
  void KeepWriter(const std::string& name, std::shared_ptr<TMailslotWriter> writer) {
    std::lock_guard<std::mutex> guard(FLock);
    std::erase_if(FKeptWriters, [&name](const auto& kept) { return kept.first == name; });
    FKeptWriters.emplace(FKeptWriters.begin(), name, std::move(writer));
    if (FKeptWriters.size() > kKeptWriters) FKeptWriters.pop_back();
  }
  void ForgetWriter(const std::string& name, const std::shared_ptr<TMailslotWriter>& writer) {
    std::lock_guard<std::mutex> guard(FLock);
    std::erase_if(FKeptWriters,
                  [&](const auto& kept) { return kept.first == name && kept.second == writer; });
  }

  std::optional<THandleEntry> Find(HANDLE handle) {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FHandles.find(handle);
    if (found == FHandles.end()) return std::nullopt;
    return found->second;
  }

  std::optional<THandleEntry> Remove(HANDLE handle) {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FHandles.find(handle);
    if (found == FHandles.end()) return std::nullopt;
    THandleEntry entry = std::move(found->second);
    FHandles.erase(found);
    return entry;
  }

 private:
  HANDLE Add(THandleEntry entry) {
    std::lock_guard<std::mutex> guard(FLock);
    const HANDLE handle = FNextHandle++;
    FHandles.emplace(handle, std::move(entry));
    return handle;
  }

  // Waits for datagrams on every open mailslot and queues them. Blocks while
  // nothing arrives. A mailslot closed meanwhile is no longer in the table (or
  // is marked closed) and is skipped.
  void DrainLoop() {
    runtime::SetThreadName("mailslot drain");
    std::array<epoll_event, 64> events{};
    for (;;) {
      const int count = ::epoll_wait(FEpoll, events.data(), static_cast<int>(events.size()), -1);
      if (count < 0) {
        if (errno == EINTR) continue;
        return;  // cannot happen with a valid epoll descriptor; the queries still drain
      }
      for (int i = 0; i < count; ++i) {
        const auto handle = static_cast<HANDLE>(events[static_cast<std::size_t>(i)].data.u64);
        const std::optional<THandleEntry> entry = Find(handle);
        if (!entry || !entry->slot) continue;
        std::lock_guard<std::mutex> guard(entry->slot->lock);
        try {
          DrainLocked(*entry->slot, handle, kDrainBatch);
        } catch (const std::bad_alloc&) {
          // The datagram stays with the kernel; a later pass or a query takes it.
        }
      }
    }
  }

  static constexpr std::size_t kKeptWriters = 8;

  const int FEpoll;
  std::once_flag FStarted;
  std::mutex FLock;
  std::unordered_map<HANDLE, THandleEntry> FHandles;
  HANDLE FNextHandle = 1;
  std::vector<std::pair<std::string, std::shared_ptr<TMailslotWriter>>>
      FKeptWriters;  // newest first
};

std::atomic<TService*> gService{nullptr};

// A forked child has none of the parent's threads: it starts a service of its own
// (the parent's is left alone, as its locks may be held by threads that are gone).
void ForgetServiceInChild() {
  gService.store(nullptr, std::memory_order_relaxed);
}

// The process's service, made at first use. Never destroyed, so that detached
// threads may still call in while the process exits.
TService& Service() {
  TService* service = gService.load(std::memory_order_acquire);
  if (service != nullptr) return *service;
  [[maybe_unused]] static const int registered =
      ::pthread_atfork(nullptr, nullptr, &ForgetServiceInChild);
  auto fresh = std::make_unique<TService>();
  if (gService.compare_exchange_strong(service, fresh.get(), std::memory_order_acq_rel)) {
    return *fresh.release();
  }
  return *service;
}

// The entry of a handle; none before the service exists.
std::optional<THandleEntry> FindHandle(HANDLE handle) {
  TService* service = gService.load(std::memory_order_acquire);
  if (service == nullptr) return std::nullopt;
  return service->Find(handle);
}

// The slot of a mailslot handle; null with the last error set otherwise.
std::shared_ptr<TSlot> FindSlot(HANDLE handle) {
  const std::optional<THandleEntry> entry = FindHandle(handle);
  if (entry && entry->slot) return entry->slot;
  SetLastError(entry ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
  return nullptr;
}

// Whether the machine part of a path (OEM code page, as the messenger sends it)
// names this computer. Its names are in the ANSI page: the part is converted back
// (the pages map byte for byte, so nothing is lost) and compared in that page.
bool NamesThisMachine(std::string_view oemMachine) {
  std::string machine(oemMachine);
  OemToChar(machine);
  return IsLocalMachine(machine);
}

struct TTransportHolder {
  std::mutex lock;
  std::shared_ptr<IMailslotTransport> transport;
};

TTransportHolder& Transport() {
  static TTransportHolder* const holder = new TTransportHolder();  // never destroyed
  return *holder;
}

// Sends one datagram whole, waiting a while for room in the receiver's queue.
// `closed` (if given) tells a failure because the mailslot was closed.
bool SendDatagram(int fd, const void* data, std::size_t size, DWORD& error,
                  bool* closed = nullptr) {
  const runtime::TDeadline deadline(kWriteTimeout);
  for (;;) {
    const ssize_t sent = ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
      if (static_cast<std::size_t>(sent) == size) return true;
      error = ERROR_WRITE_FAULT;
      return false;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      // EMSGSIZE: more than one datagram can hold; ECONNREFUSED: the mailslot was closed.
      error = errno == EMSGSIZE ? ERROR_INVALID_PARAMETER : ERROR_WRITE_FAULT;
      if (closed != nullptr) *closed = errno == ECONNREFUSED || errno == ENOTCONN;
      return false;
    }
    if (deadline.Passed()) {
      error = ERROR_WRITE_FAULT;  // the receiver does not take its messages
      return false;
    }
    pollfd writable{fd, POLLOUT, 0};
    ::poll(&writable, 1, static_cast<int>(deadline.Remaining().count()));
  }
}

}  // namespace

HANDLE CreateMailslot(std::string_view path, DWORD maxMessageSize, DWORD readTimeout) {
  const std::optional<TSlotPath> parsed = ParseSlotPath(path);
  if (!parsed || parsed->machine != ".") return Fail(ERROR_BAD_PATHNAME);
  const std::optional<TSocketAddress> address = SocketAddress(parsed->name);
  if (!address) return Fail(ERROR_BAD_PATHNAME);
  try {
    TService& service = Service();
    runtime::TUniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0) return Fail(SocketErrorFromErrno(errno));
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address->address),
               address->length) != 0) {
      return Fail(errno == EADDRINUSE ? ERROR_ALREADY_EXISTS : SocketErrorFromErrno(errno));
    }
    runtime::TUniqueFd watch(::epoll_create1(EPOLL_CLOEXEC));
    if (watch.Get() < 0) return Fail(SocketErrorFromErrno(errno));
    epoll_event event{};
    event.events = EPOLLIN;
    if (::epoll_ctl(watch.Get(), EPOLL_CTL_ADD, socket.Get(), &event) != 0) {
      return Fail(SocketErrorFromErrno(errno));
    }
    auto slot = std::make_shared<TSlot>(socket.Get(), watch.Get(), service.Epoll(), maxMessageSize,
                                        readTimeout);
    socket.Release();
    watch.Release();
    const HANDLE handle = service.AddSlot(slot);
    // Writes from other machines reach it through the process that holds the
    // network ports (this one, or another).
    if (handle != INVALID_HANDLE_VALUE) {
      try {
        StartNetworkReceiving();
      } catch (const std::exception&) {
        // Out of memory for the transport: the mailslot is open and works on this
        // machine; failing here would leave its name taken by a handle nobody has.
      }
    }
    return handle;
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::system_error&) {
    return Fail(ERROR_CANTOPEN);
  }
}

bool GetMailslotInfo(HANDLE mailslot, DWORD* maxMessageSize, DWORD* nextSize, DWORD* messageCount,
                     DWORD* readTimeout) {
  const std::shared_ptr<TSlot> slot = FindSlot(mailslot);
  if (!slot) return false;
  std::lock_guard<std::mutex> guard(slot->lock);
  if (slot->fd < 0) return FailBool(ERROR_INVALID_HANDLE);
  try {
    DrainLocked(*slot, mailslot, kDrainAll);
    CountHeldLocked(*slot);
  } catch (const std::bad_alloc&) {
    // What is queued and counted is still reported.
  }
  if (maxMessageSize != nullptr) *maxMessageSize = slot->maxMessageSize;
  if (nextSize != nullptr) {
    *nextSize =
        slot->queue.empty() ? MAILSLOT_NO_MESSAGE : static_cast<DWORD>(slot->queue.front().size());
  }
  if (messageCount != nullptr) {
    const std::size_t waiting = slot->queue.size() + slot->heldDeliverable;
    *messageCount = static_cast<DWORD>(std::min<std::size_t>(waiting, UINT32_MAX));
  }
  if (readTimeout != nullptr) *readTimeout = slot->readTimeout;
  return true;
}

bool TakeMailslotMessage(HANDLE mailslot, std::string& message) {
  const std::shared_ptr<TSlot> slot = FindSlot(mailslot);
  if (!slot) return false;
  std::lock_guard<std::mutex> guard(slot->lock);
  if (slot->fd < 0) return FailBool(ERROR_INVALID_HANDLE);
  // What the socket holds is younger than what is queued: it needs a look only
  // when the queue is empty.
  if (slot->queue.empty()) {
    try {
      DrainLocked(*slot, mailslot, kMaxQueuedMessages);
    } catch (const std::bad_alloc&) {
    }
  }
  if (slot->queue.empty()) return FailBool(ERROR_SEM_TIMEOUT);
  message = std::move(slot->queue.front());
  slot->queuedBytes -= message.size();
  slot->queue.pop_front();
  UnsignalLocked(*slot);
  ResumeLocked(*slot, mailslot);
  return true;
}

bool ReadFile(HANDLE mailslot, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  const std::shared_ptr<TSlot> slot = FindSlot(mailslot);
  if (!slot) return false;
  const runtime::TDeadline deadline(slot->readTimeout == MAILSLOT_WAIT_FOREVER
                                        ? milliseconds::max()
                                        : milliseconds(slot->readTimeout));
  bool waited = false;  // counted among the slot's readers
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(slot->lock);
      if (std::exchange(waited, false)) --slot->readers;
      if (slot->fd < 0) return FailBool(ERROR_INVALID_HANDLE);
      try {
        DrainLocked(*slot, mailslot, kMaxQueuedMessages);
      } catch (const std::bad_alloc&) {
      }
      if (!slot->queue.empty()) {
        std::string& message = slot->queue.front();
        if (message.size() > bytesToRead) return FailBool(ERROR_INSUFFICIENT_BUFFER);
        if (!message.empty()) {
          if (buffer == nullptr) return FailBool(ERROR_INVALID_PARAMETER);
          std::memcpy(buffer, message.data(), message.size());
        }
        if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(message.size());
        slot->queuedBytes -= message.size();
        slot->queue.pop_front();
        UnsignalLocked(*slot);
        ResumeLocked(*slot, mailslot);
        return true;
      }
      if (deadline.Passed()) return FailBool(ERROR_SEM_TIMEOUT);
      // From here on a message that comes sets the event.
      ++slot->readers;
      waited = true;
    }
    runtime::WaitForEvents({&slot->ready}, deadline.Remaining());
  }
}

namespace {
runtime::TError Failure(DWORD code) {
  return runtime::TError{code, {}};
}
}  // namespace

namespace {

// A writer connected to the local mailslot at `address`; ERROR_FILE_NOT_FOUND
// when nobody holds its name.
runtime::TResult<std::shared_ptr<TMailslotWriter>> ConnectWriter(const TSocketAddress& address) {
  runtime::TUniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socket.Get() < 0) return Failure(SocketErrorFromErrno(errno));
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address.address),
                address.length) != 0) {
    return Failure(errno == ECONNREFUSED || errno == ENOENT ? ERROR_FILE_NOT_FOUND
                                                            : SocketErrorFromErrno(errno));
  }
  auto writer = std::make_shared<TMailslotWriter>(socket.Get());
  socket.Release();
  return writer;
}

// The abstract name of a socket address, to tell mailslots apart by.
std::string SocketName(const TSocketAddress& address) {
  const auto* begin = reinterpret_cast<const char*>(&address.address);
  return std::string(begin + offsetof(sockaddr_un, sun_path), begin + address.length);
}

}  // namespace

runtime::TResult<HANDLE> OpenMailslotWriter(std::string_view path) {
  const std::optional<TSlotPath> parsed = ParseSlotPath(path);
  if (!parsed) return Failure(ERROR_BAD_PATHNAME);
  try {
    if (NamesThisMachine(parsed->machine)) {
      const std::optional<TSocketAddress> address = SocketAddress(parsed->name);
      if (!address) return Failure(ERROR_BAD_PATHNAME);
      runtime::TResult<std::shared_ptr<TMailslotWriter>> writer = ConnectWriter(*address);
      if (!writer) return writer.Error();
      return Service().AddWriter(std::move(writer.Value()));
    }
    std::shared_ptr<IMailslotTransport> transport;
    {
      std::lock_guard<std::mutex> guard(Transport().lock);
      transport = Transport().transport;
    }
    if (!transport) transport = NetworkTransport();
    if (!transport) return Failure(ERROR_BAD_NETPATH);
    return Service().AddWriter(
        std::make_shared<TMailslotWriter>(parsed->machine, parsed->name, std::move(transport)));
  } catch (const std::bad_alloc&) {
    return Failure(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::system_error&) {
    return Failure(ERROR_CANTOPEN);
  }
}

HANDLE CreateFile(std::string_view path, DWORD desiredAccess, DWORD /*shareMode*/,
                  DWORD creationDisposition, DWORD /*flagsAndAttributes*/) {
  // A mailslot is only written through such a handle, and it is never created here.
  if ((desiredAccess & GENERIC_WRITE) == 0) return Fail(ERROR_ACCESS_DENIED);
  if (creationDisposition != OPEN_EXISTING) return Fail(ERROR_INVALID_PARAMETER);
  const runtime::TResult<HANDLE> opened = OpenMailslotWriter(path);
  return opened ? opened.Value() : Fail(opened.Error().code);
}

runtime::TResult<TWriteDelivery> WriteToMailslot(HANDLE file, std::string_view data) {
  const std::optional<THandleEntry> entry = FindHandle(file);
  if (!entry) return Failure(ERROR_INVALID_HANDLE);
  if (!entry->writer) return Failure(ERROR_ACCESS_DENIED);  // a mailslot is only read
  const TMailslotWriter& writer = *entry->writer;
  if (writer.fd >= 0) {
    // A local receiver's size limit is not visible here: a message longer than it
    // is taken and then dropped by the receiving mailslot.
    DWORD error = ERROR_SUCCESS;
    if (!SendDatagram(writer.fd, data.data(), data.size(), error)) return Failure(error);
    return TWriteDelivery::Local;
  }
  try {
    runtime::TResult<TWriteDelivery> written =
        writer.transport->Write(writer.machine, writer.slotName, data);
    if (!written) {
      const DWORD error = written.Error().code;
      return Failure(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
    }
    const bool workgroup = !writer.machine.empty() && writer.machine.back() == '*';
    if (workgroup && written.Value() == TWriteDelivery::Datagram) return TWriteDelivery::Workgroup;
    return written;
  } catch (const std::bad_alloc&) {
    return Failure(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::exception&) {
    return Failure(ERROR_WRITE_FAULT);
  }
}

bool WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  if (buffer == nullptr && bytesToWrite != 0) return FailBool(ERROR_INVALID_PARAMETER);
  const runtime::TResult<TWriteDelivery> written =
      WriteToMailslot(file, std::string_view(static_cast<const char*>(buffer), bytesToWrite));
  if (!written) return FailBool(written.Error().code);
  if (bytesWritten != nullptr) *bytesWritten = bytesToWrite;
  return true;
}

runtime::TResult<TWriteDelivery> WriteMailslotMessage(std::string_view path,
                                                      std::string_view data) {
  const std::optional<TSlotPath> parsed = ParseSlotPath(path);
  std::optional<TSocketAddress> address;
  try {
    if (parsed && NamesThisMachine(parsed->machine)) address = SocketAddress(parsed->name);
    if (address) {
      const std::string name = SocketName(*address);
      DWORD error = ERROR_SUCCESS;
      if (const std::shared_ptr<TMailslotWriter> kept = Service().KeptWriter(name)) {
        bool closed = false;
        if (SendDatagram(kept->fd, data.data(), data.size(), error, &closed)) {
          return TWriteDelivery::Local;
        }
        Service().ForgetWriter(name, kept);
        // Closed since: whoever holds the name now (if anybody) gets it.
        if (!closed) return Failure(error);
      }
      runtime::TResult<std::shared_ptr<TMailslotWriter>> writer = ConnectWriter(*address);
      if (!writer) return writer.Error();
      if (!SendDatagram(writer.Value()->fd, data.data(), data.size(), error)) {
        return Failure(error);
      }
      Service().KeepWriter(name, std::move(writer.Value()));
      return TWriteDelivery::Local;
    }
  } catch (const std::bad_alloc&) {
    return Failure(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::system_error&) {
    return Failure(ERROR_CANTOPEN);
  }
  // Another machine, or a path that is none: as a handle of its own.
  const runtime::TResult<HANDLE> opened = OpenMailslotWriter(path);
  if (!opened) return opened.Error();
  runtime::TResult<TWriteDelivery> written = WriteToMailslot(opened.Value(), data);
  CloseHandle(opened.Value());
  return written;
}

bool CloseHandle(HANDLE handle) {
  TService* service = gService.load(std::memory_order_acquire);
  const std::optional<THandleEntry> entry =
      service != nullptr ? service->Remove(handle) : std::nullopt;
  if (!entry) return FailBool(ERROR_INVALID_HANDLE);
  if (entry->slot) {
    std::lock_guard<std::mutex> guard(entry->slot->lock);
    CloseLocked(*entry->slot);
  }
  // A writer's socket is closed when the last write still using it has ended.
  return true;
}

TMailslotWait WaitForMailslot(HANDLE mailslot, const runtime::TEvent& stop, milliseconds timeout) {
  const std::shared_ptr<TSlot> slot = FindSlot(mailslot);
  if (!slot) return TMailslotWait::Failed;
  const runtime::TDeadline deadline(timeout);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(slot->lock);
      if (slot->fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return TMailslotWait::Failed;
      }
      try {
        DrainLocked(*slot, mailslot, kMaxQueuedMessages);
      } catch (const std::bad_alloc&) {
      }
      if (!slot->queue.empty()) return TMailslotWait::MessageWaiting;
    }
    if (stop.IsSet()) return TMailslotWait::Stopped;
    {
      std::lock_guard<std::mutex> guard(slot->lock);
      ++slot->waiters;
      if (slot->drainers++ == 0) ArmDrainLocked(*slot, mailslot, false);
      // A message queued since the look above sets the event now.
      SignalLocked(*slot);
    }
    struct TLeave {
      TSlot& slot;
      HANDLE handle;
      bool& waiting;
      ~TLeave() {
        std::lock_guard<std::mutex> guard(slot.lock);
        // No longer waiting: what this thread queues now signals nobody (but
        // other waiters).
        --slot.waiters;
        // What woke this thread is taken first, so that re-arming the drain
        // thread does not wake it for the same datagram.
        try {
          DrainLocked(slot, handle, kMaxQueuedMessages);
        } catch (const std::bad_alloc&) {
        }
        waiting = slot.fd >= 0 && !slot.queue.empty();
        if (--slot.drainers == 0) ArmDrainLocked(slot, handle, true);
      }
    };
    const int descriptors[] = {slot->ready.NativeHandle(), stop.NativeHandle(), slot->watch};
    int woken;
    bool waiting = false;
    {
      TLeave leave{*slot, mailslot, waiting};
      woken = runtime::WaitForDescriptors(descriptors, deadline.Remaining());
    }
    if (waiting) return TMailslotWait::MessageWaiting;  // as the drain on leaving found
    if (woken < 0) return TMailslotWait::TimedOut;
  }
}

// While the queue is full nothing arrives: the watch looks this often whether
// it has room again.
constexpr milliseconds kFullQueueLook(10);

struct TMailslotWatch::TImpl {
  std::shared_ptr<TSlot> slot;
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TMailslotWatch::TMailslotWatch(HANDLE mailslot) : FImpl(std::make_unique<TImpl>()) {
  FImpl->slot = FindSlot(mailslot);
  FImpl->handle = mailslot;
  if (!FImpl->slot) return;
  std::lock_guard<std::mutex> guard(FImpl->slot->lock);
  if (FImpl->slot->drainers++ == 0) ArmDrainLocked(*FImpl->slot, mailslot, false);
}

TMailslotWatch::~TMailslotWatch() {
  if (!FImpl->slot) return;
  TSlot& slot = *FImpl->slot;
  std::lock_guard<std::mutex> guard(slot.lock);
  // What came meanwhile is queued before the drain thread takes over.
  try {
    DrainLocked(slot, FImpl->handle, kMaxQueuedMessages);
  } catch (const std::bad_alloc&) {
  }
  if (--slot.drainers == 0) ArmDrainLocked(slot, FImpl->handle, true);
}

TMailslotWait TMailslotWatch::WaitForArrival(const runtime::TEvent& stop, milliseconds timeout) {
  if (!FImpl->slot) return TMailslotWait::Failed;
  TSlot& slot = *FImpl->slot;
  const runtime::TDeadline deadline(timeout);
  for (;;) {
    bool full = false;
    {
      std::lock_guard<std::mutex> guard(slot.lock);
      if (slot.fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return TMailslotWait::Failed;
      }
      full = slot.paused;
    }
    const int descriptors[] = {stop.NativeHandle(), full ? -1 : slot.watch};
    const int woken = runtime::WaitForDescriptors(
        descriptors, full ? std::min(deadline.Remaining(), kFullQueueLook) : deadline.Remaining());
    if (woken == 0) return TMailslotWait::Stopped;
    if (woken == 1) return TMailslotWait::MessageWaiting;
    if (deadline.Passed()) return TMailslotWait::TimedOut;
  }
}

std::size_t TMailslotWatch::TakeArrivals() {
  if (!FImpl->slot) return 0;
  std::lock_guard<std::mutex> guard(FImpl->slot->lock);
  try {
    return DrainLocked(*FImpl->slot, FImpl->handle, kMaxQueuedMessages);
  } catch (const std::bad_alloc&) {
    return 0;  // the datagram stays with the system; a later look takes it
  }
}

namespace {

// A non-blocking datagram socket connected to this machine's mailslot
// `oemSlotName`; -1 when it is not open.
int ConnectLocal(std::string_view oemSlotName) {
  std::string name(oemSlotName);
  OemToChar(name);
  const std::optional<TSocketAddress> address = SocketAddress(name);
  if (!address) return -1;
  runtime::TUniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.Get() < 0) return -1;
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address->address),
                address->length) != 0) {
    return -1;  // not open
  }
  return socket.Release();
}

}  // namespace

int ConnectLocalMailslot(std::string_view oemSlotName) {
  try {
    return ConnectLocal(oemSlotName);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

bool DeliverToLocalMailslot(std::string_view oemSlotName, std::string_view data) {
  runtime::TUniqueFd socket(ConnectLocalMailslot(oemSlotName));
  if (socket.Get() < 0) return false;
  // A full mailslot gets a short while to make room (its drain thread empties the
  // socket quickly); past that the copy is lost.
  const runtime::TDeadline deadline(kWorkgroupCopyWait);
  for (;;) {
    const ssize_t sent = ::send(socket.Get(), data.data(), data.size(), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent) == data.size();
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || deadline.Passed()) return false;
    pollfd writable{socket.Get(), POLLOUT, 0};
    ::poll(&writable, 1, static_cast<int>(deadline.Remaining().count()) + 1);
  }
}

void SetMailslotTransport(std::shared_ptr<IMailslotTransport> transport) {
  std::shared_ptr<IMailslotTransport> previous;
  {
    std::lock_guard<std::mutex> guard(Transport().lock);
    previous = std::exchange(Transport().transport, std::move(transport));
  }
}

}  // namespace pling::platform
