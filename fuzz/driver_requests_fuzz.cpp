// Control requests into the register driver through the kernel stand-in: any control code
// (the driver's own six with any method and access, or any other), any input and output
// lengths and contents, on a port or a memory window, from handles opened with any access.
// The driver must never write past the caller's output buffer, and the stand-in's verifier
// must find nothing when the adapter is removed and the kernel shut down.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "cicard.h"
#include "kernel.h"

namespace {

constexpr ULONG kDriverCodes[] = {IOCTL_CI_READ_UCHAR,   IOCTL_CI_READ_USHORT,
                                  IOCTL_CI_READ_ULONG,   IOCTL_CI_WRITE_UCHAR,
                                  IOCTL_CI_WRITE_USHORT, IOCTL_CI_WRITE_ULONG};

ULONG Code(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      return input.PickValueInArray(kDriverCodes);
    case 1:  // one of the driver's functions with another method or access
      return CTL_CODE(CI_DEVICE_TYPE, input.ConsumeIntegralInRange<ULONG>(0x8FE, 0x914),
                      input.ConsumeIntegralInRange<ULONG>(0, 3),
                      input.ConsumeIntegralInRange<ULONG>(0, 3));
    default:
      return input.ConsumeIntegral<ULONG>();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  sim::Kernel kernel;
  const bool memory = input.ConsumeBool();
  const ULONG length = input.ConsumeIntegralInRange<ULONG>(1, 16);
  if (memory)
    kernel.AddMemoryWindow(0xD0000000, length);
  else
    kernel.AddPortWindow(0x300, length);
  if (kernel.LoadDriver(DriverEntry) != STATUS_SUCCESS) std::abort();
  const auto adapter = kernel.PlugAdapter();
  const sim::ResourceSet resources = {{memory ? sim::ResourceDescriptor::Memory(0xD0000000, length)
                                              : sim::ResourceDescriptor::Port(0x300, length)}};
  if (kernel.Start(adapter, resources) == STATUS_SUCCESS) {
    sim::OpenAccess access;
    access.read = input.ConsumeBool();
    access.write = input.ConsumeBool();
    access.administrator = input.ConsumeBool();
    sim::Kernel::Handle handle = sim::Kernel::kInvalidHandle;
    if (NT_SUCCESS(kernel.Open("\\\\.\\DOV_IDDev", access, &handle))) {
      for (int requests = 0; requests < 16 && input.remaining_bytes() > 0; ++requests) {
        const ULONG code = Code(input);
        // Lengths of 0 come with null buffers, as an application passes them.
        const auto request =
            input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 24));
        const auto outputLength = input.ConsumeIntegralInRange<ULONG>(0, 24);
        std::vector<std::uint8_t> output(outputLength + 8, 0xEE);
        const auto result =
            kernel.Control(handle, code, request.empty() ? nullptr : request.data(),
                           static_cast<ULONG>(request.size()),
                           outputLength == 0 ? nullptr : output.data(), outputLength);
        for (std::size_t i = outputLength; i < output.size(); ++i)
          if (output[i] != 0xEE) std::abort();
        // A write reports its width even without an output buffer; with one, never more than
        // the buffer holds, since the I/O manager copies that many bytes back.
        if (NT_SUCCESS(result.status) && outputLength != 0 && result.information > outputLength)
          std::abort();
      }
      kernel.Close(handle);
    }
  }
  if (kernel.FunctionDevice(adapter) != nullptr) kernel.Remove(adapter);
  kernel.Shutdown();
  if (!kernel.Violations().empty()) std::abort();
  return 0;
}
