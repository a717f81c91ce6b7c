// The program: the application object, the main window, the message loop.
#include <QSessionManager>
#include <memory>

#include "app/PlingApplication.h"
#include "app/PlingFrmUnit.h"
#include "app/QtAdapters.h"
#include "app/QtMainThread.h"
#include "platform/main_thread.h"
#include "pling_resources.h"
#include "settings/FormSize.h"
#include "widgets/FormSizerFilter.h"

int main(int argc, char** argv) {
  using namespace pling;
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
    // SIGTERM, SIGINT and the end of the desktop session close the window the
    // ordinary way, so that its settings are saved. A signal that comes while
    // the window is being made closes it as soon as it stands.
    app::TPlingFrm* mainWindow = nullptr;
    bool closeAsked = false;
    app::TSignalWatcher signalWatcher([&](int) {
      if (mainWindow != nullptr) {
        mainWindow->close();
      } else {
        closeAsked = true;
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
    if (closeAsked) window.close();
    status = QApplication::exec();
    window.close();  // nothing if already closed
    mainWindow = nullptr;
  }
  platform::SetMainThread(nullptr);
  mainThread->Shutdown();
  return status;
}
