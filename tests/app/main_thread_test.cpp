// SPDX-License-Identifier: GPL-3.0-or-later
// The main-thread call served by the Qt event loop.
#include <atomic>
#include <stdexcept>
#include <thread>

#include "app_fixture.h"
#include "runtime/event.h"

namespace pling::testing {
namespace {

using app::TQtMainThread;

TEST(QtMainThread, AWorkerCallRunsOnTheMainThreadAndWaitsForIt) {
  auto loop = std::make_shared<TQtMainThread>();
  const std::thread::id mainId = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  bool result = false;
  std::thread worker([&] {
    result = loop->Synchronize([&] { ranOn = std::this_thread::get_id(); }, nullptr);
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 10000));
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ranOn, mainId);
  loop->Shutdown();
}

TEST(QtMainThread, OnTheMainThreadTheCallRunsAtOnce) {
  auto loop = std::make_shared<TQtMainThread>();
  bool ran = false;
  EXPECT_TRUE(loop->Synchronize([&] { ran = true; }, nullptr));
  EXPECT_TRUE(ran);
  loop->Shutdown();
  ran = false;
  EXPECT_FALSE(loop->Synchronize([&] { ran = true; }, nullptr)) << "no calls after shutdown";
  EXPECT_FALSE(ran);
}

TEST(QtMainThread, ACancelBeforeTheCallStartsMeansItNeverRuns) {
  auto loop = std::make_shared<TQtMainThread>();
  runtime::TEvent cancel;
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread worker([&] { result = loop->Synchronize([&] { ran = true; }, &cancel) ? 1 : 0; });
  // The main thread serves nothing while the worker waits; the cancel frees it.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  cancel.Set();
  worker.join();
  EXPECT_EQ(result.load(), 0);
  QTest::qWait(50);  // the queued call comes to the main thread now
  EXPECT_FALSE(ran.load());
  loop->Shutdown();
}

TEST(QtMainThread, ShutdownFreesAWaitingWorkerWithoutRunningIt) {
  auto loop = std::make_shared<TQtMainThread>();
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread worker([&] { result = loop->Synchronize([&] { ran = true; }, nullptr) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  loop->Shutdown();  // without serving a single event
  worker.join();
  EXPECT_EQ(result.load(), 0);
  QTest::qWait(50);
  EXPECT_FALSE(ran.load());
}

TEST(QtMainThread, AnExceptionOfTheCallReachesTheWorker) {
  auto loop = std::make_shared<TQtMainThread>();
  std::atomic<bool> returned{false};
  std::string caught;
  std::thread worker([&] {
    try {
      loop->Synchronize([] { throw std::runtime_error("broken"); }, nullptr);
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 10000));
  worker.join();
  EXPECT_EQ(caught, "broken");
  loop->Shutdown();
}

}  // namespace
}  // namespace pling::testing
