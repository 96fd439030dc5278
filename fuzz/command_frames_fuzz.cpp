// Command frames into the adapter program's core (firmware/core through firmware/host), with
// the simulated module in its slot: any bytes as frames, any order, the main loop run between
// them. Every reply the program sends is a well-formed frame.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "core_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  firmware_test::CoreRig rig;
  if (input.ConsumeBool()) rig.BringUpAndNegotiate();
  for (int frames = 0; frames < 8 && input.remaining_bytes() > 0; ++frames) {
    firmware_test::Bytes frame;
    if (input.ConsumeBool()) {
      // A frame with a well-formed header around fuzzed payload, to get past the header checks.
      const auto code = input.ConsumeIntegral<std::uint8_t>();
      frame = firmware_test::Frame(
          code, input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 60)));
    } else {
      frame = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 80));
    }
    for (const auto& reply : rig.Run(frame, 3000))
      if (reply.size() < 4 || reply.size() != 4u + reply[3]) std::abort();
  }
  return 0;
}
