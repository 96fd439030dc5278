// Time as the product sees it: a millisecond tick count and blocking pauses.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps at 2^32 like the system tick count.
  virtual std::uint32_t TickCount() = 0;
  // Blocks the calling thread for `milliseconds` without processing any messages.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Gives the processor away for about `microseconds` while a loop polls hardware, so that a
  // long wait does not hold a whole core.
  virtual void Nap(std::uint32_t microseconds) = 0;
};

// The machine's own clock.
Clock& SystemClock();

}  // namespace platform
