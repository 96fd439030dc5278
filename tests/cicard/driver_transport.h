// The driver transport for whole updates: the module access layer with UseDriver opens
// "\\.\DOV_IDDev", and every register access travels as a control request through the kernel
// stand-in and the real driver code to the simulated module in the adapter's window.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Update.h"
#include "ci_module.h"
#include "cicard.h"
#include "kernel_devices.h"
#include "link_rig.h"
#include "sim_host.h"
#include "sim_port_space.h"
#include "virtual_clock.h"

namespace cicard_test {

// The driver transport with the adapter's window at `resources`; the module sits in the
// machine window at `windowStart` (port or memory).
class DriverTransport {
 public:
  DriverTransport(bool memoryWindow, std::uint64_t windowStart, const sim::ResourceSet& resources)
      : image(BuiltInImage()) {
    host = std::make_unique<sim::SimHost>(clock, [this] { link->TimeoutTick(); });
    module = std::make_unique<sim::CiModule>(
        clock,
        sim::ModuleImage::FromUpdate(image.InitData, image.InitDataLength, image.InitDataSize,
                                     image.MainData, image.MainDataLength, image.MainDataSize));
    if (memoryWindow)
      kernel.AddMemoryWindow(windowStart, 4, module.get());
    else
      kernel.AddPortWindow(static_cast<std::uint32_t>(windowStart), 4, module.get());
    EXPECT_EQ(kernel.LoadDriver(DriverEntry), STATUS_SUCCESS);
    adapter = kernel.PlugAdapter();
    startStatus = kernel.Start(adapter, resources);
    // The driver transport never touches ports itself.
    ports.DenyAccess(true);
    link = std::make_unique<ModuleLink>(LinkServices{clock, ports, devices, libraries, *host});
    link->UseDriver = true;
  }

  UpdateOutcome RunUpdate() {
    UpdateProcedure procedure(*link, view, *host, image);
    return procedure.Run();
  }

  std::vector<std::string> Finish() {
    link->ModuleClose();
    if (kernel.FunctionDevice(adapter) != nullptr) kernel.Remove(adapter);
    kernel.Shutdown();
    return kernel.Violations();
  }

  UpdateImage image;
  sim::VirtualClock clock;
  std::unique_ptr<sim::SimHost> host;
  std::unique_ptr<sim::CiModule> module;
  sim::Kernel kernel;
  sim::Kernel::AdapterId adapter = 0;
  NTSTATUS startStatus = STATUS_UNSUCCESSFUL;
  sim::KernelDevices devices{kernel};
  sim::SimPortSpace ports;
  test::NoLibraries libraries;
  test::RecordingView view;
  std::unique_ptr<ModuleLink> link;
};

}  // namespace cicard_test
