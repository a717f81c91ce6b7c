// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A child process with its standard streams on pipes, for the tests that run
// this build's programs (test_program.h says where they are).
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_program.h"
#include "wait_until.h"

namespace pling::testing {

// A running program with its standard streams on pipes; killed when it is still
// running at the end.
class TChildProcess {
 public:
  // `env` entries ("NAME=value") are added to the test's environment.
  TChildProcess(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {}) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) std::abort();
    FPid = fork();
    if (FPid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
      signal(SIGPIPE, SIG_DFL);
      for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    FIn = in[1];
    FOut = out[0];
    FErr = err[0];
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;
  ~TChildProcess() {
    if (FPid > 0 && !FDone) {
      kill(FPid, SIGKILL);
      Wait();
    }
    for (int fd : {FIn, FOut, FErr})
      if (fd >= 0) close(fd);
  }
  void Write(const std::string& text) {
    if (write(FIn, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  }
  // False once the process has stopped reading its input (and closed it).
  bool TryWrite(const std::string& text) {
    signal(SIGPIPE, SIG_IGN);
    return write(FIn, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  int OutputFd() const { return FOut; }
  void CloseOutput() {
    close(FOut);
    FOut = -1;
  }
  void CloseInput() {
    close(FIn);
    FIn = -1;
  }
  // Reads one line of standard output; false at its end.
  bool ReadLine(std::string& line) {
    line.clear();
    char c;
    pollfd ready{FOut, POLLIN, 0};
    // A generous limit, so that a lost message fails the test rather than hanging it.
    while (poll(&ready, 1, 30000) == 1 && read(FOut, &c, 1) == 1) {
      if (c == '\n') return true;
      line += c;
    }
    return !line.empty();
  }
  // Waits for the end; the exit status, or 128 + the signal that ended it.
  int Wait() {
    int status = 0;
    waitpid(FPid, &status, 0);
    FDone = true;
    FErrText = Drain(FErr);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Output() { return Drain(FOut); }
  const std::string& ErrorText() const { return FErrText; }
  void Signal(int sig) { kill(FPid, sig); }

 private:
  static std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    return text;
  }
  pid_t FPid = -1;
  int FIn = -1, FOut = -1, FErr = -1;
  bool FDone = false;
  std::string FErrText;
};

struct TRunResult {
  int status;
  std::string out, err;
};

// Runs `program` to its end with `input` on its standard input.
inline TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::string& input = {},
                             const std::vector<std::string>& env = {}) {
  TChildProcess p(program, args, env);
  p.Write(input);
  p.CloseInput();
  std::string out = p.Output();
  const int status = p.Wait();
  return {status, out, p.ErrorText()};
}

}  // namespace pling::testing
