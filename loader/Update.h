// The update procedure behind "Start Update": open the link, send the preparation area and the
// main image, let the module program itself, and tell the verdict.
#pragma once

#include <cstdint>
#include <string>

#include "Datas.h"
#include "host.h"
#include "pcmcia.h"
#include "update_view.h"

// How a run ended, for callers that need more than the window shows (the terminal program's
// exit status).
enum class UpdateOutcome {
  kReady,           // the module programmed itself and answered "Ready"
  kNotOpened,       // ModuleOpen failed (any non-zero result)
  kCancelled,       // ModuleOpen returned 10: the user cancelled, nothing more shown
  kFailed,          // refused or failed after the link was open
  kAlreadyCurrent,  // the module already held this software ("OK   ")
  kStopped,         // the program was asked to end and stopped before the next message
};

// The message for a failed ModuleOpen (every result but 0 and 10).
std::string OpenResultMessage(int openResult);

class UpdateProcedure {
 public:
  UpdateProcedure(ModuleLink& link, UpdateView& view, platform::Host& application,
                  const UpdateImage& image);

  // One run, as Button1Click starts it. Returns when the run has ended.
  UpdateOutcome Run();
  int LastOpenResult() const { return openResult_; }

 private:
  bool PreparationPhase();
  bool TransferPhase();
  void FailureEnding(const std::string& message, const std::string& title = "Fehler");
  void IdleEnding();
  // True, after ending the run, when the program has been asked to end: called before each
  // message, so nothing is sent after the request.
  bool StopBeforeMessage();
  std::string PreparationMessage(std::uint16_t block, std::int32_t offset,
                                 std::uint8_t sequence) const;

  ModuleLink& link_;
  UpdateView& view_;
  platform::Host& application_;
  UpdateImage image_;
  bool running_ = false;
  int openResult_ = 0;
  UpdateOutcome failure_ = UpdateOutcome::kFailed;
};
