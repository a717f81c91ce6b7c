// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Programs that tests run in the background, with an environment of their own and
// their output in files, waited for with a limit.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "files.h"

extern char** environ;

namespace pling::testing {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A program run in the background with an environment of its own: the test's,
// with `env` set and the names in `unset` removed. Its output goes to a file (so
// that a talkative program never blocks on a full pipe), its error output to
// `errors` when one is named, else to the same file. Killed when it is still
// running at the end; with `ownGroup`, it runs in a process group of its own and
// a kill takes everything it started along.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
        const fs::path& output, const std::vector<std::string>& unset = {},
        const fs::path& errors = {}, bool ownGroup = false)
      : FGroup(ownGroup) {
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      if (!env.contains(name) && std::find(unset.begin(), unset.end(), name) == unset.end()) {
        envText.push_back(entry);
      }
    }
    for (const auto& [key, value] : env) envText.push_back(key + "=" + value);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    FOutput = output;
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    const int errFd =
        errors.empty() ? fd : open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (errFd < 0) std::abort();
    FPid = fork();
    if (FPid == 0) {
      if (ownGroup) setpgid(0, 0);
      dup2(fd, 1);
      dup2(errFd, 2);
      const int null = open("/dev/null", O_RDONLY);
      if (null >= 0) dup2(null, 0);
      execve(args[0], args.data(), envp.data());
      _exit(127);
    }
    close(fd);
    if (errFd != fd) close(errFd);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (FPid > 0 && !FStatus) {
      Kill();
      Wait(10s);
    }
  }

  pid_t Pid() const { return FPid; }
  // To the program itself.
  void Signal(int sig) const { kill(FPid, sig); }
  // SIGKILL to the program, or with `ownGroup` to its whole process group.
  void Kill() const { kill(FGroup ? -FPid : FPid, SIGKILL); }
  // Whether its exit status was taken (by Wait or Running).
  bool Ended() const { return FStatus.has_value(); }

  // The exit status (128 + signal number when a signal ended it), or nothing when the
  // process is still running after the limit.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!FStatus) {
      int status = 0;
      const pid_t done = waitpid(FPid, &status, WNOHANG);
      if (done == FPid) {
        FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (std::chrono::steady_clock::now() >= end) {
        return std::nullopt;
      } else {
        std::this_thread::sleep_for(20ms);
      }
    }
    return FStatus;
  }
  bool Running() { return !Wait(0ms).has_value(); }

  std::string Output() const { return FileText(FOutput); }

 private:
  bool FGroup = false;
  pid_t FPid = -1;
  std::optional<int> FStatus;
  fs::path FOutput;
};

struct Finished {
  int status;
  std::string output;
};

// Runs a short command to its end, its output going to `output`; killed after
// `limit` (status -1 then).
inline Finished RunToEnd(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env, const fs::path& output,
                         std::chrono::milliseconds limit) {
  Child child(argv, env, output);
  const std::optional<int> status = child.Wait(limit);
  if (!status) {
    child.Signal(SIGKILL);
    child.Wait(10s);
  }
  return {status.value_or(-1), child.Output()};
}

}  // namespace pling::testing
