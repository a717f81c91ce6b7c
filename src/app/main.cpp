// The program: the application object, the main window, the message loop.
#include <QSessionManager>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/PlingApplication.h"
#include "app/PlingFrmUnit.h"
#include "app/QtAdapters.h"
#include "app/QtMainThread.h"
#include "app/SingleInstance.h"
#include "platform/VerInfo.h"
#include "platform/main_thread.h"
#include "pling_resources.h"
#include "settings/FormSize.h"
#include "tray/TrayIcon.h"
#include "widgets/FormSizerFilter.h"

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
    "Other arguments go to Qt (such as -platform or -display).\n";

// --help and --version are answered before the application object exists, so
// that they need no display. -1 when the program is to run.
int AnswerInformationOption(int argc, char** argv) {
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
  return -1;
}

// How long a second start waits for the first one's answer (it may be starting).
constexpr int kShowAnswerMs = 10000;

}  // namespace

int main(int argc, char** argv) {
  using namespace pling;
  if (const int answered = AnswerInformationOption(argc, argv); answered >= 0) return answered;
  // One window per user session: a second start brings the first one's window to
  // the front and ends, before it makes a window or touches the settings.
  app::TSingleInstance instance;
  std::string problem;
  switch (instance.Claim(problem)) {
    case app::TSingleInstance::TClaim::kFirst:
      if (!problem.empty()) std::fprintf(stderr, "pling: %s\n", problem.c_str());
      break;
    case app::TSingleInstance::TClaim::kRunning:
      if (instance.AskToShow(kShowAnswerMs, problem)) {
        std::puts("Pling is already running here: its window comes to the front.");
        return 0;
      }
      std::fprintf(stderr, "pling: Pling is already running here, but %s\n", problem.c_str());
      return 1;
    case app::TSingleInstance::TClaim::kUnguarded:
      std::fprintf(stderr, "pling: cannot tell whether Pling already runs (%s)\n", problem.c_str());
      break;
  }
  app::TPlingApplication application(argc, argv);
  initResources();
  QApplication::setApplicationName(QStringLiteral("Pling"));
  // The main window may sit hidden in the notification area while a dialog
  // closes: only the main window's closing ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  app::InstallFontSubstitutions();

  auto mainThread = std::make_shared<app::TQtMainThread>();
  platform::SetMainThread(mainThread);
  app::InstallApplicationErrorHandler();
  settings::TFormSizer::SetDefaultWarningBox(widgets::ShowWarningBox);

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
    // Started again meanwhile: the window comes to the front, out of the
    // notification area too.
    instance.Listen([&window] { tray::RestoreWindow(window); });
    if (closeAsked) window.close();
    status = QApplication::exec();
    window.close();  // nothing if already closed
    mainWindow = nullptr;
  }
  platform::SetMainThread(nullptr);
  mainThread->Shutdown();
  return status;
}
