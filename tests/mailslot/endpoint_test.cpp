// SPDX-License-Identifier: GPL-3.0-or-later
// The mailslot endpoint and its reader thread: states and events, errors, loading
// and design mode, and delivery (order, close, reopen, destruction, failing
// handlers).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "mailslot/lxMailSlot.h"
#include "main_loop_fixture.h"
#include "platform/mailslot_service.h"
#include "private_network.h"

namespace pling::mailslot {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using pling::testing::UniqueName;

// An endpoint that records its events and deliveries.
class Recorder : public TlxCustomMailSlot {
 public:
  explicit Recorder(TComponent* owner, const std::string& slot = {}) : TlxCustomMailSlot(owner) {
    if (!slot.empty()) SetSlotName(slot);
    OnOpen = [this](TComponent&) { Events.push_back("open"); };
    OnClose = [this](TComponent&) { Events.push_back("close"); };
    OnRawMessage = [this](TComponent&, const std::string& msg) { Messages.push_back(msg); };
  }
  using TlxCustomMailSlot::SetSlotName;
  std::vector<std::string> Events;
  std::vector<std::string> Messages;
};

class EndpointTest : public testing::MainLoopTest {
 protected:
  void SetUp() override {
    MainLoopTest::SetUp();
    FSlot = UniqueName("ep");
    // Reader threads of earlier tests end on their own; count from none.
    ASSERT_TRUE(PumpUntil([] { return TlxMailSlotWaitThread::RunningCount() == 0; }));
  }
  bool ThreadsBackTo(int extra) {
    return PumpUntil([&] { return TlxMailSlotWaitThread::RunningCount() == FBaseThreads + extra; });
  }
  // Waits, without serving it, until a delivery waits for the main thread.
  bool DeliveryUnderWay() {
    for (int i = 0; i < 2000 && FLoop->PendingCalls() == 0; ++i) std::this_thread::sleep_for(5ms);
    return FLoop->PendingCalls() > 0;
  }
  std::string FSlot;
  int FBaseThreads = 0;
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ElxMailSlot& e) {
    return e.what();
  }
  return "(no error)";
}

TEST_F(EndpointTest, OpenCloseAndReopenFireEventsAndKeepOneThread) {
  Recorder slot(nullptr, FSlot);
  EXPECT_EQ(slot.SlotPath(), "\\\\.\\mailslot\\" + FSlot);
  slot.SetActive(false);  // closed: nothing happens
  EXPECT_TRUE(slot.Events.empty());

  slot.SetActive(true);
  EXPECT_TRUE(slot.Active());
  EXPECT_NE(slot.SlotHandle(), platform::INVALID_HANDLE_VALUE);
  EXPECT_EQ(slot.Events, (std::vector<std::string>{"open"}));
  EXPECT_TRUE(ThreadsBackTo(1));

  slot.SetActive(true);  // a reopen
  EXPECT_EQ(slot.Events, (std::vector<std::string>{"open", "close", "open"}));
  EXPECT_TRUE(ThreadsBackTo(1));

  slot.SetMaxSize(slot.MaxSize());  // unchanged: not even a reopen
  slot.SetSlotName(FSlot);
  EXPECT_EQ(slot.Events.size(), 3u);
  slot.SetMaxSize(400);  // changed while open: reopen with the new size
  EXPECT_EQ(slot.Events.size(), 5u);

  slot.SetActive(false);
  EXPECT_FALSE(slot.Active());
  EXPECT_EQ(slot.SlotHandle(), platform::INVALID_HANDLE_VALUE);
  EXPECT_EQ(slot.Events.back(), "close");
  EXPECT_TRUE(ThreadsBackTo(0));
}

TEST_F(EndpointTest, FailedOpensRaiseTheirTextsAndLeaveTheEndpointClosed) {
  Recorder holder(nullptr, FSlot);
  holder.Open();
  Recorder second(nullptr, FSlot);
  EXPECT_EQ(ErrorOf([&] { second.Open(); }), "Mailslot allready exists");
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.SlotHandle(), platform::INVALID_HANDLE_VALUE);
  EXPECT_TRUE(second.Events.empty());

  Recorder bad(nullptr, "bad|name");
  EXPECT_EQ(ErrorOf([&] { bad.Open(); }), "Bad mailslot name");
  EXPECT_FALSE(bad.Active());

  // A reopen that fails ends closed: the old mailslot was closed first.
  Recorder renamed(nullptr, UniqueName("ren"));
  renamed.Open();
  EXPECT_EQ(ErrorOf([&] { renamed.SetSlotName(FSlot); }), "Mailslot allready exists");
  EXPECT_FALSE(renamed.Active());
  EXPECT_EQ(renamed.Events, (std::vector<std::string>{"open", "close"}));
  EXPECT_TRUE(ThreadsBackTo(1));
}

TEST_F(EndpointTest, ReadMessageErrorsAndZeroLengthDatagram) {
  Recorder slot(nullptr, FSlot);
  std::string msg;
  EXPECT_EQ(ErrorOf([&] { slot.ReadMessage(msg); }), "Not active");
  EXPECT_EQ(ErrorOf([&] { slot.UpdateInfo(); }), "Not active");
  // Opened without a main loop being pumped, so the test reads by hand.
  slot.Open();
  EXPECT_EQ(ErrorOf([&] { slot.ReadMessage(msg); }), "No messages waiting");
  ASSERT_TRUE(WriteMailSlot(".", FSlot, ""));
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "second"));
  slot.UpdateInfo();
  EXPECT_EQ(slot.MessageCount(), 2u);
  EXPECT_EQ(slot.NextSize(), 0u);
  msg = "stale";
  slot.ReadMessage(msg);
  EXPECT_EQ(msg, "");
  slot.ReadMessage(msg);
  EXPECT_EQ(msg, "second");
}

TEST_F(EndpointTest, LoadingDefersActiveAndNamesTheSlotAfterTheComponent) {
  runtime::TComponent form;
  auto& slot = form.CreateComponent<Recorder>();
  form.BeginLoading();
  slot.SetName(FSlot);  // no slot name set: the mailslot is named like the component
  slot.SetActive(true);
  EXPECT_FALSE(slot.Active());
  EXPECT_EQ(slot.SlotName(), FSlot);
  form.EndLoading();
  EXPECT_TRUE(slot.Active());
  EXPECT_EQ(slot.Events, (std::vector<std::string>{"open"}));

  // Once a slot name is set, renaming the component leaves it alone; an open
  // mailslot is not reopened by a rename either.
  slot.SetSlotName(FSlot + "x");
  slot.SetName("OtherName");
  EXPECT_EQ(slot.SlotName(), FSlot + "x");

  auto& plain = form.CreateComponent<Recorder>();
  plain.SetName(FSlot + "p");
  EXPECT_EQ(plain.SlotName(), FSlot + "p");
  form.BeginLoading();
  form.EndLoading();  // nothing stored as active: stays closed
  EXPECT_FALSE(plain.Active());
}

TEST_F(EndpointTest, DesignModeMarksActiveWithoutAMailslot) {
  Recorder designed(nullptr, FSlot);
  designed.SetDesigning(true);
  designed.Open();
  EXPECT_TRUE(designed.Active());
  EXPECT_EQ(designed.SlotHandle(), platform::INVALID_HANDLE_VALUE);
  EXPECT_TRUE(designed.Events.empty());
  EXPECT_EQ(TlxMailSlotWaitThread::RunningCount(), FBaseThreads);
  Recorder real(nullptr, FSlot);
  EXPECT_NO_THROW(real.Open());  // the name was never taken
}

TEST_F(EndpointTest, DeliversEachDatagramOnceInArrivalOrder) {
  Recorder slot(nullptr, FSlot);
  slot.Open();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(WriteMailSlot(".", FSlot, "m" + std::to_string(i)));
  ASSERT_TRUE(PumpUntil([&] { return slot.Messages.size() == 5; }));
  EXPECT_EQ(slot.Messages, (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4"}));

  // Reopen between batches: nothing is delivered twice, and one thread polls.
  slot.SetMaxSize(1000);
  for (int i = 5; i < 8; ++i) ASSERT_TRUE(WriteMailSlot(".", FSlot, "m" + std::to_string(i)));
  ASSERT_TRUE(PumpUntil([&] { return slot.Messages.size() == 8; }));
  PumpFor(50ms);
  EXPECT_EQ(slot.Messages.size(), 8u);
  EXPECT_EQ(slot.Messages.back(), "m7");
  EXPECT_TRUE(ThreadsBackTo(1));
}

TEST_F(EndpointTest, ReopenWithADeliveryUnderWayDeliversOnlyTheNewMailslotsDatagrams) {
  Recorder slot(nullptr, FSlot);
  slot.Open();
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "old"));
  ASSERT_TRUE(DeliveryUnderWay());
  slot.SetMaxSize(1000);  // the old mailslot goes, with what waited in it
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "new"));
  ASSERT_TRUE(PumpUntil([&] { return !slot.Messages.empty(); }));
  PumpFor(50ms);
  EXPECT_EQ(slot.Messages, (std::vector<std::string>{"new"}));
  EXPECT_TRUE(ThreadsBackTo(1));
}

// Writers keep coming while the main thread delivers: every message arrives,
// once, each writer's in its order, also the last ones (which no later arrival
// would hand on).
TEST_F(EndpointTest, MessagesWrittenDuringDeliveriesArriveOnceAndInOrder) {
  Recorder slot(nullptr, FSlot);
  slot.Open();
  constexpr int kWriters = 3;
  constexpr int kEach = 2000;
  std::atomic<int> failed{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kEach; ++i)
        failed += WriteMailSlot(".", FSlot, std::to_string(w) + ":" + std::to_string(i)) ? 0 : 1;
    });
  }
  const bool all = PumpUntil(
      [&] { return static_cast<int>(slot.Messages.size()) + failed.load() >= kWriters * kEach; });
  for (std::thread& writer : writers) writer.join();
  ASSERT_TRUE(all) << slot.Messages.size() << " of " << kWriters * kEach;
  EXPECT_EQ(failed, 0);
  std::vector<int> next(kWriters, 0);
  int wrong = 0;
  for (const std::string& message : slot.Messages) {
    const auto w = static_cast<std::size_t>(message[0] - '0');
    wrong += std::stoi(message.substr(2)) != next[w]++;
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(EndpointTest, HonoursMaxSize) {
  Recorder slot(nullptr, FSlot);
  slot.SetMaxSize(4);  // closed: only stored
  EXPECT_TRUE(slot.Events.empty());
  slot.Open();
  WriteMailSlot(".", FSlot, "toolong");
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "fits"));
  ASSERT_TRUE(PumpUntil([&] { return slot.Messages.size() == 1; }));
  EXPECT_EQ(slot.Messages[0], "fits");
}

TEST_F(EndpointTest, CloseWithDatagramsWaitingDeliversNoneOfThem) {
  Recorder slot(nullptr, FSlot);
  slot.Open();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(WriteMailSlot(".", FSlot, "late"));
  // The reader has seen them and a delivery waits for the main thread; close
  // before serving it.
  ASSERT_TRUE(DeliveryUnderWay());
  slot.Close();
  EXPECT_TRUE(ThreadsBackTo(0));
  PumpFor(50ms);
  EXPECT_TRUE(slot.Messages.empty());
}

TEST_F(EndpointTest, DestroyingAnOpenEndpointStopsItsThreadAndFreesTheName) {
  {
    auto slot = std::make_unique<Recorder>(nullptr, FSlot);
    slot->Open();
    ASSERT_TRUE(WriteMailSlot(".", FSlot, "orphan"));
    std::this_thread::sleep_for(20ms);
  }  // destroyed with a delivery possibly on its way
  PumpFor(30ms);
  EXPECT_TRUE(ThreadsBackTo(0));
  Recorder again(nullptr, FSlot);
  EXPECT_NO_THROW(again.Open());
}

TEST_F(EndpointTest, AFailingHandlerIsReportedAndDeliveryGoesOn) {
  std::vector<std::string> reported;
  runtime::SetApplicationErrorHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      reported.push_back(e.what());
    }
  });
  Recorder slot(nullptr, FSlot);
  slot.OnRawMessage = [&](TComponent&, const std::string& msg) {
    if (msg == "bad") throw std::runtime_error("handler failed");
    slot.Messages.push_back(msg);
  };
  slot.Open();
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "bad"));
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "good"));
  ASSERT_TRUE(PumpUntil([&] { return slot.Messages.size() == 1; }));
  EXPECT_EQ(slot.Messages[0], "good");
  EXPECT_EQ(reported, (std::vector<std::string>{"handler failed"}));
  runtime::SetApplicationErrorHandler(nullptr);
}

TEST_F(EndpointTest, HandlerThatClosesTheEndpointStopsFurtherDeliveries) {
  Recorder slot(nullptr, FSlot);
  slot.OnRawMessage = [&](TComponent&, const std::string& msg) {
    slot.Messages.push_back(msg);
    slot.Close();
  };
  slot.Open();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteMailSlot(".", FSlot, "x"));
  ASSERT_TRUE(PumpUntil([&] { return !slot.Messages.empty(); }));
  PumpFor(50ms);
  EXPECT_EQ(slot.Messages.size(), 1u);
  EXPECT_TRUE(ThreadsBackTo(0));
}

// A handler that reopens the endpoint ends the batch under way (the new mailslot
// has a reader of its own); one that destroys it ends it without another event;
// one that fails ends it too, and the failure is raised after the batch's end.
TEST_F(EndpointTest, AHandlerThatReopensDestroysOrFailsEndsTheBatch) {
  std::vector<std::size_t> batchEnds;
  auto slot = std::make_unique<Recorder>(nullptr, FSlot);
  slot->OnBatchEnd = [&](TComponent&) { batchEnds.push_back(slot->Messages.size()); };
  const auto write = [&](const std::string& stem, int count) {
    for (int i = 0; i < count; ++i)
      ASSERT_TRUE(WriteMailSlot(".", FSlot, stem + std::to_string(i)));
  };
  slot->OnRawMessage = [&](TComponent&, const std::string& msg) {
    slot->Messages.push_back(msg);
    if (msg == "r1") {
      slot->SetMaxSize(1000);  // a reopen; the new mailslot's message is not this batch's
      EXPECT_TRUE(WriteMailSlot(".", FSlot, "n0"));
    }
    if (msg == "f1") throw std::runtime_error("handler failed");
    if (msg == "x2") slot.reset();
  };
  slot->Open();
  write("r", 5);
  EXPECT_EQ(slot->DeliverMessages(std::chrono::hours(1)), 2u);
  EXPECT_EQ(slot->Messages, (std::vector<std::string>{"r0", "r1"}));
  EXPECT_EQ(batchEnds, (std::vector<std::size_t>{2}));
  EXPECT_TRUE(slot->Active());
  ASSERT_TRUE(PumpUntil([&] { return slot->Messages.size() == 3; }));
  EXPECT_EQ(slot->Messages.back(), "n0");

  write("f", 4);
  EXPECT_THROW(slot->DeliverMessages(std::chrono::hours(1)), std::runtime_error);
  EXPECT_EQ(batchEnds.back(), 5u) << "f0 and f1 were delivered and their batch ended";
  EXPECT_EQ(slot->DeliverMessages(std::chrono::hours(1)), 2u);
  EXPECT_EQ(slot->Messages.back(), "f3");

  write("x", 5);
  const std::size_t ends = batchEnds.size();
  Recorder* raw = slot.get();
  EXPECT_EQ(raw->DeliverMessages(std::chrono::hours(1)), 3u);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(batchEnds.size(), ends);
  EXPECT_TRUE(ThreadsBackTo(0));
}

// OnClose handlers that open the endpoint again while a reopen (SetMaxSize,
// SetActive, SetSlotName) closes it: their open stands, the reopen adds none,
// and every round ends with one mailslot, one reader and delivery as usual; the
// names are free again once the endpoint is gone.
TEST_F(EndpointTest, OnCloseThatOpensAgainDuringAReopenLeavesOneMailslotAndOneReader) {
  auto slot = std::make_unique<Recorder>(nullptr, FSlot);
  bool reopenOnClose = false;
  slot->OnClose = [&](TComponent&) {
    slot->Events.push_back("close");
    if (std::exchange(reopenOnClose, false)) slot->Open();
  };
  slot->Open();
  const std::vector<std::function<void()>> reopens = {
      [&] { slot->SetMaxSize(500); },
      [&] { slot->SetActive(true); },
      [&] { slot->SetSlotName(FSlot + "b"); },
  };
  std::size_t delivered = 0;
  for (const auto& reopen : reopens) {
    reopenOnClose = true;
    slot->Events.clear();
    EXPECT_NO_THROW(reopen());
    EXPECT_EQ(slot->Events, (std::vector<std::string>{"close", "open"}));
    ASSERT_TRUE(slot->Active());
    EXPECT_NE(slot->SlotHandle(), platform::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(ThreadsBackTo(1));
    ASSERT_TRUE(WriteMailSlot(".", slot->SlotName(), "after reopen"));
    ASSERT_TRUE(PumpUntil([&] { return slot->Messages.size() == delivered + 1; }));
    ++delivered;
  }
  PumpFor(30ms);
  EXPECT_EQ(slot->Messages.size(), delivered);
  slot.reset();
  EXPECT_TRUE(ThreadsBackTo(0));
  Recorder first(nullptr, FSlot);
  EXPECT_NO_THROW(first.Open());
  Recorder renamed(nullptr, FSlot + "b");
  EXPECT_NO_THROW(renamed.Open());
}

// Takes every free descriptor number but `spare` for the scope of a test, under
// a soft limit lowered for the while.
class TDescriptorSqueeze {
 public:
  explicit TDescriptorSqueeze(int spare) {
    getrlimit(RLIMIT_NOFILE, &FSaved);
    rlimit lowered = FSaved;
    lowered.rlim_cur = std::min<rlim_t>(FSaved.rlim_cur, 2048);
    setrlimit(RLIMIT_NOFILE, &lowered);
    const int source = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (source >= 0) FTaken.push_back(source);
    for (int fd; source >= 0 && (fd = ::fcntl(source, F_DUPFD_CLOEXEC, 0)) >= 0;) {
      FTaken.push_back(fd);
    }
    for (int i = 0; i < spare && !FTaken.empty(); ++i) {
      ::close(FTaken.back());
      FTaken.pop_back();
    }
  }
  ~TDescriptorSqueeze() {
    for (const int fd : FTaken) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &FSaved);
  }
  TDescriptorSqueeze(const TDescriptorSqueeze&) = delete;
  TDescriptorSqueeze& operator=(const TDescriptorSqueeze&) = delete;

 private:
  rlimit FSaved{};
  std::vector<int> FTaken;
};

// With too few descriptors, Open fails at whichever step runs out (the mailslot,
// its queue, the reader's wake-up event): always as ElxMailSlot, with no event
// fired, no reader left and the name free; once there are enough it opens and
// delivers.
TEST_F(EndpointTest, OpenWithoutDescriptorsForTheReaderFailsCleanly) {
  {
    Recorder warmUp(nullptr, FSlot + "w");  // the service's own descriptors exist from now on
    warmUp.Open();
  }
  ASSERT_TRUE(ThreadsBackTo(0));
  // The undefined-behaviour sanitizer checks an object's dynamic type through a
  // descriptor of its own, which it cannot have while they are all taken; it
  // remembers the types it has checked, so the exceptions are shown to it first.
  try {
    throw std::system_error(EMFILE, std::generic_category(), "eventfd");
  } catch (const std::exception& e) {
    EXPECT_NE(e.what(), nullptr);
  }
  EXPECT_STRNE(ErrorOf([] { throw ElxMailSlot("shown"); }).c_str(), "");
  Recorder slot(nullptr, FSlot);
  bool readerFailed = false;
  int spare = 0;
  for (; spare < 16; ++spare) {
    SCOPED_TRACE(::testing::Message() << spare << " spare descriptors");
    std::exception_ptr failure;
    {
      TDescriptorSqueeze squeeze(spare);
      try {
        slot.Open();
      } catch (...) {
        failure = std::current_exception();
      }
    }
    if (!failure) break;
    // Looked at with descriptors back: sanitizers need some to inspect objects.
    std::string error;
    try {
      std::rethrow_exception(failure);
    } catch (const ElxMailSlot& e) {
      error = e.what();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not an ElxMailSlot: " << e.what();
    }
    EXPECT_EQ(error.rfind("Cannot open mailslot", 0), 0u) << error;
    if (error.find("reader thread") != std::string::npos) readerFailed = true;
    EXPECT_FALSE(slot.Active());
    EXPECT_EQ(slot.SlotHandle(), platform::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(slot.Events.empty());
    EXPECT_TRUE(ThreadsBackTo(0));
    EXPECT_FALSE(WriteMailSlot(".", FSlot, "nobody reads this"));  // the name is not held
  }
  EXPECT_TRUE(readerFailed) << "the reader's own descriptor never ran out";
  ASSERT_TRUE(slot.Active());
  EXPECT_EQ(slot.Events, (std::vector<std::string>{"open"}));
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "with descriptors"));
  ASSERT_TRUE(PumpUntil([&] { return slot.Messages.size() == 1; }));
  EXPECT_TRUE(ThreadsBackTo(1));
}

int OpenFileCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

TEST_F(EndpointTest, WriterClosesEveryHandleItOpened) {
  Recorder slot(nullptr, FSlot);
  slot.Open();
  // The socket of a write to this machine is kept for the next one there.
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "x"));
  const int before = OpenFileCount();
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(WriteMailSlot(".", FSlot, "x"));
    ASSERT_FALSE(WriteMailSlot(".", FSlot + "missing", "x"));
    ASSERT_FALSE(WriteMailSlot("FAR-AWAY", FSlot, "x"));
  }
  EXPECT_EQ(OpenFileCount(), before);
  const HANDLE handle = OpenMailSlotForWriting(".", FSlot);
  ASSERT_NE(handle, platform::INVALID_HANDLE_VALUE);
  EXPECT_TRUE(platform::CloseHandle(handle));
  EXPECT_EQ(OpenMailSlotForWriting(".", FSlot + "missing"), platform::INVALID_HANDLE_VALUE);
}

TEST_F(EndpointTest, AKeptWriterSocketFollowsTheNameToWhoeverHoldsItNow) {
  {
    Recorder first(nullptr, FSlot);
    first.Open();
    ASSERT_TRUE(WriteMailSlot(".", FSlot, "one"));
    ASSERT_TRUE(PumpUntil([&] { return first.Messages.size() == 1; }));
  }
  // Closed: the kept socket reaches nobody, and the write fails as an open would.
  EXPECT_FALSE(WriteMailSlot(".", FSlot, "lost"));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
  Recorder second(nullptr, FSlot);
  second.Open();
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "two"));
  ASSERT_TRUE(PumpUntil([&] { return second.Messages.size() == 1; }));
  second.Open();  // a reopen, between two writes through the kept socket
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "three"));
  ASSERT_TRUE(PumpUntil([&] { return second.Messages.size() == 2; }));
  EXPECT_EQ(second.Messages, (std::vector<std::string>{"two", "three"}));
}

// Context switches so far of this process's threads with the given names, by
// thread id.
std::map<std::string, long> SwitchesOfThreadsNamed(const std::set<std::string>& names) {
  std::map<std::string, long> switches;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (names.count(name) == 0) continue;
    std::ifstream status(task.path() / "status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos)
        total += std::stol(line.substr(line.find(':') + 1));
    }
    switches[name + " " + task.path().filename().string()] = total;
  }
  return switches;
}

// An open mailslot that nobody writes to costs nothing: none of the threads
// behind it (the reader, the service's, and the network ports' where the
// transport may be on) wakes up.
TEST_F(EndpointTest, AnIdleOpenMailslotWakesNoThread) {
  std::optional<testing::NetworkOnInThisNamespace> network;
  std::set<std::string> names{"mailslot reader", "mailslot drain"};
  if (testing::OnlyLoopback()) {
    network.emplace();
    names.insert("netbios ports");
  }
  Recorder slot(nullptr, FSlot);
  slot.Open();
  // One message through, so that every thread has started and settled.
  ASSERT_TRUE(WriteMailSlot(".", FSlot, "first"));
  ASSERT_TRUE(PumpUntil([&] { return slot.Messages.size() == 1; }));
  PumpFor(200ms);
  const auto before = SwitchesOfThreadsNamed(names);
  std::set<std::string> seen;
  for (const auto& [thread, count] : before) seen.insert(thread.substr(0, thread.rfind(' ')));
  ASSERT_EQ(seen, names) << "a thread is missing or has another name";
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(SwitchesOfThreadsNamed(names), before);
}

}  // namespace
}  // namespace pling::mailslot
