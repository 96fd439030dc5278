// Virtual time: pauses return at once and move the clock on, so a 50 s time-out costs nothing
// yet runs exactly as in real time.
#pragma once

#include <cstdint>
#include <vector>

#include "clock.h"

namespace sim {

class VirtualClock final : public platform::Clock {
 public:
  explicit VirtualClock(std::uint32_t startMs = 0) : nowUs_(std::uint64_t{startMs} * 1000u) {}

  std::uint32_t TickCount() override { return static_cast<std::uint32_t>(nowUs_ / 1000u); }
  void Sleep(std::uint32_t milliseconds) override;
  void Nap(std::uint32_t microseconds) override { nowUs_ += microseconds; }

  void AdvanceUs(std::uint64_t microseconds) { nowUs_ += microseconds; }
  void AdvanceMs(std::uint64_t milliseconds) { nowUs_ += milliseconds * 1000u; }
  std::uint64_t NowUs() const { return nowUs_; }

  // Every blocking pause, for tests that check the product's fixed pauses.
  std::uint64_t SleptMs() const { return sleptMs_; }
  std::uint32_t SleepCount() const { return static_cast<std::uint32_t>(sleeps_.size()); }
  const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }

 private:
  std::uint64_t nowUs_;
  std::uint64_t sleptMs_ = 0;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace sim
