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

#include "test_program.h"

namespace {

namespace fs = std::filesystem;

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
  pid_t Start(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (!std::freopen(FOut.c_str(), "w", stdout) || !std::freopen(FErr.c_str(), "w", stderr)) {
        _exit(127);
      }
      for (const char* name :
           {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME"}) {
        unsetenv(name);
      }
      setenv("HOME", FHome.c_str(), 1);
      // A session of its own: one Pling runs per session.
      setenv("XDG_RUNTIME_DIR", FRuntime.c_str(), 1);
      std::vector<char*> argv{FProgram.data()};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(FProgram.c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }

  // The exit status; a program still running after 30 s is ended (-1).
  static int Wait(pid_t pid) {
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  static std::string Text(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
      char buffer[4096];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
      std::fclose(file);
    }
    return text;
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
    EXPECT_EQ(Wait(Start(call)), 2);
    const std::string err = Text(FErr);
    EXPECT_EQ(err.rfind("pling: ", 0), 0u) << err;
    EXPECT_NE(err.find("usage: pling"), std::string::npos) << err;
    EXPECT_EQ(err.find('\x1b'), std::string::npos) << "an argument drove the terminal: " << err;
    EXPECT_EQ(Text(FOut), "");
    EXPECT_TRUE(fs::is_empty(FHome))
        << "a refused start wrote " << fs::directory_iterator(FHome)->path();
  }
}

TEST_F(ProgramCommandLine, QtsOwnOptionsStartTheWindow) {
  // With one dash or two, with the value apart or joined.
  const pid_t pid = Start({"-platform", "offscreen", "--style", "fusion",
                           "-stylesheet=", "-reverse", "-qwindowtitle", "Options"});
  // The running window keeps its settings in the home it was given.
  const fs::path hive = fs::path(FHome) / ".config/pling/registry.reg";
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  while (!fs::exists(hive) && std::chrono::steady_clock::now() < end &&
         waitpid(pid, &status, WNOHANG) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const bool running = waitpid(pid, &status, WNOHANG) == 0;
  if (running) kill(pid, SIGTERM);
  const int exitStatus = running ? Wait(pid) : (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  EXPECT_TRUE(running) << "ended with " << exitStatus << ": " << Text(FErr);
  EXPECT_EQ(exitStatus, 0) << Text(FErr);
  EXPECT_TRUE(fs::exists(hive));
}

}  // namespace
