#include "virtual_clock.h"

namespace sim {

void VirtualClock::Sleep(std::uint32_t milliseconds) {
  nowUs_ += std::uint64_t{milliseconds} * 1000u;
  sleptMs_ += milliseconds;
  sleeps_.push_back(milliseconds);
}

}  // namespace sim
