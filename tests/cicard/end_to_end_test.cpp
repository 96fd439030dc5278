// Whole updates through the driver transport: the update procedure and the module access layer
// open "\\.\DOV_IDDev", and every register access travels as a control request through the
// kernel stand-in and the real driver code to the simulated module in the adapter's window.
#include <gtest/gtest.h>

#include "driver_transport.h"
#include "scenario_print.h"

namespace {

using cicard_test::DriverTransport;
using cicard_test::PrintTo;
using sim::ResourceDescriptor;

struct WindowScenario {
  const char* name;
  bool memory;
  std::uint64_t start;
  sim::ResourceSet resources;
};

class WholeUpdateThroughTheDriver : public ::testing::TestWithParam<WindowScenario> {};

TEST_P(WholeUpdateThroughTheDriver, ReachesTheModuleIntactAndEndsInReady) {
  const WindowScenario& scenario = GetParam();
  DriverTransport transport(scenario.memory, scenario.start, scenario.resources);
  ASSERT_EQ(transport.startStatus, STATUS_SUCCESS);

  EXPECT_EQ(transport.RunUpdate(), UpdateOutcome::kReady);
  EXPECT_TRUE(transport.module->ReceivedImageIntact());
  EXPECT_TRUE(transport.module->Programmed());
  EXPECT_EQ(transport.module->NegotiatedSize(), 128);
  EXPECT_EQ(transport.view.statusLines.back(), "Ready");
  EXPECT_TRUE(transport.view.messages.empty());
  // One request per register access, and the handle closed at the end.
  EXPECT_GT(transport.devices.Requests(), 190000);
  EXPECT_EQ(transport.link->DriverHandle, platform::kInvalidDeviceHandle);
  for (const auto& violation : transport.Finish()) ADD_FAILURE() << "verifier: " << violation;
}

INSTANTIATE_TEST_SUITE_P(
    CicardWindows, WholeUpdateThroughTheDriver,
    ::testing::Values(
        WindowScenario{"PortWindow", false, 0x1F0, {{ResourceDescriptor::Port(0x1F0, 4)}}},
        WindowScenario{
            "MemoryWindow",
            true,
            0xD0000000,
            {{ResourceDescriptor::Interrupt(9), ResourceDescriptor::Memory(0xD0000000, 4)}}},
        WindowScenario{"PortTranslatedToMemory",
                       true,
                       0xFEC00000,
                       {{ResourceDescriptor::PortAsMemory(0x1F0, 0xFEC00000, 4)}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CicardTransportFailures, AnUnstartedDeviceIsTheMissingDriver) {
  DriverTransport transport(false, 0x1F0, {{ResourceDescriptor::Dma(1)}});
  ASSERT_EQ(transport.startStatus, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(transport.RunUpdate(), UpdateOutcome::kNotOpened);
  EXPECT_EQ(transport.link->ModuleOpen(transport.host.get(), false), kDriverMissing);
  EXPECT_EQ(transport.devices.LastStatus(), STATUS_DEVICE_NOT_READY);
  EXPECT_EQ(transport.module->MessageCount(), 0);
  for (const auto& violation : transport.Finish()) ADD_FAILURE() << "verifier: " << violation;
}

TEST(CicardTransportFailures, AnAdapterPulledMidUpdateEndsTheRunWithoutHarm) {
  DriverTransport transport(true, 0xD0000000, {{ResourceDescriptor::Memory(0xD0000000, 4)}});
  ASSERT_EQ(transport.startStatus, STATUS_SUCCESS);
  bool pulled = false;
  transport.host->SetPumpHook([&] {
    if (!pulled && transport.module->MessageCount() >= 200) {
      pulled = true;
      EXPECT_EQ(transport.kernel.SurpriseRemove(transport.adapter), STATUS_SUCCESS);
    }
  });
  EXPECT_EQ(transport.RunUpdate(), UpdateOutcome::kFailed);
  EXPECT_TRUE(pulled);
  EXPECT_FALSE(transport.module->Programmed());
  EXPECT_EQ(transport.devices.LastStatus(), STATUS_DEVICE_NOT_READY);
  EXPECT_FALSE(transport.view.messages.empty());
  // The handle is closed; the PnP manager then removes the device.
  EXPECT_EQ(transport.link->DriverHandle, platform::kInvalidDeviceHandle);
  for (const auto& violation : transport.Finish()) ADD_FAILURE() << "verifier: " << violation;
}

}  // namespace
