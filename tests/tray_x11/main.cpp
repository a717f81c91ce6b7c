// SPDX-License-Identifier: GPL-3.0-or-later
// The X11 tray tests run against a private X server (Xvfb) started here, on a
// display number of its own; without Xvfb they run offscreen, where they skip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "qt_environment.h"

extern char** environ;

namespace {

class PrivateXServer {
 public:
  PrivateXServer() {
    for (int display = 140; display < 170 && FPid <= 0; ++display) {
      char lock[32];
      std::snprintf(lock, sizeof lock, "/tmp/.X%d-lock", display);
      if (std::filesystem::exists(lock)) continue;
      Start(display);
    }
  }
  ~PrivateXServer() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
  }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  const std::string& Display() const { return FDisplay; }

 private:
  // Xvfb writes the display number to the pipe once it accepts connections.
  void Start(int display) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char name[16];
    std::snprintf(name, sizeof name, ":%d", display);
    const char* argv[] = {"Xvfb", name,         "-displayfd", "3",   "-screen",
                          "0",    "640x480x24", "-nolisten",  "tcp", nullptr};
    pid_t pid = 0;
    const int spawned =
        posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    if (spawned != 0) {
      close(ready[0]);
      FPid = -1;  // no Xvfb: stop trying
      return;
    }
    std::string answer;
    pollfd fd{ready[0], POLLIN, 0};
    char buffer[16];
    while (answer.find('\n') == std::string::npos && poll(&fd, 1, 10000) > 0) {
      const ssize_t n = read(ready[0], buffer, sizeof buffer);
      if (n <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
    close(ready[0]);
    if (answer.find('\n') == std::string::npos) {  // taken meanwhile, or failed
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      return;
    }
    FPid = pid;
    FDisplay = name;
  }

  pid_t FPid = 0;
  std::string FDisplay;
};

}  // namespace

// Qt's look for a session bus tray (on the xcb platform) leaves a buffer of the D-Bus
// library behind; it is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}

// The application object for the whole program, on the private X server when
// one started, else offscreen; the server starts before the application and
// stops after it.
class X11Environment : public pling::testing::QtEnvironment {
 public:
  X11Environment() : QtEnvironment("pling_tray_x11_tests") {}
  void SetUp() override {
    FServer = std::make_unique<PrivateXServer>();
    if (!FServer->Display().empty()) {
      setenv("DISPLAY", FServer->Display().c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QtEnvironment::SetUp();
  }
  void TearDown() override {
    QtEnvironment::TearDown();
    FServer.reset();
  }

 private:
  std::unique_ptr<PrivateXServer> FServer;
};

// Listing the tests sets no environment up, so it starts no X server.
[[maybe_unused]] ::testing::Environment* const kX11Environment =
    ::testing::AddGlobalTestEnvironment(new X11Environment);
