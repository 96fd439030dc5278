// Time on Windows: the system tick count and Sleep.
#include <windows.h>

#include "clock.h"

namespace platform {
namespace {

class WindowsClock final : public Clock {
 public:
  std::uint32_t TickCount() override { return static_cast<std::uint32_t>(::GetTickCount()); }
  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
  // Sleep counts whole milliseconds and ends on the system timer's tick (commonly 15.6 ms), so
  // a nap of 0.05 ms or 0.5 ms as Sleep(1) would stretch every wait for the module by up to
  // that tick. A shorter nap therefore gives the rest of the time slice to any thread that is
  // ready on this processor (SwitchToThread) and comes back at once when none is; only naps of
  // a millisecond or more sleep.
  void Nap(std::uint32_t microseconds) override {
    if (microseconds >= 1000) {
      ::Sleep(microseconds / 1000);
    } else {
      ::SwitchToThread();
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static WindowsClock clock;
  return clock;
}

}  // namespace platform
