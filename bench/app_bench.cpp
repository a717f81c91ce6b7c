// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the program beside a bare Qt Widgets window (pling_bare_window), in the
// same run on the same X display: the time from process start to the window being
// mapped and to its first painted frame, and the resident memory once it has started.
//
// How "first painted frame" is seen, without any help from the programs: this bench
// is an ordinary X client. It paints the root window one marker colour, watches the
// root for top-level windows being mapped (MapNotify), takes the one whose
// _NET_WM_PID is the child's, and then reads the window's pixels back (GetImage)
// every millisecond. The first frame that is neither the marker colour showing
// through nor one flat colour (the server clearing the window) is the program's own
// drawing. A Qt window is flushed from its backing store in one piece, so this is
// the first complete frame. The figure includes process start, dynamic loading,
// Qt's set-up, the program's own start-up work and the first paint.
//
// Memory: VmRSS and RssAnon from /proc/PID/status one second after the first frame.
// Both programs map the same Qt libraries, so the difference is the program's own.
//
// Exit: the time from SIGTERM (which closes the window as the user does, writing
// the settings) until the process has ended.
//
// --receivers N,M,...: the program is also started with a stored receivers list of
// each length (every 7th selected; run once before, unmeasured, so that the file
// holds every setting the program writes), and the start and exit with each list
// are printed beside those with the first.
//
// --history N: the program is also started with N messages in its history (and
// once with an empty history file), and the start with N is printed beside the
// start with none: the history is not read at the start.
//
// Run it on an X server with 24-bit colour and no window manager, for example:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/pling_app_bench [--rounds N]
//       [--receivers 1000,10000] [--history 100000]
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "history/history.h"
#include "settings/Megares.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint32_t kMarker = 0x00FF00FF;  // magenta, which neither program draws in bulk

struct Sample {
  double mapMs = 0;
  double paintMs = 0;
  double rssMiB = 0;
  double anonMiB = 0;
  double exitMs = 0;
};

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

class Display {
 public:
  Display() {
    FConn = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(FConn) != 0) {
      const char* name = std::getenv("DISPLAY");
      std::fprintf(stderr, "cannot open the X display (DISPLAY=%s)\n", name != nullptr ? name : "");
      std::exit(2);
    }
    FScreen = xcb_setup_roots_iterator(xcb_get_setup(FConn)).data;
    if (FScreen->root_depth < 24) {
      std::fprintf(stderr,
                   "the screen has %u-bit colour; run the X server with 24 bits "
                   "(xvfb-run -s \"-screen 0 1280x1024x24\")\n",
                   FScreen->root_depth);
      std::exit(2);
    }
    const std::uint32_t background[] = {kMarker};
    xcb_change_window_attributes(FConn, FScreen->root, XCB_CW_BACK_PIXEL, background);
    xcb_clear_area(FConn, 0, FScreen->root, 0, 0, 0, 0);
    const std::uint32_t events[] = {XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_change_window_attributes(FConn, FScreen->root, XCB_CW_EVENT_MASK, events);
    const char name[] = "_NET_WM_PID";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(FConn, xcb_intern_atom(FConn, 0, sizeof name - 1, name), nullptr),
        &std::free);
    FPidAtom = atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
    xcb_flush(FConn);
  }
  ~Display() { xcb_disconnect(FConn); }

  // Drops events that belong to earlier rounds.
  void Drain() {
    while (xcb_generic_event_t* e = xcb_poll_for_event(FConn)) std::free(e);
  }

  // A top-level window of process `pid` that was mapped since the last call, if any.
  std::optional<xcb_window_t> MappedWindowOf(pid_t pid) {
    std::optional<xcb_window_t> found;
    while (xcb_generic_event_t* e = xcb_poll_for_event(FConn)) {
      if ((e->response_type & 0x7F) == XCB_MAP_NOTIFY && !found) {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(e);
        if (map->override_redirect == 0 && PidOf(map->window) == pid) found = map->window;
      }
      std::free(e);
    }
    return found;
  }

  // Whether the window shows a frame drawn by its program (see the top of the file).
  bool Painted(xcb_window_t window) {
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(FConn, xcb_get_geometry(FConn, window), nullptr), &std::free);
    if (!geometry || geometry->width == 0 || geometry->height == 0) return false;
    XcbReply<xcb_get_image_reply_t> image(
        xcb_get_image_reply(FConn,
                            xcb_get_image(FConn, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                          geometry->width, geometry->height, ~0U),
                            nullptr),
        &std::free);
    if (!image) return false;
    const std::uint8_t* data = xcb_get_image_data(image.get());
    const auto length = static_cast<std::size_t>(xcb_get_image_data_length(image.get()));
    std::size_t marker = 0, pixels = length / 4;
    if (pixels == 0) return false;
    std::uint32_t first = 0;
    std::memcpy(&first, data, 4);
    first &= 0xFFFFFF;
    bool flat = true;
    for (std::size_t i = 0; i < pixels; ++i) {
      std::uint32_t pixel = 0;
      std::memcpy(&pixel, data + 4 * i, 4);
      pixel &= 0xFFFFFF;
      marker += pixel == kMarker ? 1 : 0;
      flat = flat && pixel == first;
    }
    return !flat && marker < pixels / 10;
  }

 private:
  pid_t PidOf(xcb_window_t window) {
    if (FPidAtom == XCB_ATOM_NONE) return -1;
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            FConn, xcb_get_property(FConn, 0, window, FPidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr),
        &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) != 4) return -1;
    std::uint32_t pid = 0;
    std::memcpy(&pid, xcb_get_property_value(reply.get()), 4);
    return static_cast<pid_t>(pid);
  }

  xcb_connection_t* FConn = nullptr;
  xcb_screen_t* FScreen = nullptr;
  xcb_atom_t FPidAtom = XCB_ATOM_NONE;
};

double Millis(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// VmRSS and RssAnon of a process, in MiB.
std::pair<double, double> Memory(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  double rss = 0, anon = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) rss = std::stod(line.substr(6)) / 1024.0;
    if (line.rfind("RssAnon:", 0) == 0) anon = std::stod(line.substr(8)) / 1024.0;
  }
  return {rss, anon};
}

// Ends the process by SIGTERM; the time until it ended, in ms.
double Stop(pid_t pid) {
  const Clock::time_point start = Clock::now();
  kill(pid, SIGTERM);
  for (int i = 0; i < 10000; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return Millis(Clock::now() - start);
    std::this_thread::sleep_for(1ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return Millis(Clock::now() - start);
}

// A stored receivers list of `count` names in the settings folder `config`, every
// 7th selected, written as the program's store writes it.
void StoreReceivers(const std::string& config, int count) {
  const char* before = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = before != nullptr ? before : "";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  {
    pling::settings::TMegaRegistry store;
    pling::settings::ConfigureProgramStore(store);
    store.OpenBackEnd();
    store.BeginUpdate();
    for (int i = 0; i < count; ++i) {
      store.WriteText("Receivers", "NAME" + std::to_string(i),
                      "RECEIVER" + std::to_string(100000 + i) + (i % 7 == 0 ? "+" : "-"));
    }
    store.EndUpdate();
  }
  if (before != nullptr) {
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

// A history of `count` messages in the data folder of `config`, as the program
// keeps it (`count` 0: an empty history file).
bool StoreHistory(const std::string& config, int count) {
  auto opened = pling::history::TStore::Open(config + "/data/pling/history.sqlite");
  if (!opened) {
    std::fprintf(stderr, "no history: %s\n", opened.Error().text.c_str());
    return false;
  }
  const std::int64_t now = pling::history::NowMs();
  std::vector<pling::history::TMessage> batch;
  for (int i = 0; i < count; ++i) {
    pling::history::TMessage& m = batch.emplace_back();
    m.timeMs = now - (count - i) * 1000LL;
    m.sender = "HOST" + std::to_string(i % 50);
    m.receiver = "BOB";
    m.text = "message number " + std::to_string(i) + " with a few words of text in it";
    if (batch.size() == 1000 || i + 1 == count) {
      if (!opened.Value().store->Append(batch)) return false;
      batch.clear();
    }
  }
  return true;
}

// Starts the program with a fresh, empty settings folder and measures one start.
// One start and exit of `program` with the settings folder `config`.
std::optional<Sample> Cycle(Display& display, const fs::path& program, const std::string& config) {
  display.Drain();
  const Clock::time_point start = Clock::now();
  // A session of its own too: a Pling the user runs would otherwise take the start
  // (one window per session).
  const std::string runtime = config + "/runtime";
  mkdir(runtime.c_str(), 0700);
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_DATA_HOME", (config + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  Sample sample;
  std::optional<xcb_window_t> window;
  bool painted = false;
  const Clock::time_point limit = start + 30s;
  while (!painted && Clock::now() < limit) {
    if (!window) {
      window = display.MappedWindowOf(pid);
      if (window) sample.mapMs = Millis(Clock::now() - start);
    }
    if (window && display.Painted(*window)) {
      sample.paintMs = Millis(Clock::now() - start);
      painted = true;
    }
    if (!painted) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;
      std::this_thread::sleep_for(1ms);
    }
  }
  std::optional<Sample> result;
  if (painted) {
    std::this_thread::sleep_for(1s);
    std::tie(sample.rssMiB, sample.anonMiB) = Memory(pid);
  } else {
    std::fprintf(stderr, "%s: no painted window within 30 s\n", program.c_str());
  }
  sample.exitMs = Stop(pid);
  if (painted) result = sample;
  return result;
}

// Starts the program with a fresh settings folder and measures one start and
// exit. With a receivers list the program has run once before, unmeasured, so
// that the folder holds every setting it writes, as a user's does.
std::optional<Sample> Measure(Display& display, const fs::path& program, int receivers = 0,
                              int history = -1) {
  std::string config = (fs::temp_directory_path() / "pling-bench-XXXXXX").string();
  if (mkdtemp(config.data()) == nullptr) return std::nullopt;
  if (history >= 0 && !StoreHistory(config, history)) return std::nullopt;
  // The history's pages on disk before the start, not being written back during it.
  if (history >= 0) sync();
  if (receivers > 0) {
    StoreReceivers(config, receivers);
    Cycle(display, program, config);
  }
  std::optional<Sample> result = Cycle(display, program, config);
  std::error_code ignored;
  fs::remove_all(config, ignored);
  return result;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : (n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

struct Summary {
  std::vector<double> map, paint, rss, anon, exit;
  void Add(const Sample& s) {
    map.push_back(s.mapMs);
    paint.push_back(s.paintMs);
    rss.push_back(s.rssMiB);
    anon.push_back(s.anonMiB);
    exit.push_back(s.exitMs);
  }
};

void PrintRow(const char* name, const Summary& s) {
  std::printf("%-24s %4zu  %8.1f %8.1f %8.1f  %8.1f  %8.1f %8.1f  %8.1f\n", name, s.paint.size(),
              Median(s.paint), *std::min_element(s.paint.begin(), s.paint.end()),
              *std::max_element(s.paint.begin(), s.paint.end()), Median(s.map), Median(s.rss),
              Median(s.anon), Median(s.exit));
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 10;
  std::vector<int> sizes;  // receivers lists to start with, beside none
  int history = -1;        // messages in the history to start with, beside none
  fs::path binDir = fs::canonical("/proc/self/exe").parent_path();
  fs::path app = binDir / "pling", bare = binDir / "pling_bare_window";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--program" && i + 1 < argc) {
      app = argv[++i];
    } else if (arg == "--history" && i + 1 < argc) {
      history = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--receivers" && i + 1 < argc) {
      const std::string list = argv[++i];
      for (std::size_t at = 0; at < list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        sizes.push_back(std::max(0, std::atoi(list.substr(at, comma - at).c_str())));
        at = comma + 1;
      }
    } else {
      std::fprintf(stderr,
                   "usage: %s [--rounds N] [--program PATH] [--receivers N,M,...] "
                   "[--history N]\n",
                   argv[0]);
      return 2;
    }
  }
  for (const fs::path& p : {app, bare}) {
    if (access(p.c_str(), X_OK) != 0) {
      std::fprintf(stderr, "%s is missing: build it first\n", p.c_str());
      return 2;
    }
  }

  Display display;
  // One start of each that is not counted, so that both find the libraries in the
  // page cache.
  Measure(display, bare);
  Measure(display, app);
  Summary appSummary, bareSummary;
  std::vector<Summary> sized(sizes.size());
  Summary emptyHistory, fullHistory;
  for (int r = 0; r < rounds; ++r) {
    // Alternating, so that a noisy moment on the machine hits all alike.
    if (auto s = Measure(display, bare)) bareSummary.Add(*s);
    if (auto s = Measure(display, app)) appSummary.Add(*s);
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      if (auto s = Measure(display, app, sizes[k])) sized[k].Add(*s);
    }
    if (history >= 0) {
      if (auto s = Measure(display, app, 0, 0)) emptyHistory.Add(*s);
      if (auto s = Measure(display, app, 0, history)) fullHistory.Add(*s);
    }
  }
  if (appSummary.paint.empty() || bareSummary.paint.empty()) {
    std::fprintf(stderr, "no complete measurement\n");
    return 1;
  }
  std::printf("start to first painted frame, ms; memory one second later, MiB (medians)\n");
  std::printf("%-24s %4s  %8s %8s %8s  %8s  %8s %8s  %8s\n", "program", "runs", "frame", "min",
              "max", "mapped", "VmRSS", "RssAnon", "exit");
  PrintRow(app.filename().c_str(), appSummary);
  PrintRow("bare Qt Widgets window", bareSummary);
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    if (sized[k].paint.empty()) continue;
    const std::string name = app.filename().string() + " " + std::to_string(sizes[k]) + " recv.";
    PrintRow(name.c_str(), sized[k]);
  }
  std::printf("pling / bare: first frame x%.2f, VmRSS x%.2f, RssAnon x%.2f\n",
              Median(appSummary.paint) / Median(bareSummary.paint),
              Median(appSummary.rss) / Median(bareSummary.rss),
              Median(appSummary.anon) / Median(bareSummary.anon));
  if (!emptyHistory.paint.empty() && !fullHistory.paint.empty()) {
    PrintRow("pling, empty history", emptyHistory);
    const std::string name = "pling, " + std::to_string(history) + " msgs";
    PrintRow(name.c_str(), fullHistory);
    std::printf("%d messages in the history / none: first frame x%.2f, VmRSS x%.2f, exit x%.2f\n",
                history, Median(fullHistory.paint) / Median(emptyHistory.paint),
                Median(fullHistory.rss) / Median(emptyHistory.rss),
                Median(fullHistory.exit) / Median(emptyHistory.exit));
  }
  for (std::size_t k = 1; k < sizes.size(); ++k) {
    if (sized[k].paint.empty() || sized[0].paint.empty()) continue;
    std::printf("%d receivers / %d receivers: first frame x%.2f, exit x%.2f\n", sizes[k], sizes[0],
                Median(sized[k].paint) / Median(sized[0].paint),
                Median(sized[k].exit) / Median(sized[0].exit));
  }
  return 0;
}
