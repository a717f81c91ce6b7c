// SPDX-License-Identifier: GPL-3.0-or-later
// Looking a name up in the receivers list, as every incoming message does for
// the automatic add: the list's own look-up (a hash of case-folded names and a
// search by the sort order) beside a scan of every item with a case-insensitive
// comparison, for lists of 100 to 40,000 names, for a name that is there and one
// that is not.
//
//   build/bin/pling_receivers_bench        (draws nothing: Qt's offscreen platform)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QString>

#include "app/Controls.h"

namespace {

// A list of `count` names Name00000, Name00001, ...
pling::app::TListBox& List(int count) {
  static pling::app::TListBox* list = nullptr;
  static int filled = -1;
  if (list == nullptr) list = new pling::app::TListBox;
  if (filled != count) {
    list->clear();
    for (int i = 0; i < count; ++i)
      list->AddItem(QStringLiteral("Name%1").arg(i, 5, 10, QLatin1Char('0')));
    filled = count;
  }
  return *list;
}

int LinearScan(const pling::app::TListBox& list, const QString& name) {
  for (int i = 0; i < list.count(); ++i) {
    if (QString::compare(list.item(i)->text(), name, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

const QString kPresent = QStringLiteral("NAME%1");
const QString kAbsent = QStringLiteral("Stranger");

void BM_IndexOfText_Present(benchmark::State& state) {
  const auto& list = List(static_cast<int>(state.range(0)));
  const QString name = kPresent.arg(state.range(0) * 2 / 3, 5, 10, QLatin1Char('0'));
  for (auto _ : state) benchmark::DoNotOptimize(list.IndexOfText(name));
}

void BM_IndexOfText_Absent(benchmark::State& state) {
  const auto& list = List(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(list.IndexOfText(kAbsent));
}

void BM_LinearScan_Present(benchmark::State& state) {
  const auto& list = List(static_cast<int>(state.range(0)));
  const QString name = kPresent.arg(state.range(0) * 2 / 3, 5, 10, QLatin1Char('0'));
  for (auto _ : state) benchmark::DoNotOptimize(LinearScan(list, name));
}

void BM_LinearScan_Absent(benchmark::State& state) {
  const auto& list = List(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(LinearScan(list, kAbsent));
}

// One list size at a time, so each is filled once.
#define PLING_SIZES ->Arg(100)->Arg(1000)->Arg(10000)->Arg(40000)
BENCHMARK(BM_IndexOfText_Present) PLING_SIZES;
BENCHMARK(BM_LinearScan_Present) PLING_SIZES;
BENCHMARK(BM_IndexOfText_Absent) PLING_SIZES;
BENCHMARK(BM_LinearScan_Absent) PLING_SIZES;

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
