// The library's one device object and the waits that give the adapter time after an open or a
// release.
//
// The shared library creates g_pDevice when it is loaded (CreateDeviceObject, over the back end
// that the variant's CreateUsbBackend() returns and the system clock; see load_entry.cpp). Tests
// link the core directly and put their own back end and clock in place with InstallDevice().
#pragma once

#include <cstdint>
#include <memory>

#include "clock.h"
#include "usb_device.h"

namespace cibridge {

// The device object every export acts on; null when it could not be created.
extern CUsbDevice* g_pDevice;

// The process-attach work: creates g_pDevice once over `usb`, which it keeps for the life of the
// process. Never throws; without a back end, or when the object cannot be made, g_pDevice stays
// null and every export returns its failure value.
void CreateDeviceObject(std::unique_ptr<UsbBackend> usb, platform::Clock& clock) noexcept;

// Replaces the device object by a new one over `usb`, waiting on `clock`. The caller keeps both
// alive while the device is installed.
void InstallDevice(UsbBackend& usb, platform::Clock& clock);
// Leaves the library without a device object, as when it could not be created at load.
void InstallNoDevice();

// The clock the waits sleep on.
platform::Clock& DeviceClock();

// 1 when the adapter is open, after up to five 500 ms sleeps; else 0.
std::int32_t WaitDeviceReady();
// 1 when the interface handle is 0, after up to five 500 ms sleeps; else 0.
std::int32_t WaitDeviceReleased();

}  // namespace cibridge
