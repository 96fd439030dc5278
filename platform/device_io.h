// A device opened by path and driven by synchronous control requests.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidDeviceHandle = -1;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // Opens an existing device for reading and writing, shared for reading and writing.
  // Returns kInvalidDeviceHandle on failure.
  virtual DeviceHandle Open(const std::string& path) = 0;
  // One synchronous control request. `bytesReturned` receives the byte count the request
  // reports. Returns true on success.
  virtual bool Control(DeviceHandle handle, std::uint32_t code, const void* input,
                       std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                       std::uint32_t* bytesReturned) = 0;
  virtual void Close(DeviceHandle handle) = 0;
};

DeviceIo& SystemDevices();

}  // namespace platform
