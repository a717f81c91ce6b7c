// SPDX-License-Identifier: GPL-3.0-or-later
// The received pane under a flood, beside a bare QPlainTextEdit in the same run.
//
// 1. Messages per second shown with a full pane (1000 lines): the window's own
//    incoming handler (duplicate filter, automatic add, status line, separator,
//    timestamp, the 1000-line limit), with the event loop run after every message
//    so that each one is also painted, as it is when messages arrive one by one;
//    beside a bare QPlainTextEdit that appends a line and drops its first block
//    (setMaximumBlockCount) per line, given the same three lines per message.
//    Without and with line wrap.
// 2. A burst of 10,000 messages sent with pling-cli (one process per message,
//    several at a time) to the window while it listens: the time from the first
//    send until the last message is shown, and the longest the event loop went
//    without running a 10 ms timer meanwhile (how responsive the window stayed).
// 3. Long messages (30,000 characters of words) to a full pane with line wrap on:
//    the time each one takes, trim included.
// 4. 10,000 messages (distinct senders) waiting in the window's mailslot, written
//    while the main thread was busy: the time until all are shown, the longest
//    the event loop went without running a 10 ms timer meanwhile, and the
//    batches the messenger delivered them in; beside a bare QPlainTextEdit
//    (setMaximumBlockCount 1000) given the same lines in batches of the same
//    sizes, one event-loop pass after each. Without and with line wrap.
//
// The window keeps its message history (committed once per batch, before the
// batch is shown) in parts 1, 2 and 4; parts 2 and 4 run with it off too, in
// turns, and print the time with it on over the time with it off.
//
// Run it on an X display (or QT_QPA_PLATFORM=offscreen), as root or where user
// namespaces are allowed, so that it gets a network namespace of its own and its
// mailslots cannot meet a running Pling's:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/pling_received_bench
//       [--burst N] [--waiting N] [--rounds N]
// (--burst 0 leaves part 2 out; parts 1 and 4 run N rounds, 9 by default, and
// give the median ratio and its spread.)
#include <sched.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/HistoryLog.h"
#include "app/PlingApplication.h"
#include "app/PlingFrmUnit.h"
#include "app/QtMainThread.h"
#include "mailslot/lxMailSlot.h"
#include "platform/types.h"
#include "runtime/main_thread.h"
#include "window_parts.h"

namespace {

using pling::bench::Part;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::string Text(int i) {
  return "message number " + std::to_string(i) + " with a few words of text in it";
}

// The received pane with line wrap on or off, filled to its 1000 lines.
void FillReceived(pling::app::TPlingFrm& w, bool wrap) {
  QAction* lineWrap = Part<QAction>(w, "RecvLinewrap");
  if (lineWrap->isChecked() != wrap) lineWrap->trigger();
  Part<QAction>(w, "Clear1")->trigger();
  const auto* received = Part<pling::app::TMemo>(w, "ReceivedMmo");
  for (int i = 0; received->LineCount() < 1000; ++i) w.PlingMessage("BOB", "ALICE", Text(i));
}

double FloodWindow(pling::app::TPlingFrm& w, bool wrap, int count) {
  FillReceived(w, wrap);
  QCoreApplication::processEvents();
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    w.PlingMessage("BOB", "ALICE", Text(100000 + i));
    QCoreApplication::processEvents();
  }
  return count / Seconds(Clock::now() - start);
}

double FloodBare(QPlainTextEdit& pane, bool wrap, int count) {
  pane.setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  pane.clear();
  pane.setMaximumBlockCount(1000);
  // The same three lines the window writes per message: separator, time, text.
  const QString separator(30, QLatin1Char('-'));
  const QString stamp =
      QDateTime::currentDateTime().toString(QStringLiteral("d MMM yyyy hh:mm:ss"));
  const auto append = [&](int i) {
    pane.appendPlainText(separator);
    pane.appendPlainText(stamp);
    pane.appendPlainText(QStringLiteral("ALICE to BOB : ") + QString::fromStdString(Text(i)));
  };
  for (int i = 0; i < 400; ++i) append(i);
  QCoreApplication::processEvents();
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    append(100000 + i);
    QCoreApplication::processEvents();
  }
  return count / Seconds(Clock::now() - start);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string WaitingSender(int i) {
  return "HOST" + std::to_string(i);
}

// Part 4, the window's side: `count` messages written into its mailslot while the
// main thread does not serve the reader, then the event loop until all are shown.
struct TWaitingRun {
  double Seconds = 0;
  qint64 LongestGap = 0;  // ms without a 10 ms timer tick
  std::vector<int> Batches;
  double LongestBatch = 0;    // s from a batch's first message to the end of its showing
  double LongestShowing = 0;  // s the window took to show one batch (its end)
  double Showing = 0;         // s the window took to show all batches (their ends)
  int Shown = 0;
  int Lines = 0;
};

TWaitingRun ShowWaiting(pling::app::TPlingFrm& w, bool wrap, int count) {
  FillReceived(w, wrap);
  Part<pling::app::TListBox>(w, "ReceiversLbx")->clear();
  QCoreApplication::processEvents();

  TWaitingRun run;
  int delivered = 0;
  const auto onMessage = w.Messenger().OnMessage;
  const auto onBatchEnd = w.Messenger().OnBatchEnd;
  Clock::time_point batchStart;
  w.Messenger().OnMessage = [&](pling::runtime::TComponent& sender, std::string r, std::string s,
                                std::string m) {
    if (delivered++ == run.Shown) batchStart = Clock::now();
    onMessage(sender, std::move(r), std::move(s), std::move(m));
  };
  w.Messenger().OnBatchEnd = [&](pling::runtime::TComponent& sender) {
    const auto showing = Clock::now();
    onBatchEnd(sender);
    const auto end = Clock::now();
    run.LongestBatch = std::max(run.LongestBatch, Seconds(end - batchStart));
    run.LongestShowing = std::max(run.LongestShowing, Seconds(end - showing));
    run.Showing += Seconds(end - showing);
    run.Batches.push_back(delivered - run.Shown);
    run.Shown = delivered;
  };
  for (int i = 0; i < count; ++i) {
    if (!pling::mailslot::WriteMailSlot(
            ".", pling::mailslot::MessengerSlotName,
            pling::mailslot::EncodeMessengerDatagram(WaitingSender(i), "BOB", Text(i)))) {
      std::fprintf(stderr, "message %d could not be written\n", i);
      break;
    }
  }
  QElapsedTimer tick;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout,
                   [&] { run.LongestGap = std::max(run.LongestGap, tick.restart()); });
  tick.start();
  timer.start();
  const auto start = Clock::now();
  pling::bench::RunEventsUntil([&] { return run.Shown >= count; }, 120000);
  QCoreApplication::processEvents();  // the last batch painted
  run.Seconds = Seconds(Clock::now() - start);
  timer.stop();
  run.LongestGap = std::max(run.LongestGap, tick.elapsed());
  run.Lines = Part<pling::app::TMemo>(w, "ReceivedMmo")->LineCount();
  w.Messenger().OnMessage = onMessage;
  w.Messenger().OnBatchEnd = onBatchEnd;
  return run;
}

// Part 4, the bare pane's side: the same three lines per message, in batches of
// the given sizes, one event-loop pass after each batch.
double ShowBare(QPlainTextEdit& pane, bool wrap, const std::vector<int>& batches) {
  pane.setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  pane.clear();
  pane.setMaximumBlockCount(1000);
  for (int i = 0; i < 1000; ++i) pane.appendPlainText(QString::fromStdString(Text(i)));
  QCoreApplication::processEvents();
  const QString separator(30, QLatin1Char('-'));
  const auto start = Clock::now();
  int i = 0;
  for (const int size : batches) {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("d MMM yyyy hh:mm:ss"));
    QString text;
    for (int k = 0; k < size; ++k, ++i) {
      if (k > 0) text += QLatin1Char('\n');
      text += separator + QLatin1Char('\n') + stamp + QLatin1Char('\n') +
              QString::fromStdString(WaitingSender(i) + " to BOB : " + Text(i));
    }
    pane.appendPlainText(text);
    QCoreApplication::processEvents();
  }
  return Seconds(Clock::now() - start);
}

// Sends `count` messages with pling-cli, `parallel` processes at a time; counts
// the sends that failed (pling-cli ended with an error).
void SendBurst(const std::string& cli, int count, int parallel, std::atomic<int>& failed) {
  std::vector<pid_t> running;
  const auto reap = [&](pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
      ++failed;
  };
  for (int i = 0; i < count; ++i) {
    if (static_cast<int>(running.size()) >= parallel) {
      reap(running.front());
      running.erase(running.begin());
    }
    const std::string text = "burst " + std::to_string(i);
    const pid_t pid = fork();
    if (pid == 0) {
      execl(cli.c_str(), cli.c_str(), "send", "--machine", ".", "--from", "CLI", "BOB",
            text.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    running.push_back(pid);
  }
  for (pid_t pid : running) reap(pid);
}

}  // namespace

int main(int argc, char** argv) {
  int burst = 10000;
  int waiting = 10000;
  int rounds = 9;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--burst") == 0) burst = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--waiting") == 0) waiting = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  // A network namespace of our own: mailslots are abstract sockets, which belong
  // to one, so a Pling running on this machine is neither disturbed nor counted.
  if (unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr,
                 "note: no network namespace of its own (%s); a running Pling may "
                 "hold the messenger mailslot\n",
                 std::strerror(errno));
  }
  setenv("PLING_NETWORK", "off", 1);
  const fs::path config = fs::temp_directory_path() / ("pling-bench-" + std::to_string(getpid()));
  fs::create_directories(config);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("XDG_DATA_HOME", (config / "data").c_str(), 1);
  const std::string cli = (fs::path(argv[0]).parent_path() / "pling-cli").string();

  pling::app::TPlingApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pling"));
  auto mainThread = std::make_shared<pling::app::TQtMainThread>();
  pling::runtime::SetMainThread(mainThread);
  {
    pling::app::TPlingFrm w;
    w.resize(448, 400);
    w.show();
    const std::string historyPath = pling::history::DefaultPath();
    const auto keepHistory = [&](bool on) {
      pling::history::TSettings settings;
      settings.enabled = on;
      w.History().Start(settings, historyPath);
    };
    keepHistory(true);
    Part<QAction>(w, "Popup1")->trigger();  // off: the window is on screen anyway
    QAction* lineWrap = Part<QAction>(w, "RecvLinewrap");
    QAction* clear = Part<QAction>(w, "Clear1");
    const auto* received = Part<pling::app::TMemo>(w, "ReceivedMmo");
    QPlainTextEdit bare;
    bare.resize(received->size());
    bare.show();

    // In rounds, the window and the bare pane in turns, so that what the rest of
    // the machine does falls on both alike: the median of the rounds' ratios and
    // their spread.
    constexpr int kFlood = 1000;
    std::printf(
        "Received pane, full (1000 lines), one message per event-loop pass, %d messages a "
        "round, %d rounds:\n",
        kFlood, rounds);
    for (bool wrap : {false, true}) {
      std::vector<double> windows, plains, ratios;
      for (int round = 0; round < rounds; ++round) {
        windows.push_back(FloodWindow(w, wrap, kFlood));
        plains.push_back(FloodBare(bare, wrap, kFlood));
        ratios.push_back(windows.back() / plains.back());
      }
      std::printf(
          "  %-9s window %8.0f msg/s   bare QPlainTextEdit %8.0f msg/s   window / bare x%.2f "
          "(median of %d rounds; x%.2f to x%.2f)\n",
          wrap ? "wrap on" : "wrap off", Median(windows), Median(plains), Median(ratios), rounds,
          *std::min_element(ratios.begin(), ratios.end()),
          *std::max_element(ratios.begin(), ratios.end()));
    }

    {
      constexpr int kLong = 20;
      if (!lineWrap->isChecked()) lineWrap->trigger();
      clear->trigger();
      std::string words;
      while (words.size() < 30000) words += "some words " + std::to_string(words.size()) + " ";
      for (int i = 0; received->LineCount() < 1000; ++i)
        w.PlingMessage("BOB", "ALICE", std::to_string(i) + " " + words);
      QCoreApplication::processEvents();
      Clock::duration longest{};
      const auto start = Clock::now();
      for (int i = 0; i < kLong; ++i) {
        const auto begin = Clock::now();
        w.PlingMessage("BOB", "ALICE", std::to_string(1000 + i) + " " + words);
        QCoreApplication::processEvents();
        longest = std::max(longest, Clock::now() - begin);
      }
      std::printf("Messages of %zu characters, wrap on, full pane, %d messages:\n", words.size(),
                  kLong);
      std::printf("  %.1f ms per message on average, %.1f ms at most\n",
                  Seconds(Clock::now() - start) * 1000 / kLong, Seconds(longest) * 1000);
    }

    Part<QAction>(w, "Activate1")->trigger();
    if (!w.Messenger().Active()) {
      std::fprintf(stderr, "the window could not listen on the messenger mailslot\n");
      return 1;
    }
    if (waiting > 0) {
      std::printf(
          "%d messages waiting in the window's mailslot (distinct senders, full pane, "
          "separators and time stamps on):\n",
          waiting);
      bare.show();
      // Off and on in turns; each pair gives a ratio.
      std::vector<double> ratios;
      double off = 0;
      for (int turn = 0; turn < 2 * rounds; ++turn) {
        const bool on = turn % 2 == 1;
        keepHistory(on);
        const TWaitingRun run = ShowWaiting(w, false, waiting);
        if (on) {
          ratios.push_back(run.Seconds / off);
        } else {
          off = run.Seconds;
        }
        std::printf(
            "  history %-3s wrap off: %d shown after %.2f s, %zu batches, their ends took %.2f "
            "s\n",
            on ? "on" : "off", run.Shown, run.Seconds, run.Batches.size(), run.Showing);
      }
      std::printf("  history on / off: x%.2f (median of %d pairs; x%.2f to x%.2f)\n",
                  Median(ratios), rounds, *std::min_element(ratios.begin(), ratios.end()),
                  *std::max_element(ratios.begin(), ratios.end()));
      keepHistory(true);
      for (bool wrap : {false, true}) {
        const TWaitingRun run = ShowWaiting(w, wrap, waiting);
        const double plain = ShowBare(bare, wrap, run.Batches);
        const int largest =
            run.Batches.empty() ? 0 : *std::max_element(run.Batches.begin(), run.Batches.end());
        std::printf(
            "  %-9s window: %d shown after %.2f s (%.0f msg/s), %zu batches (largest %d), "
            "longest event-loop pause %lld ms, pane %d lines\n",
            wrap ? "wrap on" : "wrap off", run.Shown, run.Seconds, run.Shown / run.Seconds,
            run.Batches.size(), largest, static_cast<long long>(run.LongestGap), run.Lines);
        std::printf(
            "  %-9s longest batch %.1f ms on the main thread, of which %.1f ms showing it\n", "",
            run.LongestBatch * 1000, run.LongestShowing * 1000);
        std::printf(
            "  %-9s bare QPlainTextEdit, same lines in the same batches: %.2f s; "
            "ratio (bare time / window time) %.2f\n",
            "", plain, plain / run.Seconds);
      }
      bare.hide();
    }
    // The burst through the messenger mailslot, as a user's window gets it.
    double burstSeconds[2] = {0, 0};
    for (int turn = 0; burst > 0 && turn < 2; ++turn) {
      keepHistory(turn == 1);
      if (lineWrap->isChecked()) lineWrap->trigger();
      clear->trigger();
      constexpr int kSenders = 4;
      std::atomic<int> shown{0};
      std::atomic<int> failed{0};
      Clock::duration longestMessage{};
      auto handler = w.Messenger().OnMessage;
      w.Messenger().OnMessage = [&](pling::runtime::TComponent& sender, std::string r,
                                    std::string s, std::string m) {
        const auto begin = Clock::now();
        handler(sender, r, s, m);
        longestMessage = std::max(longestMessage, Clock::now() - begin);
        ++shown;
      };
      QElapsedTimer tick;
      qint64 longestGap = 0;
      QTimer timer;
      timer.setInterval(10);
      pling::platform::DWORD mostWaiting = 0;
      QObject::connect(&timer, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, tick.restart());
        w.Messenger().UpdateInfo();
        mostWaiting = std::max(mostWaiting, w.Messenger().MessageCount());
      });
      tick.start();
      timer.start();
      const auto start = Clock::now();
      Clock::time_point sent;
      std::thread sender([&] {
        SendBurst(cli, burst, kSenders, failed);
        sent = Clock::now();
      });
      pling::bench::RunEventsUntil([&] { return shown + failed >= burst; }, 600000);
      const auto done = Clock::now();
      sender.join();
      timer.stop();
      w.Messenger().OnMessage = handler;
      burstSeconds[turn] = Seconds(done - start);
      std::printf(
          "Burst of %d messages sent with pling-cli (%d processes at a time), history %s:\n", burst,
          kSenders, turn == 1 ? "on" : "off");
      std::printf("  refused to the senders: %d\n", failed.load());
      std::printf("  shown %d of %d; all sent after %.2f s, all shown after %.2f s (%.0f msg/s)\n",
                  shown.load(), burst, Seconds(sent - start), Seconds(done - start),
                  shown / Seconds(done - start));
      std::printf("  longest the event loop went without a 10 ms timer tick: %lld ms\n",
                  static_cast<long long>(longestGap));
      std::printf("  most messages waiting in the mailslot at once: %u\n",
                  static_cast<unsigned>(mostWaiting));
      std::printf("  longest time the window spent on one message: %.1f ms\n",
                  Seconds(longestMessage) * 1000);
      std::printf("  pane after the burst: %d lines\n", received->LineCount());
    }
    if (burstSeconds[0] > 0) {
      std::printf("Burst, history on / off: x%.2f\n", burstSeconds[1] / burstSeconds[0]);
    }
    w.close();
  }
  pling::runtime::SetMainThread(nullptr);
  mainThread->Shutdown();
  fs::remove_all(config);
  return 0;
}
