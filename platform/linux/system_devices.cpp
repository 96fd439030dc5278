// Devices on Linux: a Windows device path "\\.\NAME" names the node /dev/NAME, and a control
// request travels as one ioctl carrying the request's code and buffers. The register driver has
// no Linux counterpart, so its device never opens here and the driver transport reports the
// device missing.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string_view>

#include "device_io.h"

namespace platform {
namespace {

// What one control request hands to a device node.
struct ControlRequest {
  std::uint32_t code;
  std::uint32_t inputSize;
  std::uint32_t outputSize;
  std::uint32_t bytesReturned;
  const void* input;
  void* output;
};

constexpr unsigned long kControlRequest = _IOWR('M', 1, ControlRequest);

std::string NodePath(const std::string& path) {
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (std::string_view(path).substr(0, kDevicePrefix.size()) == kDevicePrefix)
    return "/dev/" + path.substr(kDevicePrefix.size());
  return path;
}

class LinuxDevices final : public DeviceIo {
 public:
  DeviceHandle Open(const std::string& path) override {
    const int fd = ::open(NodePath(path).c_str(), O_RDWR | O_CLOEXEC);
    return fd < 0 ? kInvalidDeviceHandle : static_cast<DeviceHandle>(fd);
  }
  bool Control(DeviceHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize,
               void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) override {
    if (handle == kInvalidDeviceHandle) return false;
    ControlRequest request{code, inputSize, outputSize, 0, input, output};
    const bool ok = ::ioctl(static_cast<int>(handle), kControlRequest, &request) == 0;
    if (bytesReturned != nullptr) *bytesReturned = ok ? request.bytesReturned : 0;
    return ok;
  }
  void Close(DeviceHandle handle) override {
    if (handle != kInvalidDeviceHandle) ::close(static_cast<int>(handle));
  }
};

}  // namespace

DeviceIo& SystemDevices() {
  static LinuxDevices devices;
  return devices;
}

}  // namespace platform
