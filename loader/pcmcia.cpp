// Opening and closing the link to the module: the transport is chosen here, the module is
// found, and its command interface is brought up.
#include "pcmcia.h"

#include "platform_names.h"

namespace {
constexpr std::uint16_t kFirstProbeBase = 0x300;
constexpr std::uint16_t kLastProbeBase = 0x380;
constexpr std::uint16_t kProbeStride = 0x20;
constexpr std::int32_t kOpenLibraryTimeout = 60000;
constexpr std::uint32_t kNegotiationPauseMs = 300;
constexpr std::int32_t kBufferSize = 128;
}  // namespace

void ModuleLink::PumpMessages() {
  if (Application != nullptr) Application->ProcessMessages();
}

void ModuleLink::TimeoutTick() {
  if (TimeoutCountdown > 100)
    TimeoutCountdown -= 100;
  else if (TimeoutCountdown > 0)
    TimeoutCountdown = 0;
}

int ModuleLink::ModuleOpen(platform::Host* application, bool tryUsb) {
  LibraryTimeout = kOpenLibraryTimeout;
  Application = application;
  PumpMessages();
  int pending = kLinkOpen;  // none

  if (tryUsb && BindAdapterLibrary()) {
    switch (UsbBringUp()) {
      case BringUp::kReady:
      case BringUp::kFallThrough:
        break;
      case BringUp::kPendingFailure:
        pending = kUsbModuleNotReady;
        break;
      case BringUp::kFirmwareRefused:
        return kUsbModuleNotReady;
      case BringUp::kCancelled:
        return kCancelled;
    }
  }

  const auto fail = [&](int result) {
    ModuleClose();
    return pending != kLinkOpen ? pending : result;
  };

  try {
    if (UseDriver || AdapterBound) {
      IOBase = 0;
      if (!OpenDriverDevice()) return fail(kDriverMissing);
      const bool linked = AdapterBound ? NegotiateOverLibrary() : CiLinkInit();
      return linked ? kLinkOpen : fail(kNoModule);
    }
    return ProbePortBases() ? kLinkOpen : fail(kNoModule);
  } catch (...) {
    return fail(kTransportException);
  }
}

bool ModuleLink::NegotiateOverLibrary() {
  services_.clock.Sleep(kNegotiationPauseMs);
  std::int32_t answeredSize = 0;
  const std::int32_t result = CallAdapter(Adapter.NegociateCI, kBufferSize, &answeredSize);
  return (result & 0xFFFF) != 0;
}

bool ModuleLink::ProbePortBases() {
  IOBase = AutoProbe ? kFirstProbeBase : IOBaseSetting;
  for (;;) {
    bool occupied = false;
    for (std::uint16_t offset = 0; offset < 4 && !occupied; ++offset)
      occupied = ReadCiRegister(static_cast<std::uint16_t>(IOBase + offset)) != 0xFF;
    // A CI adapter reads its size-high register with the three low bits clear.
    if (occupied && (ReadCiRegister(static_cast<std::uint16_t>(IOBase + 3)) & 0x07) == 0 &&
        CiLinkInit())
      return true;
    IOBase = static_cast<std::uint16_t>(IOBase + kProbeStride);
    if (!AutoProbe || IOBase > kLastProbeBase) return false;
  }
}

void ModuleLink::ModuleClose() {
  ReleaseAdapterLibrary();
  if (UseDriver) {
    if (DriverHandle != platform::kInvalidDeviceHandle) services_.devices.Close(DriverHandle);
    DriverHandle = platform::kInvalidDeviceHandle;
  }
}
