#include "virtual_clock.h"

namespace sim {

void VirtualClock::Sleep(std::uint32_t milliseconds) {
  nowUs_ += std::uint64_t{milliseconds} * 1000u;
  sleptMs_ += milliseconds;
  ++sleepCount_;
}

}  // namespace sim
