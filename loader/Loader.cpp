// Program start of the window program: the application object, its title, the three windows
// in their order, and the message loop until the main window has closed.
#include <QApplication>

#include "Datas.h"
#include "Main.h"
#include "Options.h"
#include "clock.h"
#include "device_io.h"
#include "form_look.h"
#include "library_loader.h"
#include "msgunit.h"
#include "pcmcia.h"
#include "port_io.h"
#include "qt_host.h"
#include "settings.h"

namespace {
constexpr const char* kApplicationTitle = "Morvane Public-Loader XP USB";
}

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // The application's name is what the task bar and the window manager show for the program.
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  InstallFontSubstitutes();

  QtHost host;
  ModuleLink link(LinkServices{platform::SystemClock(), platform::SystemPorts(),
                               platform::SystemDevices(), platform::SystemLibraries(), host});
  const std::unique_ptr<platform::PrivateProfile> settings = OpenSettingsFile();
  const UpdateImage image = BuiltInImage();

  TMainLoaderForm mainForm(link, host, *settings, image);
  MainLoaderForm = &mainForm;
  TOptForm optForm(host);
  OptForm = &optForm;
  TMessageForm messageForm;
  MessageForm = &messageForm;
  mainForm.SetDialogs(&optForm, &messageForm);

  mainForm.show();
  const int exitCode = application.exec();

  link.AnswerText.clear();
  MessageForm = nullptr;
  OptForm = nullptr;
  MainLoaderForm = nullptr;
  return exitCode;
}
