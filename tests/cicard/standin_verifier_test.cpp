// The kernel stand-in's verifier, shown faulty drivers: each scenario is a small driver whose
// device-control routine makes one classic mistake, and the verifier must name it. A verifier
// that stays silent here would let the same mistake in the register driver pass unseen.
#include <gtest/gtest.h>

#include <string>

#include "kernel.h"
#include "scenario_print.h"

namespace {

using cicard_test::PrintTo;

// The faulty behaviour of the current scenario, run for each device-control request.
NTSTATUS (*g_control)(PDEVICE_OBJECT, PIRP) = nullptr;
IO_REMOVE_LOCK* g_lock = nullptr;
// Removal drains the remove lock, except where a scenario keeps it held (the wait would only
// end at the stand-in's patience).
bool g_waitOnRemoval = true;

NTSTATUS NTAPI Complete(PDEVICE_OBJECT, PIRP irp) {
  const NTSTATUS status = irp->IoStatus.Status = STATUS_SUCCESS;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI PassDown(PDEVICE_OBJECT device, PIRP irp) {
  auto lower = *static_cast<PDEVICE_OBJECT*>(device->DeviceExtension);
  if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE) {
    if (g_waitOnRemoval) {
      IoAcquireRemoveLockEx(g_lock, irp, "faulty", 1, sizeof(IO_REMOVE_LOCK));
      IoReleaseRemoveLockAndWaitEx(g_lock, irp, sizeof(IO_REMOVE_LOCK));
    }
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IofCallDriver(lower, irp);
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, L"\\DosDevices\\Faulty");
    IoDeleteSymbolicLink(&link);
    IoDetachDevice(lower);
    IoDeleteDevice(device);
    return status;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IofCallDriver(lower, irp);
}

NTSTATUS NTAPI Control(PDEVICE_OBJECT device, PIRP irp) {
  return g_control(device, irp);
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Device\\Faulty0");
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(PDEVICE_OBJECT) + sizeof(IO_REMOVE_LOCK), &name,
                                   0x22, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, L"\\DosDevices\\Faulty");
  IoCreateSymbolicLink(&link, &name);
  auto* lower = static_cast<PDEVICE_OBJECT*>(device->DeviceExtension);
  *lower = IoAttachDeviceToDeviceStack(device, pdo);
  g_lock = reinterpret_cast<IO_REMOVE_LOCK*>(lower + 1);
  IoInitializeRemoveLockEx(g_lock, 0x54534554, 1, 5, sizeof(IO_REMOVE_LOCK));
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI Entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->MajorFunction[IRP_MJ_CREATE] = Complete;
  driver->MajorFunction[IRP_MJ_CLOSE] = Complete;
  driver->MajorFunction[IRP_MJ_CLEANUP] = Complete;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Control;
  driver->MajorFunction[IRP_MJ_PNP] = PassDown;
  driver->DriverExtension->AddDevice = AddDevice;
  return STATUS_SUCCESS;
}

// --- The mistakes ------------------------------------------------------------------------------

NTSTATUS CompletesTwice(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}
NTSTATUS CompletesWithPending(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_PENDING;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_PENDING;
}
NTSTATUS ReturnsPendingUnmarked(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_PENDING;
}
NTSTATUS MarksPendingButAnswers(PDEVICE_OBJECT, PIRP irp) {
  IoMarkIrpPending(irp);
  return Complete(nullptr, irp);
}
NTSTATUS ReturnsAnotherStatus(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_UNSUCCESSFUL;
}
NTSTATUS NeverCompletes(PDEVICE_OBJECT, PIRP) {
  return STATUS_SUCCESS;
}
NTSTATUS ReportsTooManyBytes(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Information = 8;
  return Complete(nullptr, irp);
}
NTSTATUS LeaksPoolBytes(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Information = 8;  // the output buffer holds 8, the input only 4
  return Complete(nullptr, irp);
}
NTSTATUS KeepsAMapping(PDEVICE_OBJECT, PIRP irp) {
  PHYSICAL_ADDRESS physical;
  physical.QuadPart = 0xD0000000;
  MmMapIoSpace(physical, 4, MmNonCached);
  return Complete(nullptr, irp);
}
NTSTATUS ReadsAfterUnmapping(PDEVICE_OBJECT, PIRP irp) {
  PHYSICAL_ADDRESS physical;
  physical.QuadPart = 0xD0000000;
  auto* address = static_cast<PUCHAR>(MmMapIoSpace(physical, 4, MmNonCached));
  MmUnmapIoSpace(address, 4);
  READ_REGISTER_UCHAR(address);
  return Complete(nullptr, irp);
}
NTSTATUS ReadsAPortNotAssigned(PDEVICE_OBJECT, PIRP irp) {
  READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(std::uintptr_t{0x3F8}));
  return Complete(nullptr, irp);
}
NTSTATUS KeepsTheRemoveLock(PDEVICE_OBJECT, PIRP irp) {
  IoAcquireRemoveLockEx(g_lock, irp, "faulty", 1, sizeof(IO_REMOVE_LOCK));
  return Complete(nullptr, irp);
}
NTSTATUS DeletesTheLinkTwice(PDEVICE_OBJECT, PIRP irp) {
  // Removal deletes the link once more.
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, L"\\DosDevices\\Faulty");
  IoDeleteSymbolicLink(&link);
  return Complete(nullptr, irp);
}
NTSTATUS ReleasesALockNeverTaken(PDEVICE_OBJECT, PIRP irp) {
  IoReleaseRemoveLockEx(g_lock, irp, sizeof(IO_REMOVE_LOCK));
  return Complete(nullptr, irp);
}

struct Mistake {
  const char* name;
  NTSTATUS (*control)(PDEVICE_OBJECT, PIRP);
  ULONG inputLength;
  ULONG outputLength;
  const char* reported;  // a part of the verifier's report
};

class StandinVerifier : public ::testing::TestWithParam<Mistake> {};

TEST_P(StandinVerifier, NamesTheMistake) {
  g_control = GetParam().control;
  g_waitOnRemoval = GetParam().control != KeepsTheRemoveLock;
  {
    sim::Kernel kernel;
    kernel.AddMemoryWindow(0xD0000000, 4);
    ASSERT_EQ(kernel.LoadDriver(Entry), STATUS_SUCCESS);
    const auto adapter = kernel.PlugAdapter();
    ASSERT_EQ(kernel.Start(adapter, {{sim::ResourceDescriptor::Port(0x300, 4)}}), STATUS_SUCCESS);
    sim::Kernel::Handle handle;
    ASSERT_EQ(kernel.Open("\\\\.\\Faulty", {}, &handle), STATUS_SUCCESS);
    std::uint8_t input[8] = {};
    std::uint8_t output[8] = {};
    kernel.Control(handle, 0x9C416400, input, GetParam().inputLength, output,
                   GetParam().outputLength);
    kernel.Close(handle);
    kernel.Remove(adapter);
    kernel.Shutdown();
    const auto violations = kernel.Violations();
    ASSERT_FALSE(violations.empty()) << "the verifier stayed silent";
    bool named = false;
    for (const auto& violation : violations)
      named = named || violation.find(GetParam().reported) != std::string::npos;
    EXPECT_TRUE(named) << violations.front();
  }
  g_control = nullptr;
  g_waitOnRemoval = true;
}

INSTANTIATE_TEST_SUITE_P(
    Cicard, StandinVerifier,
    ::testing::Values(
        Mistake{"CompletesTwice", CompletesTwice, 4, 4, "completed twice"},
        Mistake{"CompletesWithPending", CompletesWithPending, 4, 4, "with STATUS_PENDING"},
        Mistake{"ReturnsPendingUnmarked", ReturnsPendingUnmarked, 4, 4, "not marked pending"},
        Mistake{"MarksPendingButAnswers", MarksPendingButAnswers, 4, 4,
                "marked pending but answered"},
        Mistake{"ReturnsAnotherStatus", ReturnsAnotherStatus, 4, 4, "but completed the request"},
        Mistake{"NeverCompletes", NeverCompletes, 4, 4, "without completing"},
        Mistake{"ReportsTooManyBytes", ReportsTooManyBytes, 8, 4, "for a 4-byte output buffer"},
        Mistake{"LeaksPoolBytes", LeaksPoolBytes, 4, 8, "uninitialised pool bytes"},
        Mistake{"KeepsAMapping", KeepsAMapping, 4, 4, "never unmapped"},
        Mistake{"ReadsAfterUnmapping", ReadsAfterUnmapping, 4, 4, "was unmapped"},
        Mistake{"ReadsAPortNotAssigned", ReadsAPortNotAssigned, 4, 4, "outside the assigned"},
        Mistake{"KeepsTheRemoveLock", KeepsTheRemoveLock, 4, 4, "remove lock is held"},
        Mistake{"ReleasesALockNeverTaken", ReleasesALockNeverTaken, 4, 4, "holds no acquisition"},
        Mistake{"DeletesTheLinkTwice", DeletesTheLinkTwice, 4, 4, "which does not exist"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CicardStandin, ACorrectDriverLeavesTheVerifierSilent) {
  g_control = [](PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Information = 1;
    return Complete(nullptr, irp);
  };
  sim::Kernel kernel;
  ASSERT_EQ(kernel.LoadDriver(Entry), STATUS_SUCCESS);
  const auto adapter = kernel.PlugAdapter();
  ASSERT_EQ(kernel.Start(adapter, {{sim::ResourceDescriptor::Port(0x300, 4)}}), STATUS_SUCCESS);
  sim::Kernel::Handle handle;
  ASSERT_EQ(kernel.Open("\\\\.\\Faulty", {}, &handle), STATUS_SUCCESS);
  std::uint32_t input = 0;
  std::uint8_t output[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(kernel.Control(handle, 0x9C416400, &input, 4, output, 4),
            (sim::ControlResult{STATUS_SUCCESS, 1}));
  EXPECT_EQ(output[0], 0) << "the system buffer's first byte is copied back";
  EXPECT_EQ(output[1], 0xEE);
  kernel.Close(handle);
  EXPECT_EQ(kernel.Remove(adapter), STATUS_SUCCESS);
  kernel.Shutdown();
  EXPECT_TRUE(kernel.Violations().empty());
  g_control = nullptr;
}

}  // namespace
