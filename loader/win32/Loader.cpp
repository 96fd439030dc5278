// Program start of the Win32 window program: the application window (whose title the task bar
// shows), the three windows in their order, and the message loop until the main window has
// closed.
#include <windows.h>

#include "Main.h"
#include "Options.h"
#include "clock.h"
#include "device_io.h"
#include "library_loader.h"
#include "msgunit.h"
#include "pcmcia.h"
#include "port_io.h"
#include "settings.h"
#include "win32_host.h"

namespace {

constexpr const char* kApplicationTitle = "Morvane Public-Loader XP USB";

LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

// The application window: visible but of no size, unowned, so that it carries the task bar
// button with the application title while the main window, owned by it, has none.
HWND CreateApplicationWindow() {
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &ApplicationProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "TApplication";
  RegisterClassExA(&window_class);
  const HWND window =
      CreateWindowExA(0, "TApplication", kApplicationTitle, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                      0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const HWND application_window = CreateApplicationWindow();
  Win32Host host;
  ModuleLink link(LinkServices{platform::SystemClock(), platform::SystemPorts(),
                               platform::SystemDevices(), platform::SystemLibraries(), host});
  const std::unique_ptr<platform::PrivateProfile> settings = OpenSettingsFile();
  const UpdateImage image = BuiltInImage();

  int exit_code = 0;
  {
    TMainLoaderForm main_form(link, host, *settings, image, application_window);
    TOptForm options(host);
    TMessageForm messages;
    main_form.SetDialogs(&options, &messages);
    main_form.FormShow();
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchOne(message);
    exit_code = static_cast<int>(message.wParam);
    main_form.SetDialogs(nullptr, nullptr);
  }
  DestroyWindow(application_window);
  return exit_code;
}
