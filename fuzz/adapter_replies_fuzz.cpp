// The adapter library's exports over a scripted USB seam whose replies come from the input:
// any packets (or none, or failed and short writes) after each command, stray packets queued,
// and any arguments. Nothing may read or write outside the caller's buffers, and every
// result stays within what the export documents.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "device_object.h"
#include "exports.h"
#include "scripted_usb.h"
#include "virtual_clock.h"

namespace {

constexpr const char* kAdapterPath =
    "\\\\?\\usb#vid_1b0d&pid_5f10#1-4#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}";

sim::Bytes Packet(FuzzedDataProvider& input) {
  return input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 70));
}

void Script(FuzzedDataProvider& input, sim::ScriptedUsb& usb) {
  for (int commands = input.ConsumeIntegralInRange<int>(0, 3); commands > 0; --commands) {
    sim::CommandResponse response;
    response.writeFails = input.ConsumeIntegralInRange<int>(0, 15) == 0;
    if (input.ConsumeIntegralInRange<int>(0, 15) == 0)
      response.written = input.ConsumeIntegralInRange<std::uint32_t>(0, 80);
    for (int packets = input.ConsumeIntegralInRange<int>(0, 3); packets > 0; --packets)
      response.replies.push_back(Packet(input));
    usb.Respond(std::move(response));
  }
  if (input.ConsumeIntegralInRange<int>(0, 7) == 0) usb.QueueIn(Packet(input));
}

void Call(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 8)) {
    case 0: {
      const auto length = input.ConsumeIntegralInRange<std::int32_t>(-2, 300);
      const auto capacity = input.ConsumeIntegralInRange<std::int32_t>(-1, 300);
      std::vector<std::uint8_t> payload(length > 0 ? static_cast<std::size_t>(length) : 0);
      for (auto& byte : payload) byte = input.ConsumeIntegral<std::uint8_t>();
      std::vector<std::uint8_t> answer(capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
      std::int32_t answerLength = capacity;
      const std::int32_t result =
          WriteExchange(payload.empty() ? nullptr : payload.data(), length,
                        answer.empty() ? nullptr : answer.data(), &answerLength);
      if (result == 1 && (answerLength < 0 || answerLength > capacity)) std::abort();
      break;
    }
    case 1: {
      std::int32_t answered = -7;
      const std::int32_t result = NegociateCI(input.ConsumeIntegral<std::int32_t>(), &answered);
      if (result != 0 && result != 1) std::abort();
      break;
    }
    case 2:
      (void)GetCIStatus();
      break;
    case 3:
      (void)USBAdapterCIReset();
      break;
    case 4:
      (void)WriteCOR(input.ConsumeIntegral<std::int32_t>(), input.ConsumeIntegral<std::int32_t>(),
                     input.ConsumeIntegral<std::int32_t>());
      break;
    case 5:
      (void)SetTimeout(input.ConsumeIntegral<std::int32_t>());
      break;
    case 6:
      (void)LoadFirmware(input.ConsumeIntegral<std::int32_t>());
      break;
    case 7: {
      char path[512];
      (void)SearchUSBAdapter(path);
      break;
    }
    default:
      (void)USBAdapterClose();
      (void)USBAdapterOpen(kAdapterPath);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  sim::VirtualClock clock;
  sim::ScriptedUsb usb{&clock};
  usb.UseAdapterSettings();
  usb.AddDevice(kAdapterPath);
  cibridge::InstallDevice(usb, clock);
  if (USBAdapterOpen(kAdapterPath) == 1) {
    for (int calls = 0; calls < 12 && input.remaining_bytes() > 0; ++calls) {
      Script(input, usb);
      Call(input);
    }
    (void)USBAdapterClose();
  }
  cibridge::InstallNoDevice();
  return 0;
}
