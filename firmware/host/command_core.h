// The adapter program's command handling (firmware/core), compiled for the host and bound to a
// slot of the simulations: its millisecond tick is the clock's, its PCMCIA bus is a CiSlot and
// its replies go to a callback, which stands for the interrupt IN endpoint.
//
// The core keeps its state in one global record; each CommandCore keeps its own copy and puts
// it in place around every call, so several emulated adapters can live in one process.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "ci_host.h"
#include "ci_slot.h"
#include "clock.h"

namespace firmware {

class CommandCore {
 public:
  // Receives each reply frame the program sends.
  using ReplySink = std::function<void(std::vector<std::uint8_t> frame)>;

  CommandCore(platform::Clock& clock, CiSlot& slot, ReplySink replies);

  // The program starts: nothing configured, no answer kept.
  void Start();
  // One command frame as it arrived on the bulk OUT endpoint.
  void Command(const std::vector<std::uint8_t>& frame);
  // One pass of the program's main loop.
  void Poll();
  bool Busy();

 private:
  friend struct CoreBinding;
  platform::Clock& clock_;
  CiSlot& slot_;
  ReplySink replies_;
  ci_host_state state_{};
};

}  // namespace firmware
