// The device seam over the kernel stand-in: the application's CreateFileA, DeviceIoControl and
// CloseHandle reach the driver code hosted by sim::Kernel, as they reach the real driver
// through the I/O manager.
#pragma once

#include "device_io.h"
#include "kernel.h"

namespace sim {

class KernelDevices final : public platform::DeviceIo {
 public:
  explicit KernelDevices(Kernel& kernel, OpenAccess access = {})
      : kernel_(kernel), access_(access) {}

  platform::DeviceHandle Open(const std::string& path) override;
  bool Control(platform::DeviceHandle handle, std::uint32_t code, const void* input,
               std::uint32_t inputSize, void* output, std::uint32_t outputSize,
               std::uint32_t* bytesReturned) override;
  void Close(platform::DeviceHandle handle) override;

  // The status of the last open, request or close, as the platform's last error would tell.
  NTSTATUS LastStatus() const { return lastStatus_; }
  int Requests() const { return requests_; }

 private:
  Kernel& kernel_;
  OpenAccess access_;
  NTSTATUS lastStatus_ = STATUS_SUCCESS;
  int requests_ = 0;
};

}  // namespace sim
