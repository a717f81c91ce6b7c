// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The History window: the messages kept in the history (history/history.h),
// searched as the user types. A search field, sender and date filters, the
// results newest first with the matched words marked, and, for the result opened
// (Enter or a double click), the message among the ones before and after it.
// "Clear history" empties the store after asking. Every query runs on a thread of
// its own with its own connection to the store: typing never waits for it, and
// a query that a newer one replaced is not run.
#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "history/history.h"

class QAction;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTextEdit;
class QThread;
class QTimer;
class QTreeWidget;

namespace pling::app {

class THistoryLog;

class THistoryFrm : public QDialog {
  Q_OBJECT
 public:
  // `path` is the store's file; `enabled` whether the window keeps a history now.
  THistoryFrm(std::string path, bool enabled, QWidget* parent);
  ~THistoryFrm() override;

  // Runs the search for what the fields say now (without waiting for the pause
  // after typing).
  void SearchNow();
  // Asks before "Clear history" empties the store; replaceable for tests.
  std::function<bool(QWidget* parent)> ConfirmClear;

  // How long typing must pause before the search runs.
  static constexpr int kTypingPauseMs = 150;
  // How many messages before and after the opened one are shown with it.
  static constexpr std::size_t kNeighbours = 10;
  static constexpr std::size_t kMaxResults = 500;
  // The message column's text with the matched words marked, as HTML.
  static constexpr int kMarkedRole = Qt::UserRole + 2;

 signals:
  // A search's results are in the list (tests wait for it).
  void Searched();
  // The opened message is shown with its neighbours.
  void Opened();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TWorker;
  void ShowResults(std::uint64_t generation, runtime::TResult<std::vector<history::THit>> hits);
  void OpenCurrent();
  void ShowNeighbours(std::int64_t id, runtime::TResult<std::vector<history::TMessage>> messages);
  void ClearHistory();
  history::TQuery CurrentQuery() const;
  // Runs `job` on the worker thread with the store (nullptr when there is none
  // yet; `why` says why).
  void Post(std::function<void(history::TStore* store, const std::string& why)> job);

  std::string FPath;
  bool FEnabled;
  QLineEdit* FSearchEdt;
  QLineEdit* FFromEdt;
  QDateEdit* FSinceDte;
  QDateEdit* FUntilDte;
  QTreeWidget* FResultsTre;
  QTextEdit* FContextTxt;
  QLabel* FResultLbl;
  QPushButton* FClearBtn;
  QPushButton* FCloseBtn;
  QTimer* FSearchTmr;
  QThread* FThread;
  QObject* FWorkerCtx;  // lives on FThread: the jobs run in its affinity
  std::shared_ptr<TWorker> FWorker;
  std::shared_ptr<std::atomic<std::uint64_t>> FLatest;  // the newest search asked for
};

// The Start menu's "History..." item (Ctrl+F in the window too): opens the
// History window over `window`, or brings it up.
QAction* AddHistoryCommand(QMenu& menu, QWidget& window, const THistoryLog& log);

// The text of `text` as HTML, escaped, each span of `marks` (byte ranges of the
// UTF-8 text) in bold on a highlight; line breaks shown as "↵". At most
// `maxChars` characters, starting a little before the first mark.
QString MarkedHtml(const std::string& text, const std::vector<history::TSpan>& marks, int maxChars);

}  // namespace pling::app
