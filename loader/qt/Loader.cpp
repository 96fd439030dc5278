// Program start of the window program: the application object, its title, the three windows
// in their order, and the message loop until the main window has closed.
//
// SIGTERM and SIGHUP ask the main window to close, as its close box does: the settings are
// written and the link closed. During an update the request waits until the update has ended
// (the close box is refused then; a module must not be left half programmed), and then the
// window closes.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "Main.h"
#include "clock.h"
#include "device_io.h"
#include "library_loader.h"
#include "pcmcia.h"
#include "port_io.h"
#include "program_start.h"
#include "qt_host.h"
#include "settings.h"

namespace {

int g_requestPipe[2] = {-1, -1};

void OnEndRequest(int) {
  const int saved = errno;
  const char request = 1;
  (void)!::write(g_requestPipe[1], &request, 1);
  errno = saved;
}

// Turns SIGTERM and SIGHUP into a close of the main window, once no update runs.
class EndRequests {
 public:
  explicit EndRequests(TMainLoaderForm& main) : main_(main) {
    if (::pipe2(g_requestPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(g_requestPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      char drained[16];
      while (::read(g_requestPipe[0], drained, sizeof drained) > 0) {
      }
      pending_ = true;
      CloseWhenIdle();
    });
    // The update pumps the message loop, so the request arrives during it; this looks again
    // once the update has returned.
    QObject::connect(&idleCheck_, &QTimer::timeout, [this] { CloseWhenIdle(); });
    idleCheck_.start(100);
    struct sigaction action {};
    action.sa_handler = OnEndRequest;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
  }

 private:
  void CloseWhenIdle() {
    if (!pending_ || main_.UpdateRunning()) return;
    pending_ = false;
    main_.close();
  }

  TMainLoaderForm& main_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer idleCheck_;
  bool pending_ = false;
};

}  // namespace

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
