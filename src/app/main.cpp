// SPDX-License-Identifier: GPL-3.0-or-later
// The program: the application object, the main window, the message loop.
#include <QSessionManager>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "app/PlingApplication.h"
#include "app/PlingFrmUnit.h"
#include "app/QtMainThread.h"
#include "app/SingleInstance.h"
#include "app/StartupNotice.h"
#include "platform/VerInfo.h"
#include "pling_resources.h"
#include "qtbridge/QtFont.h"
#include "qtbridge/WarningBox.h"
#include "runtime/main_thread.h"
#include "settings/FormSize.h"

namespace {

constexpr const char* kUsage =
    "usage: pling [--help] [--version] [Qt options]\n"
    "\n"
    "Pling, a pop-up messenger for local networks: receives messages on the\n"
    "mailslot \"messngr\" while active and sends them to the selected receivers.\n"
    "One window per user session: started again, it brings that window to the\n"
    "front and ends.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the program's version and exit\n"
    "\n"
    "Qt's own options are taken too, such as -platform NAME, -display DISPLAY,\n"
    "-style STYLE, -reverse.\n";

// The options that Qt takes from the command line (QGuiApplication, QApplication
// and the X11 platform plugin), each with one or two dashes, and whether the next
// argument is its value.
struct TQtOption {
  const char* name;
  bool hasValue;
};
constexpr TQtOption kQtOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"geometry", true},
    {"qwindowtitle", true},
    {"title", true},
    {"qwindowicon", true},
    {"icon", true},
    {"session", true},
    {"style", true},
    {"stylesheet", true},
    {"display", true},
    {"name", true},
    {"visual", true},
    {"reverse", false},
    {"testability", false},
    {"widgetcount", false},
    {"nograb", false},
    {"dograb", false},
    {"sync", false},
    {"qdevel", false},
    {"qdebug", false},
};
// Options whose value follows an equals sign.
constexpr const char* kQtJoinedOptions[] = {"style=", "stylesheet=", "qmljsdebugger="};

// An argument as it may be shown on a terminal: control characters (C0, DEL and
// C1) and bytes that are not UTF-8 as \xHH, so that no argument can drive the
// terminal.
std::string ForTerminal(std::string_view text) {
  std::string out;
  const auto escape = [&out](unsigned char byte) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += hex;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80                    ? 1
                         : byte >= 0xC2 && byte <= 0xDF ? 2
                         : byte >= 0xE0 && byte <= 0xEF ? 3
                         : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                        : 0;
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        length = 0;
      }
    }
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (length == 0 || c1 || byte < 0x20 || byte == 0x7F) {
      escape(byte);
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "pling: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// --help and --version are answered, and every other argument checked, before
// the application object exists, so that none of this needs a display. An
// argument that neither Pling nor Qt takes is a usage error (status 2). -1 when
// the program is to run.
int AnswerOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      const std::string version = pling::platform::ProgramFileVersion();
      if (version.empty()) {
        std::fputs("pling: this program file holds no version information\n", stderr);
        return 1;
      }
      std::printf("Pling %s\n", version.c_str());
      return 0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-' || arg[1] == '\0')
      return UsageError("unexpected argument " + ForTerminal(arg));
    const char* name = arg[1] == '-' ? arg + 2 : arg + 1;
    bool known = false;
    for (const char* joined : kQtJoinedOptions) {
      if (std::strncmp(name, joined, std::strlen(joined)) == 0) known = true;
    }
    for (const TQtOption& option : kQtOptions) {
      if (known || std::strcmp(name, option.name) != 0) continue;
      known = true;
      if (option.hasValue && ++i >= argc) {
        return UsageError(ForTerminal(arg) + " needs a value");
      }
    }
    if (!known) return UsageError("unknown option " + ForTerminal(arg));
  }
  return -1;
}

// How long a second start waits for the first one's answer (it may be starting).
constexpr int kShowAnswerMs = 10000;

}  // namespace

int main(int argc, char** argv) {
  using namespace pling;
  if (const int answered = AnswerOptions(argc, argv); answered >= 0) return answered;
  // One window per user session: a second start brings the first one's window to
  // the front and ends, before it makes a window or touches the settings.
  app::TSingleInstance instance;
  std::string problem;
  switch (instance.Claim(problem)) {
    case app::TSingleInstance::TClaim::kFirst:
      if (!problem.empty()) std::fprintf(stderr, "pling: %s\n", problem.c_str());
      break;
    case app::TSingleInstance::TClaim::kRunning: {
      // The launcher waits for this start to end: the first one's window comes
      // forward with this start's activation token, and the busy cursor stops.
      const bool shown = instance.AskToShow(kShowAnswerMs, problem, app::TakeActivationToken());
      app::EndStartupNotification();
      if (shown) {
        std::puts("Pling is already running here: its window comes to the front.");
        return 0;
      }
      std::fprintf(stderr, "pling: Pling is already running here, but %s\n", problem.c_str());
      return 1;
    }
    case app::TSingleInstance::TClaim::kUnguarded:
      std::fprintf(stderr, "pling: cannot tell whether Pling already runs (%s)\n", problem.c_str());
      break;
  }
  // The launcher's activation token for this start's window, kept for it until it
  // stands on the screen.
  const std::string activationToken = app::TakeActivationToken();
  app::TPlingApplication application(argc, argv);
  initResources();
  QApplication::setApplicationName(QStringLiteral("Pling"));
  // The main window may sit hidden in the notification area while a dialog
  // closes: only the main window's closing ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  qtbridge::InstallFontSubstitutions();

  auto mainThread = std::make_shared<app::TQtMainThread>();
  runtime::SetMainThread(mainThread);
  app::InstallApplicationErrorHandler();
  settings::TFormSizer::SetDefaultWarningBox(qtbridge::ShowWarningBox);

  int status = 0;
  {
    // SIGTERM, SIGINT, SIGHUP and the end of the desktop session close the window the
    // ordinary way, so that its settings are saved. A signal that comes while
    // the window is being made closes it as soon as it stands.
    app::TPlingFrm* mainWindow = nullptr;
    bool closeAsked = false;
    app::TSignalWatcher signalWatcher([&](int) {
      if (mainWindow != nullptr) {
        mainWindow->close();
      } else {
        // The window is still being made, perhaps showing a message box about
        // a setting: the box goes, the window closes as soon as it stands.
        closeAsked = true;
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      }
    });
    app::TPlingFrm window;
    mainWindow = &window;
    QObject::connect(&window, &app::TPlingFrm::Closed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.close(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &window,
                     [&window] { window.close(); });
    window.show();
    // The user started the program to use it: the keyboard goes to its window
    // (a window manager may not focus on its own a window without a task-bar entry).
    app::ActivateShownWindow(window, activationToken);
    // Started again meanwhile: the window comes to the front, out of the
    // notification area too, with the later start's activation token.
    instance.Listen(
        [&window](const std::string& laterToken) { app::BringForward(window, laterToken); });
    if (closeAsked) window.close();
    status = QApplication::exec();
    window.close();  // nothing if already closed
    mainWindow = nullptr;
  }
  runtime::SetMainThread(nullptr);
  mainThread->Shutdown();
  return status;
}
