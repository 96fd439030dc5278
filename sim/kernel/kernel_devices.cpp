// The device seam over the kernel stand-in.
#include "kernel_devices.h"

namespace sim {

platform::DeviceHandle KernelDevices::Open(const std::string& path) {
  Kernel::Handle handle = Kernel::kInvalidHandle;
  lastStatus_ = kernel_.Open(path, access_, &handle);
  return NT_SUCCESS(lastStatus_) ? static_cast<platform::DeviceHandle>(handle)
                                 : platform::kInvalidDeviceHandle;
}

bool KernelDevices::Control(platform::DeviceHandle handle, std::uint32_t code, const void* input,
                            std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                            std::uint32_t* bytesReturned) {
  ++requests_;
  const ControlResult result = kernel_.Control(static_cast<Kernel::Handle>(handle), code, input,
                                               inputSize, output, outputSize);
  lastStatus_ = result.status;
  if (bytesReturned != nullptr) *bytesReturned = static_cast<std::uint32_t>(result.information);
  return NT_SUCCESS(result.status);
}

void KernelDevices::Close(platform::DeviceHandle handle) {
  lastStatus_ = kernel_.Close(static_cast<Kernel::Handle>(handle));
}

}  // namespace sim
