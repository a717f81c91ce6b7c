// SPDX-License-Identifier: GPL-3.0-or-later
// One window per user session: the lock in the session's folder, the knock of a
// later start, and the lock passing on when its holder ends.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QTest>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/SingleInstance.h"

namespace pling::testing {
namespace {

using app::TSingleInstance;
using TClaim = TSingleInstance::TClaim;

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pling-instance-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FRoot = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(FRoot); }
  std::string Folder() const { return FRoot + "/pling"; }

  std::string FRoot;
};

TEST_F(SingleInstanceTest, ALaterStartAsksTheFirstToShowItsWindowAndTheLockPassesOn) {
  std::string problem;
  auto first = std::make_unique<TSingleInstance>(Folder());
  ASSERT_EQ(first->Claim(problem), TClaim::kFirst) << problem;
  struct stat info {};
  ASSERT_EQ(::stat(Folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u) << "a folder of the user's alone";

  TSingleInstance second(Folder());
  ASSERT_EQ(second.Claim(problem), TClaim::kRunning);
  // The first is still starting when the second knocks: the knock waits for it.
  std::atomic<int> answer{-1};
  std::thread knock([&] {
    std::string why;
    answer = second.AskToShow(10000, why, "launcher-token_42") ? 1 : 0;
  });
  QTest::qWait(200);
  int shown = 0;
  std::string token = "none yet";
  first->Listen([&](const std::string& activationToken) {
    ++shown;
    token = activationToken;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return answer.load() >= 0; }, 15000));
  knock.join();
  EXPECT_EQ(answer.load(), 1);
  EXPECT_EQ(shown, 1);
  // The launcher's activation token reaches the window that comes forward.
  EXPECT_EQ(token, "launcher-token_42");
  // Without one (an X11 start, or from a terminal) it comes forward all the same.
  answer = -1;
  std::thread plain([&] {
    std::string why;
    answer = second.AskToShow(10000, why) ? 1 : 0;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return answer.load() >= 0; }, 15000));
  plain.join();
  EXPECT_EQ(answer.load(), 1);
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(token, "");

  // The first ends: the next start holds the lock (the old socket replaced).
  first.reset();
  TSingleInstance third(Folder());
  ASSERT_EQ(third.Claim(problem), TClaim::kFirst) << problem;
  // A holder that never answers: the knock gives up and says so.
  TSingleInstance fourth(Folder());
  ASSERT_EQ(fourth.Claim(problem), TClaim::kRunning);
  EXPECT_FALSE(fourth.AskToShow(300, problem));
  EXPECT_EQ(problem, "it did not answer");
}

TEST_F(SingleInstanceTest, AFolderOthersCanEnterIsNotTrusted) {
  ASSERT_EQ(::mkdir(Folder().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(Folder().c_str(), 0755), 0);
  TSingleInstance instance(Folder());
  std::string problem;
  EXPECT_EQ(instance.Claim(problem), TClaim::kUnguarded);
  EXPECT_NE(problem.find(Folder()), std::string::npos) << problem;
}

}  // namespace
}  // namespace pling::testing
