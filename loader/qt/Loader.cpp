// Program start of the window program: the application object, its title, the three windows
// in their order, and the message loop until the main window has closed. SIGTERM and SIGHUP
// close the main window as its close box does (end_requests.h).
#include <memory>

#include <QApplication>

#include "Main.h"
#include "clock.h"
#include "device_io.h"
#include "end_requests.h"
#include "library_loader.h"
#include "pcmcia.h"
#include "port_io.h"
#include "program_start.h"
#include "qt_host.h"
#include "settings.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  SetUpApplication();

  QtHost host;
  ModuleLink link(LinkServices{platform::SystemClock(), platform::SystemPorts(),
                               platform::SystemDevices(), platform::SystemLibraries(), host});
  const std::unique_ptr<platform::PrivateProfile> settings = OpenSettingsFile();
  const UpdateImage image = BuiltInImage();

  int exitCode = 0;
  {
    LoaderWindows windows(link, host, *settings, image);
    EndRequests endRequests(windows.Main());
    windows.Main().show();
    exitCode = application.exec();
  }
  link.AnswerText.clear();
  return exitCode;
}
