// The ten exports. Each acts on the one device object and reports every outcome by its result;
// nothing is thrown across the C interface.
#include <cstdint>
#include <type_traits>

#include "adapter_protocol.h"
#include "cibridge_api.h"
#include "device_object.h"
#include "exports.h"

#if defined(_WIN32)
#define CIBRIDGE_EXPORT extern "C" __declspec(dllexport)
#else
#define CIBRIDGE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using cibridge::g_pDevice;

namespace {

constexpr std::uint32_t kPathBufferSize = 512;

// Runs `body` with the device object; `failure` when there is none or anything goes wrong.
template <typename Body>
std::int32_t Guarded(std::int32_t failure, Body body) noexcept {
  try {
    if (g_pDevice == nullptr) return failure;
    return body(*g_pDevice);
  } catch (...) {
    return failure;
  }
}

}  // namespace

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL SearchUSBAdapter(char* pathBuffer) {
  // The text is emptied first, so that no earlier path is taken for a found adapter, even
  // when there is no device object to search with.
  if (pathBuffer != nullptr) pathBuffer[0] = '\0';
  return Guarded(0, [&](cibridge::CUsbDevice& device) -> std::int32_t {
    if (pathBuffer == nullptr) return 0;
    std::uint32_t capacity = kPathBufferSize;
    const bool found =
        device.FindDevicePath(cibridge::GUID_DEVINTERFACE_CI_ADAPTER, pathBuffer, &capacity);
    return (found && pathBuffer[0] != '\0') ? 1 : 0;
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL USBAdapterOpen(const char* path) {
  return Guarded(0, [&](cibridge::CUsbDevice& device) -> std::int32_t {
    if (path == nullptr || path[0] == '\0') return 0;
    const std::int32_t setting = 1;
    return (device.Open(path, 1, &setting) && device.IsOpen()) ? 1 : 0;
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL USBAdapterClose(void) {
  return Guarded(0, [](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!device.Close()) return 0;
    return cibridge::WaitDeviceReleased();
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL USBAdapterCIReset(void) {
  return Guarded(0, [](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!cibridge::WaitDeviceReady()) return 0;
    return cibridge::ExchangeCiReset(device);
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL GetCIStatus(void) {
  return Guarded(-1, [](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!cibridge::WaitDeviceReady()) return -1;
    return cibridge::ExchangeStatus(device);
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL WriteCOR(int32_t address, int32_t value, int32_t ioBase) {
  return Guarded(0, [&](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!cibridge::WaitDeviceReady()) return 0;
    return cibridge::ExchangeWriteCor(device, address, value, ioBase);
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL NegociateCI(int32_t size, int32_t* answeredSize) {
  return Guarded(0, [&](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!cibridge::WaitDeviceReady()) return 0;
    return cibridge::ExchangeNegotiate(device, size, answeredSize);
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL SetTimeout(int32_t milliseconds) {
  return Guarded(0, [&](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!cibridge::WaitDeviceReady()) return 0;
    return device.ChangePipeTimeout(static_cast<std::uint32_t>(milliseconds)) ? 1 : 0;
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL WriteExchange(const uint8_t* payload, int32_t length,
                                                    uint8_t* answer, int32_t* answerLength) {
  return Guarded(0, [&](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!cibridge::WaitDeviceReady()) return 0;
    return cibridge::ExchangeMessage(device, payload, length, answer, answerLength);
  });
}

CIBRIDGE_EXPORT int32_t CIBRIDGE_CALL LoadFirmware(int32_t adapterIds) {
  return Guarded(0, [&](cibridge::CUsbDevice& device) -> std::int32_t {
    if (!cibridge::WaitDeviceReady()) return 0;
    return cibridge::DownloadAdapterProgram(device, adapterIds);
  });
}

// The exports keep exactly the signatures the updater binds them with.
static_assert(std::is_same_v<decltype(&SearchUSBAdapter), SearchUSBAdapterFn>);
static_assert(std::is_same_v<decltype(&USBAdapterOpen), USBAdapterOpenFn>);
static_assert(std::is_same_v<decltype(&USBAdapterClose), USBAdapterCloseFn>);
static_assert(std::is_same_v<decltype(&USBAdapterCIReset), USBAdapterCIResetFn>);
static_assert(std::is_same_v<decltype(&GetCIStatus), GetCIStatusFn>);
static_assert(std::is_same_v<decltype(&WriteCOR), WriteCORFn>);
static_assert(std::is_same_v<decltype(&NegociateCI), NegociateCIFn>);
static_assert(std::is_same_v<decltype(&SetTimeout), SetTimeoutFn>);
static_assert(std::is_same_v<decltype(&WriteExchange), WriteExchangeFn>);
static_assert(std::is_same_v<decltype(&LoadFirmware), LoadFirmwareFn>);
