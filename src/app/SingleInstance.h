// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One window per user session. The first `pling` of a session takes a lock in the
// user's runtime folder ($XDG_RUNTIME_DIR/pling, or a private folder of the user's
// under /tmp where there is none) and listens on a socket beside it. A later
// `pling` finds the lock taken, asks the first over the socket to bring its
// window to the front, and ends without a window of its own.
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace pling::app {

class TSingleInstance {
 public:
  enum class TClaim {
    kFirst,      // this program holds the lock: it is the one with the window
    kRunning,    // another program of this session holds it
    kUnguarded,  // no lock can be had (the folder is unusable): run unguarded
  };

  // Lock and socket in `folder` (created, private to the user, when missing).
  explicit TSingleInstance(std::string folder = SessionFolder());
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // Where this user session's lock lives.
  static std::string SessionFolder();

  // Takes the lock, or finds whose it is. For kFirst the socket is opened at once,
  // so that later programs can knock while this one is still starting. `problem`
  // says why for kUnguarded.
  TClaim Claim(std::string& problem);

  // kRunning: asks the program with the lock to show its window, waiting at most
  // `timeoutMs` for it to answer (a program that is still starting answers once
  // it listens), and hands it `activationToken` (the Wayland activation token
  // this start was given, so that the compositor lets that window come
  // forward). False, with `problem`, when it does not answer.
  bool AskToShow(int timeoutMs, std::string& problem, const std::string& activationToken = {});

  // kFirst: from now on calls `onShow` on the main thread whenever another
  // program asks, with the activation token it passed on (empty: none). Needs
  // the Qt application object.
  void Listen(std::function<void(const std::string& activationToken)> onShow);

  const std::string& Folder() const { return FFolder; }

 private:
  class TClients;

  std::string FFolder;
  int FLock = -1;
  int FSocket = -1;
  std::unique_ptr<TClients> FClients;
};

}  // namespace pling::app
