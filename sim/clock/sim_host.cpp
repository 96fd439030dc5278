#include "sim_host.h"

namespace sim {

SimHost::SimHost(VirtualClock& clock, std::function<void()> onTimer, std::uint32_t pumpStepUs)
    : clock_(clock), timer_(clock, 100, std::move(onTimer)), pumpStepUs_(pumpStepUs) {}

void SimHost::ProcessMessages() {
  ++pumps_;
  clock_.AdvanceUs(pumpStepUs_);
  timer_.Poll();
  if (pumpHook_) pumpHook_();
}

void SimHost::ShowSystemMessage(const std::string& text, const std::string& title,
                                bool systemModal) {
  messages_.push_back({text, title, systemModal});
}

bool SimHost::AskRetry(const std::string& text) {
  retryDialogs_.push_back(text);
  if (retryAnswers_.empty()) return false;
  const bool answer = retryAnswers_.front();
  retryAnswers_.pop_front();
  return answer;
}

void SimHost::QueueRetryAnswers(std::vector<bool> answers) {
  retryAnswers_.insert(retryAnswers_.end(), answers.begin(), answers.end());
}

}  // namespace sim
