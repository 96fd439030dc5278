// The application object of the window program: the Qt event loop and Qt's message boxes.
#pragma once

#include <QString>
#include <string>

#include "host.h"

class QtHost final : public platform::Host {
 public:
  // Processes every pending event (repaints, timer ticks, keys) and returns at once.
  void ProcessMessages() override;
  // A message box without owner window with an OK button; `systemModal` blocks the whole
  // application (the closest Qt has to a system-modal box).
  void ShowSystemMessage(const std::string& text, const std::string& title,
                         bool systemModal) override;
  // The adapter retry dialog: information icon, caption "Information", "OK" and "&Abbrechen".
  bool AskRetry(const std::string& text) override;
  void Beep() override;
};

// Message texts carry carriage return and line feed; Qt breaks lines at the line feed alone.
QString DisplayText(const std::string& text);
