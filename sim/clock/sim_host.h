// A host on virtual time: every message pump moves the clock on by a small step and delivers
// the 100 ms timer tick, so waits and time-outs behave as in real time while tests finish in
// seconds. Message boxes and the retry dialog are recorded and answered from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "host.h"
#include "interval_ticker.h"
#include "virtual_clock.h"

namespace sim {

struct ShownMessage {
  std::string text;
  std::string title;
  bool systemModal = false;
};

class SimHost final : public platform::Host {
 public:
  // `onTimer` runs every 100 ms of virtual time, as the main window's timer does.
  SimHost(VirtualClock& clock, std::function<void()> onTimer, std::uint32_t pumpStepUs = 1000);

  void ProcessMessages() override;
  void ShowSystemMessage(const std::string& text, const std::string& title,
                         bool systemModal) override;
  bool AskRetry(const std::string& text) override;
  void Beep() override { ++beeps_; }

  // Answers for the next retry dialogs, in order; once used up every dialog is cancelled.
  void QueueRetryAnswers(std::vector<bool> answers);
  // Runs during each pump, after the clock step: lets a test act "from the message loop".
  void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }

  const std::vector<ShownMessage>& Messages() const { return messages_; }
  const std::vector<std::string>& RetryDialogs() const { return retryDialogs_; }
  std::uint64_t Pumps() const { return pumps_; }
  std::uint32_t Beeps() const { return beeps_; }

 private:
  VirtualClock& clock_;
  platform::IntervalTicker timer_;
  std::uint32_t pumpStepUs_;
  std::function<void()> pumpHook_;
  std::deque<bool> retryAnswers_;
  std::vector<ShownMessage> messages_;
  std::vector<std::string> retryDialogs_;
  std::uint64_t pumps_ = 0;
  std::uint32_t beeps_ = 0;
};

}  // namespace sim
