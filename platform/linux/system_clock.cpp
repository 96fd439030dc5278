#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

#include "clock.h"

namespace platform {
namespace {

void SleepFor(long seconds, long nanoseconds) {
  timespec request{seconds, nanoseconds};
  timespec rest{};
  while (nanosleep(&request, &rest) != 0 && errno == EINTR) request = rest;
}

class LinuxClock final : public Clock {
 public:
  static constexpr unsigned long kNapSlackNs = 1000;

  std::uint32_t TickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
  }
  void Sleep(std::uint32_t milliseconds) override {
    SleepFor(static_cast<long>(milliseconds / 1000),
             static_cast<long>(milliseconds % 1000) * 1000000L);
  }
  void Nap(std::uint32_t microseconds) override {
    // A nap is meant to be short and precise: without this the kernel may let a 50 us nap run
    // 50 us longer (the default timer slack) to group wake-ups.
    thread_local const bool precise = prctl(PR_SET_TIMERSLACK, kNapSlackNs, 0, 0, 0) == 0;
    (void)precise;
    SleepFor(static_cast<long>(microseconds / 1000000),
             static_cast<long>(microseconds % 1000000) * 1000L);
  }
};

}  // namespace

Clock& SystemClock() {
  static LinuxClock clock;
  return clock;
}

}  // namespace platform
