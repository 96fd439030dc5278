#include "win32_host.h"

#include "gdi_canvas.h"
#include "win32_form.h"

void Win32Host::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    DispatchOne(message);
  }
}

void Win32Host::ShowSystemMessage(const std::string& text, const std::string& title,
                                  bool systemModal) {
  MessageBoxA(nullptr, AnsiText(text).c_str(), AnsiText(title).c_str(),
              MB_OK | (systemModal ? MB_SYSTEMMODAL : MB_TASKMODAL));
}

bool Win32Host::AskRetry(const std::string& text) {
  return MessageBoxA(nullptr, AnsiText(text).c_str(), "Information",
                     MB_OKCANCEL | MB_ICONINFORMATION | MB_TASKMODAL) == IDOK;
}

void Win32Host::Beep() {
  MessageBeep(MB_OK);
}
