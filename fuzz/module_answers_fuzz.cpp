// A whole update over the ports with a module that answers fuzzed bytes: any answer (of any
// length) at any message, silence, removal, delays and a final text. Whatever it answers, the
// run ends with at most one message, back at idle, with exactly one ModuleClose.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "link_rig.h"

namespace {

// Preparation blocks of 256 bytes (four messages each; a refused block moves on to the next)
// and three chunks: every branch of the procedure within the first 14 messages.
const test::TestImage& SmallImage() {
  static const test::TestImage image = test::TestImage::Generated(256, 8320 + 256, 300, 384);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  test::LinkRig rig(SmallImage().View());
  rig.link->SwapboxMode = input.ConsumeBool();
  while (input.remaining_bytes() > 0) {
    const int message = input.ConsumeIntegralInRange<int>(1, 14);
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        rig.module->AnswerAt(message, input.ConsumeBytes<std::uint8_t>(
                                          input.ConsumeIntegralInRange<std::size_t>(0, 600)));
        break;
      case 1:
        rig.module->SilenceAt(message);
        break;
      case 2:
        rig.module->RemoveAt(message);
        break;
      case 3:
        rig.module->DelayAt(message, input.ConsumeIntegralInRange<std::uint32_t>(0, 60'000'000));
        break;
      case 4:
        rig.module->SetFinalText(input.ConsumeBytesAsString(5));
        break;
      default:
        rig.module->SetBufferSize(input.ConsumeIntegral<std::uint16_t>());
        break;
    }
  }

  const UpdateOutcome outcome = rig.RunUpdate();
  const auto& view = rig.view;
  if (view.messages.size() > 1) std::abort();
  if (!view.buttonsEnabled) std::abort();
  if (rig.Closes() != 1) std::abort();
  if (outcome == UpdateOutcome::kReady) {
    if (!view.messages.empty() || view.lastGauge != 100) std::abort();
  } else {
    if (view.statusLines.back() != "" || view.lastGauge != 0) std::abort();
  }
  return 0;
}
