// SPDX-License-Identifier: GPL-3.0-or-later
// Several messages under way at once (TlxCustomPling::DeliverTogether). Each write
// runs on a worker thread as a write from any thread does (it blocks that thread
// on a name lookup or a session's connect); the calling thread waits for all of
// them, served by the network wait when one is installed for it.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mailslot/lxMailSlot.h"
#include "net/netbios.h"
#include "platform/network.h"

namespace pling::mailslot {

namespace {

using TOutcome = runtime::TResult<platform::TWriteDelivery>;

// How long the calling thread simply blocks before it lets the network wait serve
// it: writes that need no look-up (this machine, a known datagram path) end well
// within it, and the window's wait would add its polling interval to them.
constexpr std::chrono::milliseconds kQuickWrites{5};

// The messages to one machine go one after another, in their order, so that they
// arrive there as they were given (a machine that did not answer is remembered
// after the first, and the rest go at once); machines are written to together.
struct TBatch {
  explicit TBatch(std::vector<TOutgoingMessage> taken)
      : messages(std::move(taken)), outcomes(messages.size()) {
    std::unordered_map<std::string, std::size_t> machines;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      const auto [found, added] =
          machines.try_emplace(net::NetBiosUpper(messages[i].machine), groups.size());
      if (added) groups.emplace_back();
      groups[found->second].push_back(i);
    }
  }
  std::vector<TOutgoingMessage> messages;
  std::vector<std::optional<TOutcome>> outcomes;
  std::vector<std::vector<std::size_t>> groups;  // the messages to each machine, in order
  std::mutex lock;
  std::condition_variable changed;
  std::size_t next = 0;  // the next group a worker takes; guarded by lock
  std::size_t done = 0;  // messages done; guarded by lock

  bool AllDone() {
    std::lock_guard<std::mutex> guard(lock);
    return done == messages.size();
  }

  // A worker: takes a machine's messages until none is left.
  void Work() {
    for (;;) {
      std::size_t group = 0;
      {
        std::lock_guard<std::mutex> guard(lock);
        if (next == groups.size()) return;
        group = next++;
      }
      for (const std::size_t index : groups[group]) Deliver(index);
    }
  }

  void Deliver(std::size_t index) {
    TOutgoingMessage& message = messages[index];
    std::optional<TOutcome> outcome;
    try {
      outcome.emplace(DeliverMessengerMessage(
          std::move(message.machine), std::move(message.message.sender),
          std::move(message.message.receiver), std::move(message.message.text)));
    } catch (...) {
      const platform::DWORD code = platform::ERROR_NOT_ENOUGH_MEMORY;
      outcome.emplace(runtime::TError{code, WriteFailureText(code)});
    }
    {
      std::lock_guard<std::mutex> guard(lock);
      outcomes[index] = std::move(outcome);
      ++done;
    }
    changed.notify_all();
  }
};

}  // namespace

std::vector<TOutcome> TlxCustomPling::DeliverTogether(std::vector<TOutgoingMessage> Messages) {
  std::vector<TOutcome> results;
  if (Messages.size() <= 1) {
    for (TOutgoingMessage& message : Messages) {
      results.push_back(Deliver(std::move(message.machine), std::move(message.message.sender),
                                std::move(message.message.receiver),
                                std::move(message.message.text)));
    }
    return results;
  }
  auto batch = std::make_shared<TBatch>(std::move(Messages));
  std::vector<std::thread> workers;
  const std::size_t count = std::min(batch->groups.size(), kMaxWritesTogether);
  struct TJoiner {
    std::vector<std::thread>& threads;
    ~TJoiner() {
      for (std::thread& thread : threads) thread.join();
    }
  } joiner{workers};
  for (std::size_t i = 0; i < count; ++i) {
    try {
      workers.emplace_back([batch] { batch->Work(); });
    } catch (const std::system_error&) {
      if (workers.empty()) batch->Work();  // no thread to be had: one after another here
      break;
    }
  }
  {
    std::unique_lock<std::mutex> guard(batch->lock);
    batch->changed.wait_for(guard, kQuickWrites,
                            [&batch] { return batch->done == batch->messages.size(); });
  }
  if (!batch->AllDone() && !platform::ServeNetworkWait([&batch] { return batch->AllDone(); })) {
    std::unique_lock<std::mutex> guard(batch->lock);
    batch->changed.wait(guard, [&batch] { return batch->done == batch->messages.size(); });
  }
  for (std::thread& thread : workers) thread.join();
  workers.clear();
  results.reserve(batch->outcomes.size());
  for (std::optional<TOutcome>& outcome : batch->outcomes) results.push_back(std::move(*outcome));
  return results;
}

}  // namespace pling::mailslot
