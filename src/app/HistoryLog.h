// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window writes into the message history (history/history.h): every
// incoming message it shows, in the batches it shows them in (one transaction a
// batch, committed before the batch reaches the pane), and every message it
// sends, one record per receiver with how it went. The window's messenger holds
// the messenger mailslot whenever it delivers anything, so what it shows is
// first-hand and stored once here.
//
// The store is opened at the start on the writing thread (the window does not
// wait for it); the first pruning is due then and again every hour, on a timer
// that does nothing in between. A batch is stored as its
// rows alone; the full-text index takes the messages on the writing thread in
// short steps once no batch has come for a moment, and so does a prune. A store
// that cannot be
// had means no history, told once with its path; receiving goes on.
#include <QObject>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/SendToSeveral.h"
#include "history/history.h"

class QTimer;

namespace pling::settings {
class TMegaRegistry;
}

namespace pling::app {

class THistoryLog : public QObject {
  Q_OBJECT
 public:
  // `report` tells the user something once (a store that cannot be opened, with
  // its path; a damaged file moved aside).
  THistoryLog(std::function<void(const QString&)> report, QObject* parent);
  ~THistoryLog() override;

  // Reads the settings (History, HistoryDays, HistoryMB in [Settings]); a value
  // that cannot be read keeps its default and is returned as a problem to tell.
  // Starts the pruning timers. `path` empty: the default store.
  QStringList Start(settings::TMegaRegistry& registry, std::string path = {});
  // The same with settings given (tests and benchmarks).
  void Start(const history::TSettings& settings, std::string path);

  const history::TSettings& Settings() const { return FSettings; }
  // Switches the history on or off at once (off: nothing more is written; what
  // was taken before is kept) and stores the choice in the settings the first
  // Start read, where it raises runtime::Exception when the file cannot be
  // written (the switch holds for this run all the same).
  void SetEnabled(bool on);
  const std::string& Path() const { return FPath; }

  // One incoming message that the window shows (ANSI code page), stored with the
  // others of its batch at Commit. Every kPart messages go to the writing
  // thread, which stores them in the batch's transaction meanwhile.
  void Take(std::string_view receiver, std::string_view sender, std::string_view text);
  // Hands the rest of the messages taken since the last Commit to the writing
  // thread, which commits the batch's transaction while the window lays them out
  // in its pane.
  void Commit();
  static constexpr std::size_t kPart = 64;
  // Returns once everything handed over is stored (or failed): the window calls
  // it before it goes back to its event loop, so before it paints what it shows.
  void Flush();
  // The outcome of one send, every receiver in one transaction; stored on return.
  void Sent(const std::vector<TSentRecord>& records);
  // Prunes now if an hour has passed since the last pruning (the first runs at once).
  void PruneIfDue();

  static constexpr int kFirstPruneMs = 3000;
 signals:
  // After every Start: whether the history is on now.
  void EnabledChanged(bool on);

 public:
  // How long the writing thread waits for the next batch before it indexes or
  // prunes a step (longer than the window takes to show a large batch, so that a
  // burst is not slowed by it), and how long batches that never pause go on
  // without a step.
  static constexpr int kStepPauseMs = 1000;
  static constexpr int kStepAtLeastMs = 10000;
  // The -wal's pages at which it is written back between batches all the same.
  static constexpr int kFloodCheckpointFrames = 8 * history::TStore::kCheckpointFrames;
  static constexpr int kPruneIntervalMs = 60 * 60 * 1000;

 private:
  std::function<void(const QString&)> FReport;
  settings::TMegaRegistry* FRegistry = nullptr;  // where the switch is stored
  history::TSettings FSettings;
  std::string FPath;
  std::vector<history::TMessage> FPending;
  bool FStaging = false;  // parts of the batch were handed over before its Commit
  QTimer* FPruneTmr = nullptr;
  // The writing thread and its jobs; the writer is used on that thread alone.
  using TJob = std::function<void(history::TWriter&)>;
  void Post(TJob job);
  void StopThread();
  std::unique_ptr<history::TWriter> FWriter;
  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FWake, FDone;
  std::deque<TJob> FJobs;
  bool FBusy = false;
  bool FStop = false;
};

}  // namespace pling::app
