// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HistoryLog.h"

#include <QTimer>
#include <chrono>
#include <utility>

#include "history/history_settings.h"
#include "qtbridge/AnsiText.h"
#include "runtime/thread_name.h"
#include "settings/Megares.h"
#include "settings/StoredKeys.h"

namespace pling::app {

THistoryLog::THistoryLog(std::function<void(const QString&)> report, QObject* parent)
    : QObject(parent), FReport(std::move(report)) {
  FSettings.enabled = false;  // until Start
}

THistoryLog::~THistoryLog() {
  // Whatever was taken and not yet committed (a batch cut short) is kept.
  Commit();
  StopThread();
}

void THistoryLog::StopThread() {
  if (!FThread.joinable()) return;
  {
    const std::lock_guard lock(FMutex);
    FStop = true;
  }
  FWake.notify_one();
  FThread.join();  // after the jobs posted before
  FStop = false;
}

void THistoryLog::Post(TJob job) {
  if (!FThread.joinable()) return;
  {
    const std::lock_guard lock(FMutex);
    FJobs.push_back(std::move(job));
  }
  FWake.notify_one();
}

void THistoryLog::Flush() {
  std::unique_lock lock(FMutex);
  FDone.wait(lock, [this] { return FJobs.empty() && !FBusy; });
}

QStringList THistoryLog::Start(settings::TMegaRegistry& registry, std::string path) {
  std::vector<std::string> unread;
  const history::TSettings settings = history::ReadSettings(registry, &unread);
  FRegistry = &registry;
  Start(settings, path.empty() ? history::DefaultPath() : std::move(path));
  QStringList problems;
  for (const std::string& problem : unread) problems << qtbridge::FromAnsi(problem);
  return problems;
}

void THistoryLog::Start(const history::TSettings& settings, std::string path) {
  Commit();
  StopThread();
  FSettings = settings.Clamped();
  FPath = std::move(path);
  FPending.clear();
  FStaging = false;
  // The report goes out on the window's thread, after the batch that met it.
  FWriter = std::make_unique<history::TWriter>(FSettings, FPath, [this](const std::string& text) {
    // Always with the file's path: the user must be able to find it.
    QString whole = QString::fromStdString(text);
    if (!whole.contains(QString::fromStdString(FPath)))
      whole += QStringLiteral(" (%1)").arg(QString::fromStdString(FPath));
    QMetaObject::invokeMethod(
        this, [this, whole] { FReport(whole); }, Qt::QueuedConnection);
  });
  FWriter->DeferCheckpoints();
  if (FSettings.enabled) {
    FThread = std::thread([this] {
      runtime::SetThreadName("history writer");
      using Clock = std::chrono::steady_clock;
      std::unique_lock lock(FMutex);
      const auto woken = [this] { return FStop || !FJobs.empty(); };
      auto lastStep = Clock::now();
      for (;;) {
        // The index and the pruning go on in short steps once no batch has come
        // for a moment: in a burst the batches are stored at once and indexed
        // after it, and a batch never waits longer than one step. Batches that
        // never pause get a step in between now and then all the same.
        if (FWriter->HasWork() && !FStop) {
          const bool step =
              FJobs.empty() ? !FWake.wait_for(lock, std::chrono::milliseconds(kStepPauseMs), woken)
                            : Clock::now() - lastStep > std::chrono::milliseconds(kStepAtLeastMs);
          if (step) {
            lock.unlock();
            FWriter->Step();
            lock.lock();
            lastStep = Clock::now();
            continue;
          }
        } else {
          lastStep = Clock::now();
        }
        FWake.wait(lock, woken);
        if (FJobs.empty()) break;  // stopping, and nothing left to do
        TJob job = std::move(FJobs.front());
        FJobs.pop_front();
        FBusy = true;
        lock.unlock();
        job(*FWriter);
        lock.lock();
        FBusy = false;
        FDone.notify_all();
        // The -wal is written back into the file between bursts (a step), not
        // in the commit of a batch the window waits for; in a flood that never
        // pauses, once it has grown much longer.
        if (FWriter->CheckpointDue(kFloodCheckpointFrames)) {
          lock.unlock();
          FWriter->Checkpoint();
          lock.lock();
        }
      }
    });
  }
  delete FPruneTmr;
  FPruneTmr = nullptr;
  emit EnabledChanged(FSettings.enabled);
  if (!FSettings.enabled) return;
  // Opened now on the writing thread, so that the first batch finds it open
  // (and a file that cannot be had is told at the start).
  Post([](history::TWriter& writer) { writer.Open(); });
  // A few seconds after the start (the window is up by then), then every hour.
  FPruneTmr = new QTimer(this);
  FPruneTmr->setObjectName(QStringLiteral("HistoryPruneTmr"));
  FPruneTmr->setTimerType(Qt::VeryCoarseTimer);
  FPruneTmr->setSingleShot(false);
  connect(FPruneTmr, &QTimer::timeout, this, [this] {
    // A little over the hour: the writer prunes only once a whole hour has passed.
    FPruneTmr->setInterval(kPruneIntervalMs + 60 * 1000);
    PruneIfDue();
  });
  FPruneTmr->start(kFirstPruneMs);
}

void THistoryLog::SetEnabled(bool on) {
  if (on == FSettings.enabled) return;
  history::TSettings settings = FSettings;
  settings.enabled = on;
  Start(settings, FPath.empty() ? history::DefaultPath() : FPath);
  if (FRegistry != nullptr)
    FRegistry->WriteBool(settings::kHistoryKey.section, settings::kHistoryKey.key, on);
}

void THistoryLog::Take(std::string_view receiver, std::string_view sender, std::string_view text) {
  if (!FSettings.enabled) return;
  if (FPending.empty()) FPending.reserve(kPart);
  FPending.push_back(history::ReceivedMessage(sender, receiver, text, history::NowMs()));
  // A long batch goes to the writing thread in parts while the window takes the
  // rest: when it ends, little of it is left to store.
  if (FPending.size() >= kPart) {
    FStaging = true;
    Post([part = std::exchange(FPending, {})](history::TWriter& writer) mutable {
      writer.Stage(std::move(part));
    });
  }
}

void THistoryLog::Commit() {
  if (FPending.empty() && !FStaging) return;
  FStaging = false;
  Post([rest = std::exchange(FPending, {})](history::TWriter& writer) mutable {
    writer.Stage(std::move(rest));
    writer.CommitStaged();
  });
}

void THistoryLog::Sent(const std::vector<TSentRecord>& records) {
  if (!FSettings.enabled || records.empty()) return;
  std::vector<history::TMessage> batch;
  batch.reserve(records.size());
  const std::int64_t now = history::NowMs();
  for (const TSentRecord& record : records) {
    batch.push_back(history::SentMessage(record.machine, record.sender, record.receiver,
                                         record.text, record.outcome, now));
  }
  Post([batch = std::move(batch)](history::TWriter& writer) mutable { writer.Append(batch); });
  Flush();
}

void THistoryLog::PruneIfDue() {
  if (!FSettings.enabled) return;
  // Opening prunes; an open store prunes when an hour has passed.
  Post([](history::TWriter& writer) {
    if (writer.Store() == nullptr) {
      writer.Open();
    } else {
      writer.PruneIfDue(history::NowMs());
    }
  });
}

}  // namespace pling::app
