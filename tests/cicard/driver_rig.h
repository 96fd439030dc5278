// The register driver loaded into the kernel stand-in, with an adapter on the bus and helpers
// for the requests the tests send. Every test ends by removing what it left and checking that
// the stand-in's verifier saw nothing wrong.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cicard.h"
#include "kernel.h"

namespace cicard_test {

inline constexpr const char* kDevicePath = "\\\\.\\DOV_IDDev";
inline constexpr const wchar_t* kLinkName = L"\\DosDevices\\DOV_IDDev";
inline constexpr const wchar_t* kDeviceName = L"\\Device\\DOV_ID0";

inline sim::ResourceSet PortWindow(std::uint32_t base, ULONG length) {
  return {{sim::ResourceDescriptor::Port(base, length)}};
}

class DriverRig {
 public:
  DriverRig() {
    EXPECT_EQ(kernel.LoadDriver(DriverEntry), STATUS_SUCCESS);
    adapter = kernel.PlugAdapter();
  }

  PCI_DEVICE_EXTENSION Extension() {
    PDEVICE_OBJECT device = kernel.FunctionDevice(adapter);
    return device == nullptr ? nullptr : static_cast<PCI_DEVICE_EXTENSION>(device->DeviceExtension);
  }

  NTSTATUS Open(sim::Kernel::Handle* handle, sim::OpenAccess access = {},
                const std::string& path = kDevicePath) {
    const NTSTATUS status = kernel.Open(path, access, handle);
    if (NT_SUCCESS(status)) handles.push_back(*handle);
    return status;
  }
  sim::Kernel::Handle OpenOrFail() {
    sim::Kernel::Handle handle = sim::Kernel::kInvalidHandle;
    EXPECT_EQ(Open(&handle), STATUS_SUCCESS);
    return handle;
  }
  void Close(sim::Kernel::Handle handle) {
    kernel.Close(handle);
    std::erase(handles, handle);
  }

  // A read request as the application builds it: the offset, a 4-byte output buffer.
  sim::ControlResult Read(sim::Kernel::Handle handle, ULONG code, ULONG offset,
                          std::uint32_t* value = nullptr) {
    std::uint8_t output[4] = {};
    const auto result = kernel.Control(handle, code, &offset, sizeof offset, output, sizeof output);
    if (value != nullptr) std::memcpy(value, output, sizeof *value);
    return result;
  }
  // A write request: the offset, the value, padding to 8 bytes; no output buffer.
  sim::ControlResult Write(sim::Kernel::Handle handle, ULONG code, ULONG offset, ULONG value) {
    std::uint8_t input[8];
    std::memcpy(input, &offset, 4);
    std::memcpy(input + 4, &value, 4);
    return kernel.Control(handle, code, input, sizeof input, nullptr, 0);
  }

  // Closes what is open, removes the adapter if its device still exists, and collects the
  // verifier's findings.
  std::vector<std::string> Finish() {
    for (auto handle : std::vector<sim::Kernel::Handle>(handles)) Close(handle);
    for (int id = 0; id <= lastAdapter; ++id)
      if (kernel.FunctionDevice(id) != nullptr) kernel.Remove(id);
    kernel.Shutdown();
    return kernel.Violations();
  }

  sim::Kernel::AdapterId PlugAnother() { return lastAdapter = kernel.PlugAdapter(); }

  sim::Kernel kernel;
  sim::Kernel::AdapterId adapter = 0;
  int lastAdapter = 0;
  std::vector<sim::Kernel::Handle> handles;
};

// A fixture that owns a rig and checks the verifier at the end of every test.
class CicardDriver : public ::testing::Test {
 protected:
  void TearDown() override {
    const auto violations = rig.Finish();
    for (const auto& violation : violations) ADD_FAILURE() << "verifier: " << violation;
  }
  DriverRig rig;
};

}  // namespace cicard_test
