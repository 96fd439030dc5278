// Delivers a periodic tick from a polled loop, the way a window timer does: ticks keep their
// rhythm, and at most one is delivered per poll however long the loop was away (timer
// messages do not pile up).
#pragma once

#include <cstdint>
#include <functional>

#include "clock.h"

namespace platform {

class IntervalTicker {
 public:
  IntervalTicker(Clock& clock, std::uint32_t intervalMs, std::function<void()> onTick)
      : clock_(clock),
        interval_(intervalMs),
        onTick_(std::move(onTick)),
        last_(clock.TickCount()) {}

  // Fires the tick once when at least one interval has passed since the last one.
  void Poll() {
    const std::uint32_t elapsed = clock_.TickCount() - last_;
    if (elapsed >= interval_) {
      last_ += elapsed / interval_ * interval_;
      if (onTick_) onTick_();
    }
  }

  void Restart() { last_ = clock_.TickCount(); }

 private:
  Clock& clock_;
  std::uint32_t interval_;
  std::function<void()> onTick_;
  std::uint32_t last_;
};

}  // namespace platform
