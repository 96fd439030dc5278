// The application object: what the module access layer and the update procedure need from
// the program that hosts them (its message loop and its modal boxes).
#pragma once

#include <string>

namespace platform {

class Host {
 public:
  virtual ~Host() = default;
  // Processes every pending window message and returns; nothing waits. This is also when the
  // main window's 100 ms timer gets to lower the time-out countdown.
  virtual void ProcessMessages() = 0;
  // The platform's message box without owner, with an OK button. `systemModal` asks for the
  // system-modal kind.
  virtual void ShowSystemMessage(const std::string& text, const std::string& title,
                                 bool systemModal) = 0;
  // The adapter retry dialog: information kind, caption "Information", buttons "OK" and
  // "&Abbrechen". True for OK; false for cancel or a closed dialog.
  virtual bool AskRetry(const std::string& text) = 0;
  // The system's default sound.
  virtual void Beep() = 0;
  // True once the program has been asked to end (a terminal's interrupt, a termination signal,
  // its console closing). The update asks before each message and stops there; a window
  // program, which ends by its close box, is never asked this way.
  virtual bool StopRequested() { return false; }
  // Told when the update sends the message that lets the module program itself (true) and when
  // the verdict has come (false): in between nothing may cut the update off.
  virtual void ModuleProgramming(bool /*underway*/) {}
};

}  // namespace platform
