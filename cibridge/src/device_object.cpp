#include "device_object.h"

#include <memory>
#include <new>

namespace cibridge {

CUsbDevice* g_pDevice = nullptr;

namespace {

constexpr std::uint32_t kWaitStepMs = 500;
constexpr int kWaitSleeps = 5;

platform::Clock* g_clock = nullptr;
// A device object put in place by InstallDevice; the one made at load is never destroyed.
std::unique_ptr<CUsbDevice> g_installedDevice;

template <typename Condition>
std::int32_t WaitFor(Condition condition) {
  for (int sleeps = 0;; ++sleeps) {
    if (g_pDevice != nullptr && condition(*g_pDevice)) return 1;
    if (sleeps == kWaitSleeps) return 0;
    DeviceClock().Sleep(kWaitStepMs);
  }
}

}  // namespace

void CreateDeviceObject(std::unique_ptr<UsbBackend> usb, platform::Clock& clock) noexcept {
  if (g_pDevice != nullptr || !usb) return;
  try {
    // Both live until the process ends: nothing is torn down or closed at detach.
    g_pDevice = new CUsbDevice(*usb);
    g_clock = &clock;
    (void)usb.release();
  } catch (...) {
    g_pDevice = nullptr;
  }
}

void InstallDevice(UsbBackend& usb, platform::Clock& clock) {
  g_pDevice = nullptr;
  g_installedDevice = std::make_unique<CUsbDevice>(usb);
  g_clock = &clock;
  g_pDevice = g_installedDevice.get();
}

void InstallNoDevice() {
  g_pDevice = nullptr;
  g_installedDevice.reset();
}

platform::Clock& DeviceClock() {
  return g_clock != nullptr ? *g_clock : platform::SystemClock();
}

std::int32_t WaitDeviceReady() {
  return WaitFor([](const CUsbDevice& device) { return device.IsOpen(); });
}

std::int32_t WaitDeviceReleased() {
  return WaitFor([](const CUsbDevice& device) { return device.InterfaceHandle() == 0; });
}

}  // namespace cibridge
