// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line: what neither Pling nor Qt takes is refused with the
// usage on standard error and status 2, before any window or display is needed
// and before anything is written; Qt's own options go on to Qt.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "logged_child.h"
#include "test_program.h"
#include "wait_until.h"

namespace {

namespace fs = std::filesystem;
using namespace pling::testing;
using namespace std::chrono_literals;

class ProgramCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    FProgram = pling::testing::TestProgram("pling");
    std::string pattern = (fs::temp_directory_path() / "pling-options-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
    FHome = FDir + "/home";
    FOut = FDir + "/out";
    FErr = FDir + "/err";
    fs::create_directory(FHome);
    FRuntime = FDir + "/runtime";
    fs::create_directory(FRuntime);
    fs::permissions(FRuntime, fs::perms::owner_all);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!FDir.empty()) fs::remove_all(FDir, ignored);
  }

  // Starts the program with no display at all and the test's folder as its home;
  // its standard output and error go to files there.
  std::unique_ptr<Child> Start(const std::vector<std::string>& args) {
    std::vector<std::string> argv{FProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    // A session of its own: one Pling runs per session.
    return std::make_unique<Child>(
        argv, std::map<std::string, std::string>{{"HOME", FHome}, {"XDG_RUNTIME_DIR", FRuntime}},
        FOut,
        std::vector<std::string>{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                 "XDG_CONFIG_HOME"},
        FErr);
  }

  // The exit status; a program still running after 30 s is ended (-1).
  static int Wait(Child& child) {
    const std::optional<int> status = child.Wait(30s);
    if (!status) child.Signal(SIGKILL);
    return status.value_or(-1);
  }

  std::string FProgram, FDir, FHome, FRuntime, FOut, FErr;
};

TEST_F(ProgramCommandLine, WhatNeitherPlingNorQtTakesIsAUsageError) {
  const std::vector<std::vector<std::string>> calls = {
      {"--bogus-option"},
      {"-platform", "offscreen", "stray"},
      {"-platform"},  // Qt's option without its value
      {"--\xC3\xA9\x1b[2J"},
  };
  for (const auto& call : calls) {
    SCOPED_TRACE(call[0]);
    EXPECT_EQ(Wait(*Start(call)), 2);
    const std::string err = FileText(FErr);
    EXPECT_EQ(err.rfind("pling: ", 0), 0u) << err;
    EXPECT_NE(err.find("usage: pling"), std::string::npos) << err;
    EXPECT_EQ(err.find('\x1b'), std::string::npos) << "an argument drove the terminal: " << err;
    EXPECT_EQ(FileText(FOut), "");
    EXPECT_TRUE(fs::is_empty(FHome))
        << "a refused start wrote " << fs::directory_iterator(FHome)->path();
  }
}

TEST_F(ProgramCommandLine, QtsOwnOptionsStartTheWindow) {
  // With one dash or two, with the value apart or joined.
  const auto pling = Start({"-platform", "offscreen", "--style", "fusion",
                            "-stylesheet=", "-reverse", "-qwindowtitle", "Options"});
  // The running window keeps its settings in the home it was given.
  const fs::path hive = fs::path(FHome) / ".config/pling/registry.reg";
  WaitUntil([&] { return fs::exists(hive) || !pling->Running(); }, 30s, 20ms);
  const bool running = pling->Running();
  if (running) pling->Signal(SIGTERM);
  const int exitStatus = Wait(*pling);
  EXPECT_TRUE(running) << "ended with " << exitStatus << ": " << FileText(FErr);
  EXPECT_EQ(exitStatus, 0) << FileText(FErr);
  EXPECT_TRUE(fs::exists(hive));
}

}  // namespace
