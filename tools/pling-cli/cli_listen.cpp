// SPDX-License-Identifier: GPL-3.0-or-later
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "cli.h"
#include "history/history.h"
#include "mailslot/lxMailSlot.h"
#include "mailslot/message_text.h"
#include "platform/codepage.h"
#include "platform/network.h"
#include "runtime/event_loop.h"
#include "runtime/main_thread.h"

namespace pling::cli {

namespace {

constexpr const char* kListenUsage =
    "usage: pling-cli listen [--count N] [--raw] [--json] [--verbose]\n"
    "\n"
    "Holds this computer's messenger mailslot and prints every message on one line:\n"
    "  SENDER to RECEIVER : TEXT   (control characters and line breaks escaped)\n"
    "  --raw     the datagram's bytes in hex instead\n"
    "  --json    one JSON object per line: {\"sender\":...,\"receiver\":...,\"text\":...}\n"
    "  --count N exit after N messages\n"
    "  --verbose say on standard error when other computers can reach this one\n"
    "            (its names are claimed on the network), or why they cannot\n"
    "Every message is kept in the message history (see pling-cli history) before it\n"
    "is printed, unless the history is off.\n"
    "Says on standard error, one line each, why messages from other computers cannot\n"
    "be received, and when another computer holds one of this computer's names.\n"
    "Ends with status 0 on Ctrl+C or SIGTERM, 1 when the mailslot cannot be opened.\n";

constexpr const char* kReachableText =
    "reachable: this computer's names are claimed on the network; other computers can send";

std::atomic<runtime::TEventLoop*> GSignalLoop{nullptr};
std::atomic<bool> GStopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  GStopAsked = true;
  if (runtime::TEventLoop* loop = GSignalLoop.load()) loop->Quit();
}

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

int Usage(const std::string& problem) {
  return UsageError(problem, kListenUsage);
}

// The messenger mailslot seen as whole datagrams, for --raw.
class TRawMessenger : public mailslot::TlxCustomMailSlot {
 public:
  explicit TRawMessenger(runtime::TComponent* owner) : TlxCustomMailSlot(owner) {
    SetSlotName(mailslot::MessengerSlotName);
  }
};

enum class TPrinted { Written, Stopped, Lost };

// Writes one line to standard output. Lost: the output is gone (a closed pipe, a
// full disk). Stopped: a stop signal came while the output was backed up; the
// line is left unwritten or unfinished, which is no fault of the output. While
// the output takes it, a line goes out whole even after a stop was asked.
//
// The stop signals are held back here except while the line waits for room, so
// a signal can never slip in between the look at the stop flag and a wait that
// would then not end: it stays pending until the wait, and ends it. (The other
// threads hold them back all the time, so they reach this thread.) Once there is
// room, a pipe takes PIPE_BUF bytes without blocking.
TPrinted PrintLine(std::string line) {
  line += '\n';
  const sigset_t stop = StopSignals();
  sigset_t open;
  pthread_sigmask(SIG_BLOCK, &stop, &open);
  TPrinted result = TPrinted::Written;
  std::size_t done = 0;
  while (done < line.size()) {
    pollfd output{STDOUT_FILENO, POLLOUT, 0};
    constexpr timespec kNoWait{0, 0};
    int ready = ppoll(&output, 1, &kNoWait, nullptr);
    if (ready == 0) {
      if (GStopAsked) {
        result = TPrinted::Stopped;
        break;
      }
      ready = ppoll(&output, 1, nullptr, &open);
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      result = TPrinted::Lost;
      break;
    }
    const ssize_t n = write(STDOUT_FILENO, line.data() + done,
                            std::min<std::size_t>(line.size() - done, PIPE_BUF));
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      result = TPrinted::Lost;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  pthread_sigmask(SIG_SETMASK, &open, nullptr);
  return result;
}

}  // namespace

int ListenCommand(const TArgs& args) {
  enum class TFormat { Text, Raw, Json } format = TFormat::Text;
  long long count = -1;
  bool verbose = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kListenUsage, stdout);
      return 0;
    } else if (arg == "--raw" || arg == "--json") {
      if (format != TFormat::Text) return Usage("choose one of --raw and --json");
      format = arg == "--raw" ? TFormat::Raw : TFormat::Json;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--count") {
      if (i + 1 >= args.size()) return Usage("--count needs a number");
      const std::string& value = args[++i];
      std::size_t used = 0;
      try {
        count = std::stoll(value, &used);
      } catch (...) {
        used = 0;
      }
      if (used != value.size() || count < 1) return Usage("--count needs a whole number above 0");
    } else {
      return Usage("unknown argument " + arg);
    }
  }

  auto loop = std::make_shared<runtime::TEventLoop>();
  runtime::SetMainThread(loop);
  runtime::SetApplicationErrorHandler([](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      PrintError(e.what());
    } catch (...) {
      PrintError("unknown error");
    }
  });
  GStopAsked = false;
  GSignalLoop = loop.get();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction oldInt {
  }, oldTerm{}, oldPipe{};
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);
  // A closed output is seen as a failed write, so the listener can stop
  // instead of holding the mailslot and dropping every later message.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &oldPipe);

  mailslot::TlxPling pling(nullptr);
  TRawMessenger raw(nullptr);
  mailslot::TlxCustomMailSlot& endpoint =
      format == TFormat::Raw ? static_cast<mailslot::TlxCustomMailSlot&>(raw) : pling;

  long long printed = 0;
  bool outputLost = false;
  // Messages come in batches: each batch goes into the history in one
  // transaction, and only then are its lines printed, so that a line on the
  // output is always in the history, whenever the listener is killed.
  struct TPending {
    std::string line;
    history::TMessage message;
  };
  std::vector<TPending> pending;
  history::TWriter writer(HistorySettings(), history::DefaultPath(),
                          [](const std::string& text) { PrintError(text); });
  writer.Open();
  auto lastBatch = std::chrono::steady_clock::now();
  const auto take = [&](std::string line, history::TMessage message) {
    pending.push_back({std::move(line), std::move(message)});
    // Once the batch holds what --count still wants, no further message is
    // taken out of the mailslot (the next listener gets it).
    if (count > 0 && printed + static_cast<long long>(pending.size()) >= count) endpoint.Close();
  };
  const auto batchEnd = [&](runtime::TComponent&) {
    std::vector<history::TMessage> messages;
    messages.reserve(pending.size());
    for (TPending& p : pending) messages.push_back(std::move(p.message));
    writer.Append(messages);
    writer.PruneIfDue(history::NowMs());
    lastBatch = std::chrono::steady_clock::now();
    for (TPending& p : pending) {
      if (loop->QuitRequested()) break;
      const TPrinted result = PrintLine(std::move(p.line));
      if (result == TPrinted::Lost) {
        outputLost = true;
        loop->Quit();
      } else if (result == TPrinted::Written && count > 0 && ++printed >= count) {
        loop->Quit();
      }
    }
    pending.clear();
    // Once the listener is to stop (N printed, the output gone, a stop signal),
    // it takes no further message out of the mailslot.
    if (loop->QuitRequested()) endpoint.Close();
  };
  raw.OnBatchEnd = batchEnd;
  pling.OnBatchEnd = batchEnd;
  raw.OnRawMessage = [&](runtime::TComponent&, const std::string& datagram) {
    // The same message the decoded form shows (see TlxCustomPling::DoMessage).
    net::TMessengerMessage fields = mailslot::DecodeMessengerDatagram(datagram);
    platform::OemToChar(fields.sender);
    platform::OemToChar(fields.receiver);
    platform::OemToChar(fields.text);
    take(HexBytes(datagram),
         history::ReceivedMessage(fields.sender, fields.receiver, fields.text, history::NowMs()));
  };
  pling.OnMessage = [&](runtime::TComponent&, std::string receiver, std::string sender,
                        std::string text) {
    std::string line =
        format == TFormat::Json
            ? "{\"sender\":" + JsonString(sender) + ",\"receiver\":" + JsonString(receiver) +
                  ",\"text\":" + JsonString(text) + "}"
            : mailslot::MessageLine(EscapeForTerminal(sender), EscapeForTerminal(receiver),
                                    EscapeForTerminal(text));
    take(std::move(line), history::ReceivedMessage(sender, receiver, text, history::NowMs()));
  };

  ApplyNetworkSettings();
  // What the network says about this machine's names, one line each, as it comes.
  platform::SetNameNoticeHandler(
      [](const platform::TNameNoticeText& notice) { PrintError(notice.text); });
  int status = 0;
  try {
    // The threads started with the mailslot hold the stop signals back, so that
    // they reach this thread (see PrintLine).
    const sigset_t stop = StopSignals();
    sigset_t open;
    pthread_sigmask(SIG_BLOCK, &stop, &open);
    try {
      endpoint.Open();
    } catch (...) {
      pthread_sigmask(SIG_SETMASK, &open, nullptr);
      throw;
    }
    pthread_sigmask(SIG_SETMASK, &open, nullptr);
    // Local messages still arrive; say once why those from other machines do not.
    auto problemShown = std::make_shared<std::atomic<bool>>(false);
    if (const std::string problem = platform::NetworkReceiveProblem(); !problem.empty()) {
      PrintError(problem);
      problemShown->store(true);
    } else if (verbose && !platform::NetworkEnabled()) {
      PrintError("the network is off: only programs on this computer can reach this listener");
    }
    // Scripts wait for this line before they send from another computer; after a
    // problem it says that other computers reach this listener after all (a
    // holder of the ports started, such as the service pling-holder).
    platform::SetReachableHandler([verbose, problemShown] {
      if (verbose || problemShown->load()) PrintError(kReachableText);
    });
    // Should the holder it waited on end with nobody to take over, the reason is
    // told again (each new one once in a row).
    platform::SetReceiveChangeHandler(
        [problemShown, said = platform::NetworkReceiveProblem()]() mutable {
          std::string problem = platform::NetworkReceiveProblem();
          if (problem.empty() || problem == said) return;
          PrintError(problem);
          problemShown->store(true);
          said = std::move(problem);
        });
    // And once per computer whose messages are dropped because it sends too many.
    platform::SetNetworkNoticeHandler(
        [](std::uint32_t address) { PrintError(platform::DroppedSenderText(address)); });
    // The loop wakes now and then to prune the history (hourly) while no
    // message comes. The history's index and a prune go on in short steps once
    // no batch has come for a moment, so that a burst is stored and printed
    // first and a waiting message never waits longer than one step.
    constexpr auto kStepPause = std::chrono::milliseconds(100);
    while (!loop->QuitRequested()) {
      if (!writer.HasWork()) {
        loop->ProcessEvents(std::chrono::minutes(10));
      } else if (const auto quiet = std::chrono::steady_clock::now() - lastBatch;
                 quiet < kStepPause) {
        loop->ProcessEvents(std::chrono::ceil<std::chrono::milliseconds>(kStepPause - quiet));
      } else {
        loop->ProcessEvents(std::chrono::milliseconds(0));
        if (!loop->QuitRequested()) writer.Step();
      }
      writer.PruneIfDue(history::NowMs());
    }
  } catch (const std::exception& e) {
    PrintError(e.what());
    status = 1;
  }
  platform::SetNetworkNoticeHandler({});
  platform::SetReachableHandler({});
  platform::SetReceiveChangeHandler({});
  endpoint.Close();
  platform::SetNameNoticeHandler(nullptr);
  if (outputLost) {
    PrintError("cannot write to standard output; stopped listening");
    status = 1;
  }
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGPIPE, &oldPipe, nullptr);
  GSignalLoop = nullptr;
  runtime::SetMainThread(nullptr);
  loop->Shutdown();
  return status;
}

}  // namespace pling::cli
