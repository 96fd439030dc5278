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
