// Devices on Windows: a device path opened with CreateFileA, one synchronous DeviceIoControl per
// control request, CloseHandle. A device handle is the HANDLE itself; INVALID_HANDLE_VALUE is
// kInvalidDeviceHandle.
#include <windows.h>

#include "device_io.h"

namespace platform {
namespace {

HANDLE AsHandle(DeviceHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

class WindowsDevices final : public DeviceIo {
 public:
  DeviceHandle Open(const std::string& path) override {
    const HANDLE handle =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kInvalidDeviceHandle
                                          : reinterpret_cast<DeviceHandle>(handle);
  }
  bool Control(DeviceHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize,
               void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) override {
    if (handle == kInvalidDeviceHandle) return false;
    DWORD returned = 0;
    // The device is opened without FILE_FLAG_OVERLAPPED, so the call returns once the request
    // is complete.
    const BOOL ok = ::DeviceIoControl(AsHandle(handle), code, const_cast<void*>(input), inputSize,
                                      output, outputSize, &returned, nullptr);
    if (bytesReturned != nullptr) *bytesReturned = ok ? returned : 0;
    return ok != FALSE;
  }
  void Close(DeviceHandle handle) override {
    if (handle != kInvalidDeviceHandle) ::CloseHandle(AsHandle(handle));
  }
};

}  // namespace

DeviceIo& SystemDevices() {
  static WindowsDevices devices;
  return devices;
}

}  // namespace platform
