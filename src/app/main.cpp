// The program: the application object, the main window, the message loop.
#include <QSessionManager>
#include <memory>

#include "app/PlingApplication.h"
#include "app/PlingFrmUnit.h"
#include "app/QtAdapters.h"
#include "app/QtMainThread.h"
#include "platform/main_thread.h"
#include "pling_resources.h"

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

  int status = 0;
  {
    app::TPlingFrm window;
    QObject::connect(&window, &app::TPlingFrm::Closed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    // SIGTERM, SIGINT and the end of the desktop session close the window the
    // ordinary way, so that its settings are saved.
    app::TSignalWatcher signalWatcher([&window](int) { window.close(); });
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.close(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &window,
                     [&window] { window.close(); });
    window.show();
    status = QApplication::exec();
    window.close();  // nothing if already closed
  }
  platform::SetMainThread(nullptr);
  mainThread->Shutdown();
  return status;
}
