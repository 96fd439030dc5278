// Choosing the transport and finding the module: probing, the open results, and closing.
#include <sys/io.h>

#include <gtest/gtest.h>

#include <set>

#include "link_rig.h"
#include "platform_names.h"

namespace {

struct ProbeCase {
  const char* name;
  bool autoProbe;
  std::uint16_t setting;
  std::optional<std::uint16_t> moduleAt;
  std::map<std::uint16_t, std::uint8_t> otherHardware;
  int result;
  std::uint16_t ioBase;               // after the open
  std::vector<std::uint16_t> probed;  // bases whose first register was read, in order
};

std::vector<std::uint16_t> ProbedBases(const std::vector<sim::PortAccess>& log) {
  std::vector<std::uint16_t> bases;
  for (const auto& access : log) {
    const auto base = static_cast<std::uint16_t>(access.port & ~0x1F);
    if (!access.write && (access.port & 0x1F) == 0 && (bases.empty() || bases.back() != base))
      bases.push_back(base);
  }
  return bases;
}

TEST(Probing, FindsTheModuleOnlyWhereTheRulesAllow) {
  const ProbeCase cases[] = {
      {"auto, module at 0x340", true, 0x320, 0x340, {}, 0, 0x340, {0x300, 0x320, 0x340}},
      {"auto, no module",
       true,
       0x320,
       std::nullopt,
       {},
       3,
       0x3A0,
       {0x300, 0x320, 0x340, 0x360, 0x380}},
      {"auto, module at 0x380",
       true,
       0x320,
       0x380,
       {},
       0,
       0x380,
       {0x300, 0x320, 0x340, 0x360, 0x380}},
      {"fixed base without module", false, 0x360, 0x320, {}, 3, 0x380, {0x360}},
      {"fixed base with module", false, 0x320, 0x320, {}, 0, 0x320, {0x320}},
      {"other hardware with low bits set is skipped",
       true,
       0x320,
       0x320,
       {{0x303, 0x01}},
       0,
       0x320,
       {0x300, 0x320}},
      {"silent hardware with low bits clear fails initialisation",
       true,
       0x320,
       0x340,
       {{0x300, 0x00}, {0x301, 0x00}, {0x302, 0x00}, {0x303, 0x00}},
       0,
       0x340,
       {0x300, 0x320, 0x340}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::LinkRig rig;
    rig.ports.AttachModule(c.moduleAt ? rig.module.get() : nullptr, c.moduleAt.value_or(0));
    for (const auto& [port, value] : c.otherHardware) rig.ports.SetFixedPort(port, value);
    rig.ports.SetLogging(true);
    rig.link->AutoProbe = c.autoProbe;
    rig.link->IOBaseSetting = c.setting;

    EXPECT_EQ(rig.link->ModuleOpen(rig.host.get(), true), c.result);
    EXPECT_EQ(rig.link->IOBase, c.ioBase);
    EXPECT_EQ(ProbedBases(rig.ports.Log()), c.probed);
    EXPECT_EQ(rig.Closes(), c.result == 0 ? 0 : 1);
    // Nothing is ever written to a base that reads empty or that is skipped.
    for (const auto& access : rig.ports.Log()) {
      if (!access.write) continue;
      const auto base = static_cast<std::uint16_t>(access.port & ~0x1F);
      const bool silentHardware =
          c.otherHardware.count(base + 3) && (c.otherHardware.at(base + 3) & 7) == 0;
      const bool initialised = base == c.moduleAt || silentHardware;
      EXPECT_TRUE(initialised) << "write to " << std::hex << access.port;
    }
  }
}

TEST(Probing, AnEmptyBaseCostsFourReadsAndNoWrite) {
  test::LinkRig rig;
  rig.ports.AttachModule(nullptr, 0);
  rig.ports.SetLogging(true);
  rig.link->AutoProbe = false;
  rig.link->IOBaseSetting = 0x300;
  EXPECT_EQ(rig.link->ModuleOpen(rig.host.get(), false), 3);
  const std::vector<sim::PortAccess> expected = {
      {false, 0x300, 0xFF}, {false, 0x301, 0xFF}, {false, 0x302, 0xFF}, {false, 0x303, 0xFF}};
  EXPECT_EQ(rig.ports.Log(), expected);
}

TEST(ModuleOpen, RefusedPortAccessGivesFourAfterClosing) {
  test::LinkRig rig;
  rig.ports.DenyAccess(true);
  EXPECT_EQ(rig.link->ModuleOpen(rig.host.get(), true), 4);
  EXPECT_EQ(rig.Closes(), 1);
}

TEST(ModuleOpen, TheRealPortBackEndReportsRefusalAsFour) {
  // Only meaningful where the kernel withholds port access from this process.
  if (ioperm(0x300, 1, 1) == 0) {
    ioperm(0x300, 1, 0);
    GTEST_SKIP() << "this process may use ports: nothing to refuse";
  }
  sim::VirtualClock clock;
  test::RecordingDevices devices;
  test::NoLibraries libraries;
  std::unique_ptr<ModuleLink> link;
  sim::SimHost host(clock, [&] { link->TimeoutTick(); });
  link = std::make_unique<ModuleLink>(
      LinkServices{clock, platform::SystemPorts(), devices, libraries, host});
  link->AutoProbe = true;
  EXPECT_EQ(link->ModuleOpen(&host, true), 4);
}

struct DriverCase {
  const char* name;
  bool deviceExists;
  std::uint8_t registerValue;
  int result;
};

TEST(ModuleOpen, DriverTransportResults) {
  const DriverCase cases[] = {
      {"device missing", false, 0x00, 2},
      {"device without module (reads 0x00: no data available)", true, 0x00, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::LinkRig rig;
    rig.link->UseDriver = true;
    if (c.deviceExists) rig.devices.openable = {platform::kDriverDevicePath};
    rig.devices.readValue = c.registerValue;
    EXPECT_EQ(rig.link->ModuleOpen(rig.host.get(), true), c.result);
    EXPECT_EQ(rig.devices.opened, std::vector<std::string>{"\\\\.\\DOV_IDDev"});
    EXPECT_EQ(rig.link->IOBase, 0);
    EXPECT_EQ(rig.link->DriverHandle, platform::kInvalidDeviceHandle);
    EXPECT_EQ(rig.devices.closed.size(), c.deviceExists ? 1u : 0u);
    EXPECT_EQ(rig.Closes(), 1);
  }
}

TEST(ModuleOpen, TheUsbAdapterIsTriedOnlyWhenAskedAndOnlyWithTheUsbRuntime) {
  for (bool tryUsb : {false, true}) {
    test::LinkRig rig;
    EXPECT_EQ(rig.link->ModuleOpen(rig.host.get(), tryUsb), 0);
    const std::vector<std::string> expected =
        tryUsb ? std::vector<std::string>{platform::kUsbRuntimeLibrary}
               : std::vector<std::string>{};
    EXPECT_EQ(rig.libraries.loads, expected);
    EXPECT_TRUE(rig.clock.Sleeps().empty()) << "no pause without the USB runtime";
    EXPECT_EQ(rig.link->LibraryTimeout, 60000);
  }
}

TEST(ModuleClose, AlwaysPausesAndClosesTheDriverHandleOnlyWithTheDriver) {
  test::LinkRig rig;
  rig.link->ModuleClose();
  EXPECT_EQ(rig.clock.Sleeps(), std::vector<std::uint32_t>{1500});

  rig.link->DriverHandle = 7;
  rig.link->ModuleClose();
  EXPECT_EQ(rig.link->DriverHandle, 7) << "without UseDriver the handle is not touched";

  rig.link->UseDriver = true;
  rig.link->ModuleClose();
  EXPECT_EQ(rig.link->DriverHandle, platform::kInvalidDeviceHandle);
  EXPECT_EQ(rig.devices.closed, std::vector<platform::DeviceHandle>{7});
  rig.link->ModuleClose();
  EXPECT_EQ(rig.devices.closed.size(), 1u);
}

}  // namespace
