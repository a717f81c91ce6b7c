// SPDX-License-Identifier: GPL-3.0-or-later
// Settings work of the main window at start and at exit, with a receivers list of
// 0 and 1,000 entries, for the registry and the INI back end. Start is the store's
// opening plus the reads the window makes (the bounds, NAME0.. until the empty
// one, fonts, colours and the other settings); exit is every setting written in
// one update, the bounds with them.
// Start: "changed" gives the file another (old) time before each iteration, so it
// is read and parsed once, as at the start of a new process; "unchanged" finds it
// as it was read before (an old file: every read is a stat and a look-up);
// "just_written" reads a file written less than three seconds before, whose
// time cannot yet be trusted, so every read reads the text again to compare it.
// The window reads its start under one read hold (TReadHold), and so does this
// bench: "just_written" then reads and parses the file once, as the others do.
// Each start also reports x_parse, its time over the time of a plain read and
// parse of the same file (the anchor, measured in the same run).
// Exit: "changed" and "unchanged" as above; every exit writes other values than
// the one before, so each one replaces the file (with its two fsyncs).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/hive_parser.h"
#include "platform/paths.h"
#include "platform/profile_parser.h"
#include "settings/Megares.h"

namespace {

namespace fs = std::filesystem;
using pling::settings::TFont;
using pling::settings::TMegaRegistry;

// A fresh configuration folder for the benchmark's life, in the temporary folder
// (which should sit on a real disk for the fsyncs to count).
class BenchFolder {
 public:
  BenchFolder() {
    std::string pattern = (fs::temp_directory_path() / "pling-settings-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    FRoot = pattern;
    ::setenv("XDG_CONFIG_HOME", FRoot.c_str(), 1);
  }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(FRoot, ignored);
  }
  void Clear() const {
    std::error_code ignored;
    fs::remove_all(fs::path(FRoot) / "pling", ignored);
  }

 private:
  std::string FRoot;
};

BenchFolder& Folder() {
  static BenchFolder folder;
  return folder;
}

pling::settings::TMRPreference Preference(const benchmark::State& state) {
  return state.range(0) == 0 ? pling::settings::mrpRegistry : pling::settings::mrpIni;
}

std::string FilePath(const benchmark::State& state) {
  return Preference(state) == pling::settings::mrpIni
             ? pling::platform::WindowsDirectory() + "/Pling"
             : pling::platform::RegistryHivePath();
}

void Open(TMegaRegistry& store, pling::settings::TMRPreference preference) {
  store.SetApp("Pling");
  store.SetCompany("Corvid");
  store.SetIniName("Pling");
  store.SetPreference(preference);
  store.OpenBackEnd();
}

// Another modification time, long past: the next read cannot use what it parsed
// before, and the time can be trusted after it.
void TouchFile(const std::string& path) {
  static long nanoseconds = 0;
  nanoseconds = (nanoseconds + 1) % 1000000000;
  const struct timespec times[2] = {{1700000000, nanoseconds}, {1700000000, nanoseconds}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Everything FormClose writes, in its order, and the bounds.
void WriteAll(TMegaRegistry& store, int receivers, int round) {
  store.BeginUpdate();
  const char mark = round % 2 == 0 ? '+' : '-';
  for (int i = 0; i < receivers; ++i) {
    store.WriteText("Receivers", "NAME" + std::to_string(i), "RECEIVER" + std::to_string(i) + mark);
  }
  store.WriteText("Receivers", "NAME" + std::to_string(receivers), "");
  const TFont font{"MS Sans Serif", 8, pling::settings::clWindowText, {}};
  for (const char* section : {"ReceivedMemo", "SendMemo", "ReceiversList"}) {
    store.WriteFont(section, "Font", font);
  }
  for (const char* section : {"ReceivedMemo", "SendMemo", "ReceiversList"}) {
    store.WriteText(section, "Color", TMegaRegistry::ColorToText(pling::settings::clWindow));
  }
  store.WriteInteger("Settings", "Split", 89 + round % 2);
  for (const char* key : {"UseServer", "AutomaticSend"}) store.WriteBool("Settings", key, true);
  store.WriteText("Settings", "ServerName", "<Server>");
  for (const char* key : {"PlayIncoming", "RecvLineWrap", "SendLineWrap", "Popup", "Active"}) {
    store.WriteBool("Settings", key, false);
  }
  for (const char* key : {"Left", "Top", "Width", "Height"})
    store.WriteInteger("TPlingFrm", key, 100);
  store.EndUpdate();
}

// Everything FormCreate reads, and the bounds before it; the number of reads.
int ReadAll(pling::settings::TMRPreference preference) {
  const pling::settings::TReadHold hold;
  TMegaRegistry store;
  Open(store, preference);
  int reads = 0;
  for (const char* key : {"Left", "Top", "Width", "Height"}) {
    benchmark::DoNotOptimize(store.ReadInteger("TPlingFrm", key, 0));
    ++reads;
  }
  for (int i = 0;; ++i) {
    ++reads;
    if (store.ReadText("Receivers", "NAME" + std::to_string(i), "").empty()) break;
  }
  const TFont font{"MS Sans Serif", 8, pling::settings::clWindowText, {}};
  for (const char* section : {"ReceivedMemo", "SendMemo", "ReceiversList"}) {
    benchmark::DoNotOptimize(store.ReadFont(section, "Font", font));
    ++reads;
  }
  for (const char* section : {"ReceivedMemo", "SendMemo", "ReceiversList"}) {
    benchmark::DoNotOptimize(
        TMegaRegistry::TextToColor(store.ReadText(section, "Color", "clWindow")));
    ++reads;
  }
  benchmark::DoNotOptimize(store.ReadInteger("Settings", "Split", 89));
  for (const char* key : {"UseServer", "AutomaticSend"}) {
    benchmark::DoNotOptimize(store.ReadBool("Settings", key, false));
  }
  benchmark::DoNotOptimize(store.ReadText("Settings", "ServerName", "<Server>"));
  for (const char* key : {"PlayIncoming", "RecvLineWrap", "SendLineWrap", "Popup", "Active"}) {
    benchmark::DoNotOptimize(store.ReadBool("Settings", key, false));
  }
  return reads + 9;
}

void Seed(const benchmark::State& state) {
  Folder().Clear();
  TMegaRegistry store;
  Open(store, Preference(state));
  WriteAll(store, static_cast<int>(state.range(1)), 0);
}

enum class Kind { kChanged, kUnchanged, kJustWritten };

using Clock = std::chrono::steady_clock;

// The anchor: the file read and parsed once, without the store; seconds.
double PlainParse(const std::string& path, pling::settings::TMRPreference preference) {
  const Clock::time_point start = Clock::now();
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (preference == pling::settings::mrpIni) {
    benchmark::DoNotOptimize(pling::platform::TProfileIndex(text.str()));
  } else {
    benchmark::DoNotOptimize(pling::platform::ParseHive(text.str()));
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_Start(benchmark::State& state, Kind kind) {
  Seed(state);
  const std::string path = FilePath(state);
  if (kind == Kind::kUnchanged) TouchFile(path);
  int reads = 0;
  double started = 0, parsed = 0;
  for (auto _ : state) {
    if (kind == Kind::kChanged) {
      state.PauseTiming();
      TouchFile(path);
      state.ResumeTiming();
    }
    const Clock::time_point start = Clock::now();
    reads = ReadAll(Preference(state));
    started += std::chrono::duration<double>(Clock::now() - start).count();
    state.PauseTiming();
    parsed += PlainParse(path, Preference(state));
    state.ResumeTiming();
  }
  state.counters["reads"] = reads;
  state.counters["x_parse"] = parsed > 0 ? started / parsed : 0;
  state.counters["file_KiB"] = static_cast<double>(fs::file_size(path)) / 1024.0;
}

void BM_Exit(benchmark::State& state, bool cold) {
  Seed(state);
  const std::string path = FilePath(state);
  TMegaRegistry store;
  Open(store, Preference(state));
  int round = 1;
  for (auto _ : state) {
    if (cold) {
      state.PauseTiming();
      TouchFile(path);
      state.ResumeTiming();
    }
    WriteAll(store, static_cast<int>(state.range(1)), round++);
  }
  state.counters["file_KiB"] = static_cast<double>(fs::file_size(path)) / 1024.0;
}

void Arguments(benchmark::internal::Benchmark* bench) {
  bench->ArgNames({"ini", "receivers"});
  for (const int ini : {0, 1}) {
    for (const int receivers : {0, 1000, 10000}) bench->Args({ini, receivers});
  }
  bench->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_Start, changed, Kind::kChanged)->Apply(Arguments);
BENCHMARK_CAPTURE(BM_Start, unchanged, Kind::kUnchanged)->Apply(Arguments);
BENCHMARK_CAPTURE(BM_Start, just_written, Kind::kJustWritten)->Apply(Arguments);
BENCHMARK_CAPTURE(BM_Exit, changed, true)->Apply(Arguments);
BENCHMARK_CAPTURE(BM_Exit, unchanged, false)->Apply(Arguments);

}  // namespace

BENCHMARK_MAIN();
