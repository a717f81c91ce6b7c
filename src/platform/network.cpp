// SPDX-License-Identifier: GPL-3.0-or-later
// The network transport seen from the mailslot service: made when first needed,
// with this machine's names, and kept for the life of the process (its thread
// holds the NetBIOS ports, or waits to take them over, until the process ends).
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "net/comment_change.h"
#include "net/holder_helper.h"
#include "net/sender_limits.h"
#include "net/socket.h"
#include "net/transport.h"
#include "net/wins.h"
#include "net/workgroup.h"
#include "platform/codepage.h"
#include "platform/identity.h"
#include "platform/neighbourhood.h"
#include "platform/network.h"
#include "platform/paths.h"
#include "platform/posix/network_transport.h"
#include "runtime/unique_fd.h"

namespace pling::platform {

namespace {

// Where this user's programs share which servers and machines did not answer:
// a file in the session folder, one per network namespace (what answers, and
// at which address, is a matter of the network seen from here). Empty when the
// session folder cannot be had.
std::string SilenceBoardPath() {
  const std::string folder = SessionDirectory();
  std::string problem;
  if (!PrivateFolder(folder, problem)) return {};
  struct stat network {};
  if (::stat("/proc/self/ns/net", &network) != 0) return folder + "/silent";
  return folder + "/silent-" + std::to_string(network.st_ino);
}

bool EnvironmentTurnsOff() {
  const char* value = std::getenv("PLING_NETWORK");
  if (value == nullptr) return false;
  std::string text(value);
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  return text == "off" || text == "0" || text == "no" || text == "false";
}

// PLING_NAME_RETRY_MS: the time between the broadcasts that claim a name, for
// tests (1 to 250 ms; anything else keeps the usual 250 ms).
std::chrono::milliseconds NameRetryInterval() {
  constexpr std::chrono::milliseconds kUsual{250};
  const char* value = std::getenv("PLING_NAME_RETRY_MS");
  if (value == nullptr) return kUsual;
  const std::string_view text(value);
  int ms = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (error != std::errc() || end != text.data() + text.size() || ms < 1 || ms > kUsual.count()) {
    return kUsual;
  }
  return std::chrono::milliseconds(ms);
}

// PLING_BROWSE_ANSWER_MS: the longest wait before an AnnouncementRequest is
// answered, for tests (0 to 30000 ms; anything else keeps the usual 30 s).
std::chrono::milliseconds BrowseAnswerDelay() {
  constexpr std::chrono::milliseconds kUsual{30000};
  const char* value = std::getenv("PLING_BROWSE_ANSWER_MS");
  if (value == nullptr) return kUsual;
  const std::string_view text(value);
  int ms = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (error != std::errc() || end != text.data() + text.size() || ms < 0 || ms > kUsual.count()) {
    return kUsual;
  }
  return std::chrono::milliseconds(ms);
}

std::string OemToAnsi(std::string oem) {
  OemToChar(oem);
  return oem;
}

std::string OemUpper(std::string ansi) {
  CharToOem(ansi);
  OemUpperCase(ansi);
  return ansi;
}

std::mutex gWatcherLock;
std::function<void()> gWatcher;        // [browse] see SetNeighbourhoodWatcher
std::function<void()> gCommentReader;  // [browse] see SetCommentChangeHandler, with gWatcherLock

void TellCommentChange() {
  std::function<void()> reader;
  {
    std::lock_guard<std::mutex> guard(gWatcherLock);
    reader = gCommentReader;
  }
  if (reader) reader();
}

void TellNeighbourhoodWatcher() {
  std::function<void()> watcher;
  {
    std::lock_guard<std::mutex> guard(gWatcherLock);
    watcher = gWatcher;
  }
  if (watcher) watcher();
}

std::mutex gWaitLock;
TNetworkWait gWait;
std::atomic<bool> gSessionMessages{true};

// Addresses the notice handler was told of; at most kMaxToldSenders (after that,
// no more are told: the user has heard of plenty).
constexpr std::size_t kMaxToldSenders = 4096;
struct TNotices {
  std::mutex lock;
  std::function<void(std::uint32_t)> handler;
  std::unordered_set<std::uint32_t> told;
};

TNotices& Notices() {
  static TNotices* const notices = new TNotices();  // never destroyed: threads may call late
  return *notices;
}

TNetworkWait CurrentWait() {
  std::lock_guard<std::mutex> guard(gWaitLock);
  return gWait;
}

class TNetworkTransport final : public IMailslotTransport {
 public:
  explicit TNetworkTransport(net::TTransportConfig config) : FTransport(std::move(config)) {}

  runtime::TResult<TWriteDelivery> Write(std::string_view machine, std::string_view slotName,
                                         std::string_view data) override {
    std::string oemMachine(machine);
    OemUpperCase(oemMachine);
    const std::string slot = OemUpper(std::string(slotName));
    const TNetworkWait wait = CurrentWait();
    const net::TSendWay way = gSessionMessages.load(std::memory_order_relaxed)
                                  ? net::TSendWay::SessionFirst
                                  : net::TSendWay::Datagram;
    net::TSendResult result = net::TSendResult::Failed;
    if (wait.servesThisThread && wait.wait && !FTransport.SendsAtOnce(oemMachine, way) &&
        wait.servesThisThread()) {
      // The name must be looked up: that happens on a thread of its own while this
      // one keeps its window alive.
      struct TAsync {
        std::atomic<bool> done{false};
        net::TSendResult result = net::TSendResult::Failed;
      };
      auto async = std::make_shared<TAsync>();
      std::thread worker([this, async, oemMachine, slot, way, text = std::string(data)] {
        try {
          async->result = FTransport.Send(oemMachine, slot, text, way);
        } catch (...) {
          async->result = net::TSendResult::Failed;
        }
        async->done.store(true, std::memory_order_release);
      });
      try {
        wait.wait([&async] { return async->done.load(std::memory_order_acquire); });
      } catch (...) {
        worker.join();
        throw;
      }
      worker.join();
      result = async->result;
    } else {
      result = FTransport.Send(oemMachine, slot, data, way);
    }
    switch (result) {
      case net::TSendResult::Sent:
        return TWriteDelivery::Datagram;
      case net::TSendResult::Delivered:
        return TWriteDelivery::Confirmed;
      case net::TSendResult::Unconfirmed:
        return TWriteDelivery::Unconfirmed;
      case net::TSendResult::Refused:
        return runtime::TError{ERROR_REQ_NOT_ACCEP, {}};
      case net::TSendResult::TooLong:
        return runtime::TError{ERROR_INVALID_PARAMETER, {}};
      case net::TSendResult::BadName:
      case net::TSendResult::NotFound:
        return runtime::TError{ERROR_BAD_NETPATH, {}};
      case net::TSendResult::Failed:
        break;
    }
    return runtime::TError{ERROR_WRITE_FAULT, {}};
  }

  net::TTransport& Transport() { return FTransport; }

 private:
  net::TTransport FTransport;
};

struct TNetworkState {
  std::mutex lock;
  bool enabledBySetting = true;
  std::string winsSetting;
  std::string commentSetting;  // [browse]
  bool ownUserName = true;     // see SetOwnUserNameClaimed
  std::shared_ptr<TNetworkTransport> transport;
  bool receiving = false;
};

TNetworkState& State() {
  static TNetworkState* const state = new TNetworkState();  // never destroyed
  return *state;
}

// [browse] The comment this machine announces (OEM code page), with the state's lock.
std::string OwnCommentLocked(const TNetworkState& state) {
  return CommentToOem(!state.commentSetting.empty() ? state.commentSetting
                      : state.ownUserName           ? DefaultBrowseComment(GetUserName())
                                                    : std::string("Pling"));
}

std::shared_ptr<TNetworkTransport> TransportLocked(TNetworkState& state) {
  if (!state.enabledBySetting || EnvironmentTurnsOff()) return nullptr;
  if (!state.transport) {
    net::TTransportConfig config;
    config.computerName = OemUpper(GetComputerName());
    // The holder service runs under an account of its own, whose name nobody is
    // to be reached by.
    if (state.ownUserName) config.userName = OemUpper(GetUserName());
    const char* smbConf = std::getenv("PLING_SMB_CONF");
    config.workgroup = OemUpper(net::ReadWorkgroup(
        smbConf != nullptr && *smbConf != '\0' ? smbConf : net::kSambaConfigPath));
    config.deliverLocal = DeliverToLocalMailslot;
    config.connectLocal = [](std::string_view slotName) {
      return runtime::TUniqueFd(ConnectLocalMailslot(slotName));
    };
    config.senderLimited = ReportDroppedSender;
    config.fromUtf8 = [](std::string_view utf8) {
      std::string oem = Utf8ToAnsi(utf8);
      CharToOem(oem);
      return oem;
    };
    // The WINS server: the environment, else the setting, else the Samba configuration.
    if (const char* wins = std::getenv("PLING_WINS_SERVER")) {
      config.winsServer = wins;
    } else if (!state.winsSetting.empty()) {
      config.winsServer = state.winsSetting;
    } else {
      config.winsServer = net::ReadWinsServer(
          smbConf != nullptr && *smbConf != '\0' ? smbConf : net::kSambaConfigPath);
    }
    config.silenceBoard = SilenceBoardPath();
    config.nameTimers.broadcastInterval = NameRetryInterval();
    // [browse]
    config.comment = OwnCommentLocked(state);
    config.commentChanged = TellCommentChange;
    config.browseAnswerDelay = BrowseAnswerDelay();
    config.nameNotice = [](const net::TNameNotice& notice) {
      TellNameNotice(TNameNoticeText{OemToAnsi(notice.Text()), OemToAnsi(notice.Brief())});
    };
    config.reachable = TellReachable;
    config.receiveChanged = TellReceiveChanged;
    // A user's program starts the helper that holds the ports where it may not
    // and nobody does (holder_helper.h); the holder program itself never does.
    if (state.ownUserName) {
      config.startHelper = [] {
        const std::string helper = net::HolderHelperPath();
        return net::HelperRunnable(helper) ? net::StartHolderHelper(helper) : runtime::TUniqueFd();
      };
    }
    state.transport = std::make_shared<TNetworkTransport>(std::move(config));
    // [browse] Said once, on the program's standard error.
    state.transport->Transport().Neighbourhood()->SetFull(
        [](const std::string& line) { std::fprintf(stderr, "pling: %s\n", line.c_str()); });
    state.transport->Transport().Neighbourhood()->SetChanged(TellNeighbourhoodWatcher);
  }
  return state.transport;
}

}  // namespace

void SetNetworkWait(TNetworkWait wait) {
  std::lock_guard<std::mutex> guard(gWaitLock);
  gWait = std::move(wait);
}

bool ServeNetworkWait(const std::function<bool()>& done) {
  const TNetworkWait wait = CurrentWait();
  if (!wait.servesThisThread || !wait.wait || !wait.servesThisThread()) return false;
  wait.wait(done);
  return true;
}

void SetWinsServerSetting(std::string server) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().winsSetting = std::move(server);
}

namespace {

// The notices told so far, and who is told them. Calls to the handler hold
// gNameNoticeCall, so that a handler taken away is not running once that returns.
std::mutex gNameNoticeCall;
std::mutex gNameNoticeLock;
std::function<void(const TNameNoticeText&)> gNameNoticeHandler;
std::vector<TNameNoticeText> gNameNotices;

}  // namespace

void SetNameNoticeHandler(std::function<void(const TNameNoticeText&)> handler) {
  std::lock_guard<std::mutex> call(gNameNoticeCall);
  std::vector<TNameNoticeText> earlier;
  {
    std::lock_guard<std::mutex> guard(gNameNoticeLock);
    gNameNoticeHandler = handler;
    earlier = gNameNotices;
  }
  if (handler) {
    for (const TNameNoticeText& notice : earlier) handler(notice);
  }
}

void TellNameNotice(const TNameNoticeText& notice) {
  std::lock_guard<std::mutex> call(gNameNoticeCall);
  std::function<void(const TNameNoticeText&)> handler;
  {
    std::lock_guard<std::mutex> guard(gNameNoticeLock);
    const bool told = std::any_of(gNameNotices.begin(), gNameNotices.end(),
                                  [&](const TNameNoticeText& n) { return n.text == notice.text; });
    if (told) return;
    gNameNotices.push_back(notice);
    handler = gNameNoticeHandler;
  }
  if (handler) handler(notice);
}

namespace {

// Whether this machine was found reachable, and who is told. Calls to the
// handler hold gReachableCall, as for the name notices.
std::mutex gReachableCall;
std::mutex gReachableLock;
std::function<void()> gReachableHandler;
bool gReachable = false;

// Whether another process on this machine holds the ports and receives for this
// one, its user's name settled there.
bool ReceivedThroughAnother() {
  std::lock_guard<std::mutex> guard(State().lock);
  if (!State().receiving || !State().transport) return false;
  const net::TTransport& transport = State().transport->Transport();
  return !transport.HoldsPorts() && transport.ReceiveProblem().empty() && transport.Reachable();
}

}  // namespace

void TellReachable() {
  std::lock_guard<std::mutex> call(gReachableCall);
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> guard(gReachableLock);
    if (gReachable) return;
    gReachable = true;
    handler = gReachableHandler;
  }
  if (handler) handler();
}

namespace {

// What receiving was like when the change handler was last told, and who is told.
std::mutex gChangeCall;
std::mutex gChangeLock;
std::function<void()> gChangeHandler;
bool gWasReachable = false;
std::string gWasProblem;

}  // namespace

void TellReceiveChanged() {
  bool reachable = false;
  std::string problem;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    if (!State().receiving || !State().transport) return;
    const net::TTransport& transport = State().transport->Transport();
    reachable = transport.Reachable();
    problem = transport.ReceiveProblem();
  }
  if (!reachable) {
    // Lost (the holder this process waited on ended): the reachable handler is
    // told again when other machines reach this one again.
    std::lock_guard<std::mutex> guard(gReachableLock);
    gReachable = false;
  }
  std::lock_guard<std::mutex> call(gChangeCall);
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> guard(gChangeLock);
    if (reachable == gWasReachable && problem == gWasProblem) return;
    gWasReachable = reachable;
    gWasProblem = std::move(problem);
    handler = gChangeHandler;
  }
  if (handler) handler();
}

void SetReceiveChangeHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> call(gChangeCall);
  std::lock_guard<std::mutex> guard(gChangeLock);
  gChangeHandler = std::move(handler);
}

bool NetworkClaimingNames() {
  std::lock_guard<std::mutex> guard(State().lock);
  if (!State().receiving || !State().transport) return false;
  const net::TTransport& transport = State().transport->Transport();
  return transport.HoldsPorts() && !transport.Reachable();
}

void SetReachableHandler(std::function<void()> handler) {
  const bool throughAnother = handler && ReceivedThroughAnother();
  std::lock_guard<std::mutex> call(gReachableCall);
  bool reachable = false;
  {
    std::lock_guard<std::mutex> guard(gReachableLock);
    gReachableHandler = handler;
    reachable = gReachable;
  }
  if (handler && (reachable || throughAnother)) handler();
}

void SetOwnUserNameClaimed(bool claimed) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().ownUserName = claimed;
}

void SetBrowseCommentSetting(std::string comment) {
  // Two changes at once (the window's and one read again on the transport's
  // thread) reach the transport in the order they were made.
  static std::mutex applying;
  std::lock_guard<std::mutex> order(applying);
  std::shared_ptr<TNetworkTransport> transport;
  std::string oem;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    State().commentSetting = std::move(comment);
    transport = State().transport;
    if (transport) oem = OwnCommentLocked(State());
  }
  // Announced at once while this process holds the ports.
  if (transport) transport->Transport().SetComment(oem);
}

void SetCommentChangeHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> guard(gWatcherLock);
  gCommentReader = std::move(handler);
}

bool TellCommentChanged() {
  return net::TellCommentChanged();
}

std::shared_ptr<net::TNeighbourhood> HeldNeighbourhood() {
  std::shared_ptr<TNetworkTransport> transport;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    transport = State().transport;
  }
  if (!transport || !transport->Transport().Neighbourhood()->Live()) return nullptr;
  return transport->Transport().Neighbourhood();
}

void SetNeighbourhoodWatcher(std::function<void()> watcher) {
  std::lock_guard<std::mutex> guard(gWatcherLock);
  gWatcher = std::move(watcher);
}

void SetNetworkEnabled(bool enabled) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().enabledBySetting = enabled;
}

void SetSessionMessagesEnabled(bool enabled) {
  gSessionMessages.store(enabled, std::memory_order_relaxed);
}

bool SessionMessagesEnabled() {
  return gSessionMessages.load(std::memory_order_relaxed) && NetworkEnabled();
}

bool NetworkEnabled() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().enabledBySetting && !EnvironmentTurnsOff();
}

bool SessionMessagesThroughSamba() {
  const char* smbConf = std::getenv("PLING_SMB_CONF");
  return net::SambaDeliversMessages(smbConf != nullptr && *smbConf != '\0' ? smbConf
                                                                           : net::kSambaConfigPath);
}

std::string NetworkReceiveProblem() {
  std::lock_guard<std::mutex> guard(State().lock);
  if (!State().receiving || !State().transport) return {};
  return State().transport->Transport().ReceiveProblem();
}

std::vector<net::TPortRefusal> NetworkRefusedPorts() {
  std::lock_guard<std::mutex> guard(State().lock);
  if (!State().receiving || !State().transport) return {};
  return State().transport->Transport().RefusedPorts();
}

std::shared_ptr<IMailslotTransport> NetworkTransport() {
  std::lock_guard<std::mutex> guard(State().lock);
  return TransportLocked(State());
}

void SetNetworkNoticeHandler(std::function<void(std::uint32_t address)> handler) {
  std::lock_guard<std::mutex> guard(Notices().lock);
  Notices().handler = std::move(handler);
}

namespace {

std::string Dotted(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
         std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace

std::string DroppedSenderText(std::uint32_t address) {
  if (address == net::kAllSenders) {
    return "Messages were dropped: more than " + std::to_string(static_cast<int>(net::kTotalRate)) +
           " a second arrived from the network altogether";
  }
  return "Messages from " + Dotted(address) + " were dropped: it sent more than " +
         std::to_string(static_cast<int>(net::kSenderRate)) + " a second";
}

std::string DroppedSenderStatus(std::uint32_t address) {
  if (address == net::kAllSenders) return "Dropped: too many messages at once";
  return "Dropped: " + Dotted(address);
}

void ReportDroppedSender(std::uint32_t address) {
  TNotices& notices = Notices();
  // Held while the handler runs, so that a handler taken away is never called
  // after; handlers do not wait.
  std::lock_guard<std::mutex> guard(notices.lock);
  if (!notices.handler || notices.told.size() >= kMaxToldSenders) return;
  if (!notices.told.insert(address).second) return;
  try {
    notices.handler(address);
  } catch (...) {
    // A handler that fails has still been told.
  }
}

net::THolderCounts NetworkReceiveCounts() {
  std::shared_ptr<TNetworkTransport> transport;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    transport = State().transport;
  }
  return transport ? transport->Transport().HolderCounts() : net::THolderCounts{};
}

void StartNetworkReceiving() {
  // At exit this machine's names are released and the ports handed on (the
  // transport itself stays: other threads may still write).
  struct TReleaseAtExit {
    ~TReleaseAtExit() {
      std::shared_ptr<TNetworkTransport> transport;
      {
        std::lock_guard<std::mutex> guard(State().lock);
        transport = State().transport;
      }
      if (transport) transport->Transport().StopReceiving();
    }
  };
  static TReleaseAtExit releaseAtExit;
  std::shared_ptr<TNetworkTransport> transport;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    transport = TransportLocked(State());
    if (!transport) return;
    State().receiving = true;
  }
  transport->Transport().StartReceiving();
}

}  // namespace pling::platform
