// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/event_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pling::platform {
namespace {

using namespace std::chrono_literals;

TEST(EventLoopTest, IsManualResetAndWaitsWithTimeOut) {
  runtime::TEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(1ms));
  event.Set();
  event.Set();
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(event.Wait(0ms));
  EXPECT_TRUE(event.IsSet());  // waiting does not reset it
  event.Reset();
  EXPECT_FALSE(event.IsSet());

  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.Wait(std::chrono::milliseconds::max()));
  setter.join();
}

TEST(EventLoopTest, SynchronizeRunsOnTheLoopThreadAndWaitsForIt) {
  auto loop = std::make_shared<runtime::TEventLoop>();
  const auto loopThread = std::this_thread::get_id();
  std::atomic<bool> finished{false};
  std::thread::id ranOn;
  int value = 0;
  std::thread worker([&] {
    EXPECT_TRUE(loop->Synchronize(
        [&] {
          ranOn = std::this_thread::get_id();
          value = 42;
        },
        nullptr));
    EXPECT_EQ(value, 42);  // the call has finished when Synchronize returns
    finished = true;
    loop->Post([] {});  // wakes the loop to look at `finished`
  });
  EXPECT_TRUE(loop->RunUntil([&] { return finished.load(); }, 10s));
  worker.join();
  EXPECT_EQ(ranOn, loopThread);
}

TEST(EventLoopTest, ExceptionsReachTheCaller) {
  auto loop = std::make_shared<runtime::TEventLoop>();
  std::atomic<bool> finished{false};
  std::string caught;
  std::thread worker([&] {
    try {
      loop->Synchronize([] { throw std::runtime_error("Error reading message"); }, nullptr);
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    finished = true;
    loop->Post([] {});  // wakes the loop to look at `finished`
  });
  EXPECT_TRUE(loop->RunUntil([&] { return finished.load(); }, 10s));
  worker.join();
  EXPECT_EQ(caught, "Error reading message");

  // On the loop thread itself the call runs at once, exception and all.
  bool ran = false;
  EXPECT_TRUE(loop->Synchronize([&] { ran = true; }, nullptr));
  EXPECT_TRUE(ran);
  EXPECT_THROW(loop->Synchronize([] { throw std::logic_error("x"); }, nullptr), std::logic_error);
}

TEST(EventLoopTest, CancelledBeforeItStartedTheCallNeverRuns) {
  auto loop = std::make_shared<runtime::TEventLoop>();
  runtime::TEvent cancel;
  std::atomic<bool> ran{false};
  std::promise<void> calling;
  auto result = std::async(std::launch::async, [&] {
    calling.set_value();
    return loop->Synchronize([&] { ran = true; }, &cancel);
  });
  calling.get_future().wait();
  std::this_thread::sleep_for(5ms);  // most likely queued by now; either way it must not run
  cancel.Set();
  EXPECT_FALSE(result.get());
  loop->ProcessEvents(0ms);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(loop->Synchronize([&] { ran = true; }, &cancel));  // set already
  EXPECT_FALSE(ran);
}

TEST(EventLoopTest, CancelAfterTheCallStartedWaitsForItsEnd) {
  auto loop = std::make_shared<runtime::TEventLoop>();
  runtime::TEvent cancel;
  std::atomic<bool> finished{false};
  bool completed = false;
  std::thread worker([&] {
    EXPECT_TRUE(loop->Synchronize(
        [&] {
          cancel.Set();
          std::this_thread::sleep_for(2ms);
          completed = true;
        },
        &cancel));
    EXPECT_TRUE(completed);
    finished = true;
    loop->Post([] {});  // wakes the loop to look at `finished`
  });
  EXPECT_TRUE(loop->RunUntil([&] { return finished.load(); }, 10s));
  worker.join();
}

TEST(EventLoopTest, ShutdownRefusesPendingAndLaterCalls) {
  auto loop = std::make_shared<runtime::TEventLoop>();
  std::atomic<bool> ran{false};
  std::promise<void> calling;
  auto pending = std::async(std::launch::async, [&] {
    calling.set_value();
    return loop->Synchronize([&] { ran = true; }, nullptr);
  });
  calling.get_future().wait();
  std::this_thread::sleep_for(5ms);  // most likely queued by now; either way it is refused
  loop->Shutdown();
  EXPECT_FALSE(pending.get());
  auto later = std::async(std::launch::async,
                          [&] { return loop->Synchronize([&] { ran = true; }, nullptr); });
  EXPECT_FALSE(later.get());
  EXPECT_FALSE(loop->Synchronize([&] { ran = true; }, nullptr));
  loop->Post([&] { ran = true; });
  loop->ProcessEvents(0ms);
  EXPECT_FALSE(ran);
}

TEST(EventLoopTest, RunServesPostedWorkInOrderUntilQuit) {
  auto loop = std::make_shared<runtime::TEventLoop>();
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) loop->Post([&order, i] { order.push_back(i); });
    loop->Post([&] { loop->Quit(); });
  });
  loop->Run();
  poster.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(loop->QuitRequested());
  loop->Run();  // returns at once
  EXPECT_FALSE(loop->RunUntil([] { return false; }, 10s));
}

TEST(EventLoopTest, PostedFailuresGoToTheApplicationErrorHandler) {
  std::vector<std::string> reported;
  runtime::SetApplicationErrorHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      reported.push_back(e.what());
    }
  });
  auto loop = std::make_shared<runtime::TEventLoop>();
  bool after = false;
  loop->Post([] { throw std::runtime_error("handler failed"); });
  loop->Post([&] { after = true; });
  EXPECT_TRUE(loop->RunUntil([&] { return after; }, 10s));
  runtime::SetApplicationErrorHandler(nullptr);
  EXPECT_EQ(reported, (std::vector<std::string>{"handler failed"}));
}

TEST(EventLoopTest, ProcessEventsWaitsForTheFirstCallUntilItComesOrTheTimeOut) {
  auto loop = std::make_shared<runtime::TEventLoop>();
  int runs = 0;
  // Idle, it returns once its time-out has passed.
  loop->ProcessEvents(1ms);
  EXPECT_EQ(runs, 0);
  // A call from another thread ends a long wait and is served (were the wait
  // not woken, the test would hang until its runner's time-out).
  std::thread poster([&] { loop->Post([&] { ++runs; }); });
  loop->ProcessEvents(std::chrono::hours(1));
  poster.join();
  EXPECT_EQ(runs, 1);
  // Only what waits now is served: work that posts itself again runs once.
  std::function<void()> again = [&] {
    ++runs;
    loop->Post(again);
  };
  loop->Post([&] { ++runs; });
  loop->Post(again);
  loop->ProcessEvents(0ms);
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(loop->PendingCalls(), 1u);
}

TEST(EventLoopTest, DefaultErrorHandlerPrintsTheMessage) {
  ::testing::internal::CaptureStderr();
  runtime::HandleApplicationException(
      std::make_exception_ptr(std::runtime_error("Cannot open mailslot")));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Cannot open mailslot\n");
}

}  // namespace
}  // namespace pling::platform
