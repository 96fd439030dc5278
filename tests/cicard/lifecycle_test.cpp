// The driver's life in the kernel stand-in: adding the device, starting it on the resources the
// PnP manager assigns, stop and removal requests, power, and removal racing requests.
#include <atomic>
#include <thread>

#include "driver_rig.h"
#include "scenario_print.h"

namespace cicard_test {
namespace {

using cicard_test::PrintTo;

using sim::ResourceDescriptor;

// --- Adding the device -------------------------------------------------------------------------

TEST_F(CicardDriver, AddDeviceCreatesTheNamedDeviceWithItsLinkAndEmptyWindow) {
  ASSERT_EQ(rig.kernel.AddDeviceStatus(rig.adapter), STATUS_SUCCESS);
  PDEVICE_OBJECT device = rig.kernel.FunctionDevice(rig.adapter);
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(rig.kernel.DeviceNameExists(kDeviceName));
  EXPECT_TRUE(rig.kernel.LinkExists(kLinkName));
  EXPECT_EQ(device->DeviceType, 40001u);
  EXPECT_TRUE(device->Flags & DO_POWER_PAGABLE);
  EXPECT_FALSE(device->Flags & DO_DEVICE_INITIALIZING);
  EXPECT_TRUE(device->Characteristics & FILE_DEVICE_SECURE_OPEN);
  PCI_DEVICE_EXTENSION extension = rig.Extension();
  EXPECT_EQ(extension->Self, device);
  EXPECT_NE(extension->LowerDevice, nullptr);
  EXPECT_EQ(extension->AddressSpace, 1u);
  EXPECT_FALSE(extension->Started);
  EXPECT_FALSE(extension->Removed);
  EXPECT_FALSE(extension->Mapped);
}

TEST_F(CicardDriver, ASecondAdapterFailsWithANameCollisionAndLeavesTheFirstServing) {
  rig.kernel.AddPortWindow(0x300, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, PortWindow(0x300, 4)), STATUS_SUCCESS);
  const auto second = rig.PlugAnother();
  EXPECT_EQ(rig.kernel.AddDeviceStatus(second), STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(rig.kernel.FunctionDevice(second), nullptr);

  const auto handle = rig.OpenOrFail();
  EXPECT_EQ(rig.Write(handle, IOCTL_CI_WRITE_UCHAR, 1, 0x5A).status, STATUS_SUCCESS);
  std::uint32_t value = 0;
  EXPECT_EQ(rig.Read(handle, IOCTL_CI_READ_UCHAR, 1, &value).status, STATUS_SUCCESS);
  EXPECT_EQ(value & 0xFF, 0x5Au);
}

struct AddFailure {
  const char* name;
  bool linkTaken;
  bool attachFails;
  NTSTATUS expected;
};

class AddDeviceFailure : public CicardDriver, public ::testing::WithParamInterface<AddFailure> {};

TEST_P(AddDeviceFailure, ReturnsTheStatusAndLeavesNothingBehind) {
  // The stand-in's verifier reports a device object or attachment left behind.
  rig.kernel.Remove(rig.adapter);
  if (GetParam().linkTaken) rig.kernel.CreateForeignLink(kLinkName, L"\\Device\\Other");
  if (GetParam().attachFails) rig.kernel.FailNextAttach();
  const auto adapter = rig.PlugAnother();
  EXPECT_EQ(rig.kernel.AddDeviceStatus(adapter), GetParam().expected);
  EXPECT_EQ(rig.kernel.FunctionDevice(adapter), nullptr);
  EXPECT_FALSE(rig.kernel.DeviceNameExists(kDeviceName));
  EXPECT_EQ(rig.kernel.LinkExists(kLinkName), GetParam().linkTaken);
}

INSTANTIATE_TEST_SUITE_P(
    Cicard, AddDeviceFailure,
    ::testing::Values(AddFailure{"LinkNameTaken", true, false, STATUS_OBJECT_NAME_COLLISION},
                      AddFailure{"AttachRefused", false, true, STATUS_NO_SUCH_DEVICE}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Start: which window the resources give ----------------------------------------------------

struct StartScenario {
  const char* name;
  sim::ResourceSet resources;
  int failedMaps;  // MmMapIoSpace calls that return NULL
  NTSTATUS status;
  ULONG addressSpace;
  ULONG length;
  bool mapped;
  std::uint64_t physical;  // of the live mapping when mapped, else the first port
  int mappingsMade;
};

class StartResources : public CicardDriver, public ::testing::WithParamInterface<StartScenario> {};

TEST_P(StartResources, TakesTheWindowAndGivesEveryMappingBackAtRemoval) {
  const StartScenario& scenario = GetParam();
  rig.kernel.FailMapIoSpace(scenario.failedMaps);
  EXPECT_EQ(rig.kernel.Start(rig.adapter, scenario.resources), scenario.status);

  PCI_DEVICE_EXTENSION extension = rig.Extension();
  EXPECT_EQ(extension->Started, NT_SUCCESS(scenario.status));
  EXPECT_EQ(extension->AddressSpace, scenario.addressSpace);
  EXPECT_EQ(extension->Length, scenario.length);
  EXPECT_EQ(extension->Mapped, scenario.mapped);

  const auto mappings = rig.kernel.Mappings();
  EXPECT_EQ(static_cast<int>(mappings.size()), scenario.mappingsMade);
  int live = 0;
  for (const auto& mapping : mappings) {
    EXPECT_EQ(mapping.cache, MmNonCached);
    if (!mapping.live) continue;
    ++live;
    EXPECT_EQ(mapping.physical, scenario.physical);
    EXPECT_EQ(extension->Base, mapping.virtualAddress);
  }
  EXPECT_EQ(live, scenario.mapped ? 1 : 0);
  if (!scenario.mapped && scenario.length != 0) {
    EXPECT_EQ(extension->Base, scenario.physical);
  }

  EXPECT_EQ(rig.kernel.Remove(rig.adapter), STATUS_SUCCESS);
  for (const auto& mapping : rig.kernel.Mappings()) EXPECT_FALSE(mapping.live);
}

const ResourceDescriptor kPort = ResourceDescriptor::Port(0x300, 4);
const ResourceDescriptor kMemory = ResourceDescriptor::Memory(0xD0000010, 16);

INSTANTIATE_TEST_SUITE_P(
    Cicard, StartResources,
    ::testing::Values(
        StartScenario{"PortRange", {{kPort}}, 0, STATUS_SUCCESS, 1, 4, false, 0x300, 0},
        StartScenario{"PortWithInterrupt",
                      {{ResourceDescriptor::Interrupt(5), kPort}},
                      0,
                      STATUS_SUCCESS,
                      1,
                      4,
                      false,
                      0x300,
                      0},
        StartScenario{"PortWithDevicePrivate",
                      {{kPort, ResourceDescriptor::DevicePrivate()}},
                      0,
                      STATUS_SUCCESS,
                      1,
                      4,
                      false,
                      0x300,
                      0},
        StartScenario{"DmaBesidePort",
                      {{ResourceDescriptor::Dma(3), kPort}},
                      0,
                      STATUS_UNSUCCESSFUL,
                      1,
                      4,
                      false,
                      0x300,
                      0},
        StartScenario{"DmaBesideMemory",
                      {{kMemory, ResourceDescriptor::Dma(3)}},
                      0,
                      STATUS_UNSUCCESSFUL,
                      0,
                      16,
                      true,
                      0xD0000010,
                      1},
        StartScenario{"MemoryRange", {{kMemory}}, 0, STATUS_SUCCESS, 0, 16, true, 0xD0000010, 1},
        StartScenario{"PortTranslatedToMemory",
                      {{ResourceDescriptor::PortAsMemory(0x300, 0xFEC00000, 4)}},
                      0,
                      STATUS_SUCCESS,
                      0,
                      4,
                      true,
                      0xFEC00000,
                      1},
        StartScenario{
            "MemoryReplacedByPort", {{kMemory, kPort}}, 0, STATUS_SUCCESS, 1, 4, false, 0x300, 1},
        StartScenario{"MemoryReplacedByMemory",
                      {{kMemory, ResourceDescriptor::Memory(0xD8000000, 8)}},
                      0,
                      STATUS_SUCCESS,
                      0,
                      8,
                      true,
                      0xD8000000,
                      2},
        StartScenario{
            "MappingRefused", {{kMemory}}, 1, STATUS_INSUFFICIENT_RESOURCES, 0, 0, false, 0, 0},
        StartScenario{"MappingRefusedAfterAPort",
                      {{kPort, kMemory}},
                      1,
                      STATUS_INSUFFICIENT_RESOURCES,
                      0,
                      0,
                      false,
                      0,
                      0},
        StartScenario{"InterruptOnly",
                      {{ResourceDescriptor::Interrupt(5)}},
                      0,
                      STATUS_SUCCESS,
                      1,
                      0,
                      false,
                      0,
                      0},
        StartScenario{"NullDescriptor",
                      {{ResourceDescriptor::OfType(CmResourceTypeNull), kPort}},
                      0,
                      STATUS_UNSUCCESSFUL,
                      1,
                      4,
                      false,
                      0x300,
                      0},
        StartScenario{"BusNumberDescriptor",
                      {{kPort, ResourceDescriptor::OfType(CmResourceTypeBusNumber)}},
                      0,
                      STATUS_UNSUCCESSFUL,
                      1,
                      4,
                      false,
                      0x300,
                      0},
        StartScenario{"PcCardConfigDescriptor",
                      {{kPort, ResourceDescriptor::OfType(CmResourceTypePcCardConfig)}},
                      0,
                      STATUS_UNSUCCESSFUL,
                      1,
                      4,
                      false,
                      0x300,
                      0},
        StartScenario{"RawListAbsent",
                      {{kPort}, true, false},
                      0,
                      STATUS_INSUFFICIENT_RESOURCES,
                      1,
                      0,
                      false,
                      0,
                      0},
        StartScenario{"TranslatedListAbsent",
                      {{kPort}, false, true},
                      0,
                      STATUS_INSUFFICIENT_RESOURCES,
                      1,
                      0,
                      false,
                      0,
                      0},
        StartScenario{"TranslatedListShorter",
                      {{kPort, kMemory}, false, false, 1},
                      0,
                      STATUS_UNSUCCESSFUL,
                      1,
                      4,
                      false,
                      0x300,
                      0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Start: what the lower drivers answer ------------------------------------------------------

struct LowerScenario {
  const char* name;
  sim::LowerStart lower;
};

class LowerStartAnswer : public CicardDriver,
                         public ::testing::WithParamInterface<LowerScenario> {};

TEST_P(LowerStartAnswer, TheStartFollowsTheLowerDriversFinalStatus) {
  rig.kernel.AddPortWindow(0x300, 4);
  rig.kernel.SetLowerStart(rig.adapter, GetParam().lower);
  const NTSTATUS expected = GetParam().lower.status;
  EXPECT_EQ(rig.kernel.Start(rig.adapter, PortWindow(0x300, 4)), expected);
  EXPECT_EQ(rig.Extension()->Started, NT_SUCCESS(expected));
  // The window is taken only after the lower drivers succeeded.
  EXPECT_EQ(rig.Extension()->Length, NT_SUCCESS(expected) ? 4u : 0u);
  sim::Kernel::Handle handle;
  EXPECT_EQ(rig.Open(&handle), NT_SUCCESS(expected) ? STATUS_SUCCESS : STATUS_DEVICE_NOT_READY);
}

INSTANTIATE_TEST_SUITE_P(
    Cicard, LowerStartAnswer,
    ::testing::Values(LowerScenario{"AtOnce", {STATUS_SUCCESS, false}},
                      LowerScenario{"PendingThenSuccess", {STATUS_SUCCESS, true}},
                      LowerScenario{"Refused", {STATUS_INSUFFICIENT_RESOURCES, false}},
                      LowerScenario{"PendingThenRefused", {STATUS_UNSUCCESSFUL, true}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- PnP requests while started ----------------------------------------------------------------

struct PnpScenario {
  const char* name;
  UCHAR minor;
  NTSTATUS status;
};

class PnpWhileStarted : public CicardDriver, public ::testing::WithParamInterface<PnpScenario> {};

TEST_P(PnpWhileStarted, AnswersAndKeepsServing) {
  rig.kernel.AddPortWindow(0x300, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, PortWindow(0x300, 4)), STATUS_SUCCESS);
  EXPECT_EQ(rig.kernel.SendPnp(rig.adapter, GetParam().minor), GetParam().status);
  EXPECT_TRUE(rig.Extension()->Started);
  EXPECT_EQ(rig.Extension()->Length, 4u);
  const auto handle = rig.OpenOrFail();
  EXPECT_EQ(rig.Write(handle, IOCTL_CI_WRITE_UCHAR, 0, 1).status, STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Cicard, PnpWhileStarted,
    ::testing::Values(
        PnpScenario{"QueryStopRefused", IRP_MN_QUERY_STOP_DEVICE, STATUS_UNSUCCESSFUL},
        PnpScenario{"Stop", IRP_MN_STOP_DEVICE, STATUS_SUCCESS},
        PnpScenario{"CancelStop", IRP_MN_CANCEL_STOP_DEVICE, STATUS_SUCCESS},
        PnpScenario{"QueryRemove", IRP_MN_QUERY_REMOVE_DEVICE, STATUS_SUCCESS},
        PnpScenario{"CancelRemove", IRP_MN_CANCEL_REMOVE_DEVICE, STATUS_SUCCESS},
        PnpScenario{"OtherPassesUntouched", IRP_MN_QUERY_CAPABILITIES, STATUS_NOT_SUPPORTED}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Removal -----------------------------------------------------------------------------------

TEST_F(CicardDriver, SurpriseRemovalThenRemovalReleasesOnceAndRefusesOldHandles) {
  rig.kernel.AddMemoryWindow(0xD0000000, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, {{ResourceDescriptor::Memory(0xD0000000, 4)}}),
            STATUS_SUCCESS);
  const auto handle = rig.OpenOrFail();

  EXPECT_EQ(rig.kernel.SurpriseRemove(rig.adapter), STATUS_SUCCESS);
  EXPECT_FALSE(rig.kernel.LinkExists(kLinkName));
  EXPECT_TRUE(rig.Extension()->Removed);
  EXPECT_FALSE(rig.Extension()->Started);
  sim::Kernel::Handle another;
  EXPECT_EQ(rig.Open(&another), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(rig.Read(handle, IOCTL_CI_READ_UCHAR, 0),
            (sim::ControlResult{STATUS_DEVICE_NOT_READY, 0}));
  EXPECT_EQ(rig.kernel.Start(rig.adapter, {{ResourceDescriptor::Memory(0xD0000000, 4)}}),
            STATUS_DELETE_PENDING);
  rig.kernel.ClearAccesses();

  EXPECT_EQ(rig.kernel.Remove(rig.adapter), STATUS_SUCCESS);
  EXPECT_EQ(rig.kernel.FunctionDevice(rig.adapter), nullptr);
  EXPECT_FALSE(rig.kernel.DeviceNameExists(kDeviceName));
  // A handle that outlives the device finds its remove lock gone.
  EXPECT_EQ(rig.Read(handle, IOCTL_CI_READ_UCHAR, 0),
            (sim::ControlResult{STATUS_DELETE_PENDING, 0}));
  EXPECT_TRUE(rig.kernel.Accesses().empty());
  const auto mappings = rig.kernel.Mappings();
  ASSERT_EQ(mappings.size(), 1u);
  EXPECT_FALSE(mappings[0].live);
}

TEST_F(CicardDriver, OpensBeforeTheStartFailNotReady) {
  sim::Kernel::Handle handle;
  EXPECT_EQ(rig.Open(&handle), STATUS_DEVICE_NOT_READY);
}

TEST_F(CicardDriver, DriverUnloadsOnceItsDeviceIsGone) {
  EXPECT_FALSE(rig.kernel.UnloadDriver());
  EXPECT_EQ(rig.kernel.Remove(rig.adapter), STATUS_SUCCESS);
  EXPECT_TRUE(rig.kernel.UnloadDriver());
}

// --- Power and system control ------------------------------------------------------------------

TEST_F(CicardDriver, PowerRequestsPassDownUntilRemovalThenFailDeletePending) {
  rig.kernel.AddPortWindow(0x300, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, PortWindow(0x300, 4)), STATUS_SUCCESS);
  EXPECT_EQ(rig.kernel.SendPower(rig.adapter, IRP_MN_SET_POWER), STATUS_SUCCESS);
  EXPECT_EQ(rig.kernel.StartNextPowerCalls(), 1);
  ASSERT_EQ(rig.kernel.SurpriseRemove(rig.adapter), STATUS_SUCCESS);
  for (UCHAR minor : {UCHAR{IRP_MN_SET_POWER}, UCHAR{IRP_MN_QUERY_POWER}})
    EXPECT_EQ(rig.kernel.SendPower(rig.adapter, minor), STATUS_DELETE_PENDING);
  EXPECT_EQ(rig.kernel.StartNextPowerCalls(), 3);
}

TEST_F(CicardDriver, SystemControlPassesDownUnchanged) {
  EXPECT_EQ(rig.kernel.SendSystemControl(rig.adapter), STATUS_NOT_SUPPORTED);
}

// --- Security of the name ----------------------------------------------------------------------

struct OpenScenario {
  const char* name;
  const char* path;
  sim::OpenAccess access;
  NTSTATUS status;
};

class OpenByName : public CicardDriver, public ::testing::WithParamInterface<OpenScenario> {};

TEST_P(OpenByName, TheDevicesSecurityCoversNamesBelowIt) {
  rig.kernel.AddPortWindow(0x300, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, PortWindow(0x300, 4)), STATUS_SUCCESS);
  sim::Kernel::Handle handle;
  EXPECT_EQ(rig.Open(&handle, GetParam().access, GetParam().path), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cicard, OpenByName,
    ::testing::Values(
        OpenScenario{
            "AdministratorReadWrite", "\\\\.\\DOV_IDDev", {true, true, true}, STATUS_SUCCESS},
        OpenScenario{
            "NameIsCaseInsensitive", "\\\\.\\dov_iddev", {true, true, true}, STATUS_SUCCESS},
        OpenScenario{"UserReadOnly", "\\\\.\\DOV_IDDev", {true, false, false}, STATUS_SUCCESS},
        OpenScenario{"UserWrite", "\\\\.\\DOV_IDDev", {true, true, false}, STATUS_ACCESS_DENIED},
        OpenScenario{"UserWriteBelowTheName",
                     "\\\\.\\DOV_IDDev\\x",
                     {true, true, false},
                     STATUS_ACCESS_DENIED},
        OpenScenario{
            "UnknownName", "\\\\.\\DOV_IDDev2", {true, true, true}, STATUS_OBJECT_NAME_NOT_FOUND}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Requests racing removal -------------------------------------------------------------------

// A request that passed its checks is at its register access when the adapter is pulled: the
// surprise removal completes on another thread meanwhile, and the access must still find the
// window mapped. Removal itself waits until the request has let go of the remove lock.
TEST_F(CicardDriver, ARequestAtItsAccessDuringRemovalNeverTouchesAReleasedWindow) {
  rig.kernel.AddMemoryWindow(0xD0000000, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, {{ResourceDescriptor::Memory(0xD0000000, 4)}}),
            STATUS_SUCCESS);
  const auto handle = rig.OpenOrFail();

  std::thread removal;
  std::atomic<bool> surpriseDone{false};
  std::atomic<int> hookCalls{0};
  rig.kernel.SetAccessHook([&](const sim::RegisterAccess&) {
    if (hookCalls++ != 0) return;
    removal = std::thread([&] {
      rig.kernel.SurpriseRemove(rig.adapter);
      surpriseDone = true;
      rig.kernel.Remove(rig.adapter);
    });
    // Let the surprise removal finish and the removal reach its wait before the access runs.
    EXPECT_TRUE(rig.kernel.WaitForRemovalWaiter());
    EXPECT_TRUE(surpriseDone);
  });
  std::uint32_t value = 0;
  EXPECT_EQ(rig.Read(handle, IOCTL_CI_READ_UCHAR, 2, &value).status, STATUS_SUCCESS);
  removal.join();
  rig.kernel.SetAccessHook(nullptr);
  EXPECT_EQ(rig.kernel.Accesses().size(), 1u);
  EXPECT_EQ(rig.kernel.FunctionDevice(rig.adapter), nullptr);
  for (const auto& mapping : rig.kernel.Mappings()) EXPECT_FALSE(mapping.live);
}

TEST_F(CicardDriver, RequestsFromAnotherThreadSurviveASurpriseRemoval) {
  rig.kernel.AddMemoryWindow(0xD0000000, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, {{ResourceDescriptor::Memory(0xD0000000, 4)}}),
            STATUS_SUCCESS);
  const auto handle = rig.OpenOrFail();
  std::atomic<bool> go{false};
  std::atomic<int> served{0};
  std::atomic<int> refused{0};
  std::thread requests([&] {
    while (!go) std::this_thread::yield();
    // Until the removal has clearly been seen.
    for (int i = 0; refused < 50 && i < 5000000; ++i) {
      const NTSTATUS status = rig.Write(handle, IOCTL_CI_WRITE_UCHAR, 1, i & 0xFF).status;
      (status == STATUS_SUCCESS ? served : refused)++;
      EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_DEVICE_NOT_READY) << status;
    }
  });
  go = true;
  while (served == 0) std::this_thread::yield();
  EXPECT_EQ(rig.kernel.SurpriseRemove(rig.adapter), STATUS_SUCCESS);
  requests.join();
  EXPECT_EQ(refused, 50);
  EXPECT_EQ(rig.kernel.Remove(rig.adapter), STATUS_SUCCESS);
}

}  // namespace
}  // namespace cicard_test
