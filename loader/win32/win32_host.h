// The application object of the Win32 window program: the message loop's pumping, the
// system's message boxes and the default sound.
#pragma once

#include <windows.h>

#include "host.h"

class Win32Host final : public platform::Host {
 public:
  // Processes every pending message (repaints, timer ticks, keys) and returns at once. A quit
  // request is kept for the program's own loop.
  void ProcessMessages() override;
  // MessageBoxA without owner window, with an OK button; system-modal when asked.
  void ShowSystemMessage(const std::string& text, const std::string& title,
                         bool systemModal) override;
  // The adapter retry dialog: MessageBoxA with the information icon, caption "Information",
  // OK and cancel (the system names the cancel button in its own language).
  bool AskRetry(const std::string& text) override;
  void Beep() override;
};
