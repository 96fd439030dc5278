// One register access on each back-end: ports, and the driver's request layout.
#include <gtest/gtest.h>

#include "link_rig.h"

namespace {

constexpr std::uint32_t kRead = 0x9C416400;
constexpr std::uint32_t kWrite = 0x9C41A440;

using Bytes = std::vector<std::uint8_t>;

TEST(SwapboxOnPorts, DataWritesAreSplitOthersAreNot) {
  test::LinkRig rig;
  rig.ports.AttachModule(nullptr, 0);
  rig.ports.SetLogging(true);
  rig.link->SwapboxMode = true;
  rig.link->WriteCiRegister(0x300, 0xA5);
  rig.link->WriteCiRegister(0x301, 0x01);
  rig.link->WriteCiRegister(0x302, 0x33);
  rig.link->WriteCiRegister(0x340, 0x7E);
  const std::vector<sim::PortAccess> expected = {{true, 0x303, 0x05}, {true, 0x300, 0xA0},
                                                 {true, 0x301, 0x01}, {true, 0x302, 0x33},
                                                 {true, 0x343, 0x0E}, {true, 0x340, 0x70}};
  EXPECT_EQ(rig.ports.Log(), expected);
  EXPECT_EQ(rig.ports.In(0x300), 0xFF);
}

struct DriverWriteCase {
  bool swapbox;
  std::uint16_t address;
  std::uint8_t value;
  std::vector<Bytes> inputs;
};

TEST(DriverBackEnd, WritesAreOneRequestPerByteInTheDriversLayout) {
  const DriverWriteCase cases[] = {
      {false, 0, 0xA5, {{0, 0, 0, 0, 0xA5, 0, 0, 0}}},
      {true, 0, 0xA5, {{3, 0, 0, 0, 0x05, 0, 0, 0}, {0, 0, 0, 0, 0xA0, 0, 0, 0}}},
      {true, 1, 0x01, {{1, 0, 0, 0, 0x01, 0, 0, 0}}},
      {false, 3, 0xFF, {{3, 0, 0, 0, 0xFF, 0, 0, 0}}},
  };
  for (const auto& c : cases) {
    test::LinkRig rig;
    rig.link->UseDriver = true;
    rig.link->SwapboxMode = c.swapbox;
    rig.link->DriverHandle = 7;
    rig.link->WriteCiRegister(c.address, c.value);
    ASSERT_EQ(rig.devices.requests.size(), c.inputs.size());
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
      EXPECT_EQ(rig.devices.requests[i].code, kWrite);
      EXPECT_EQ(rig.devices.requests[i].input, c.inputs[i]);
      EXPECT_EQ(rig.devices.requests[i].outputSize, 0u);
    }
  }
}

TEST(DriverBackEnd, ReadsAreNeverSplitAndGive0xFFOnFailure) {
  test::LinkRig rig;
  rig.link->UseDriver = true;
  rig.link->SwapboxMode = true;
  rig.link->DriverHandle = 7;
  rig.devices.readValue = 0x42;
  EXPECT_EQ(rig.link->ReadCiRegister(2), 0x42);
  ASSERT_EQ(rig.devices.requests.size(), 1u);
  EXPECT_EQ(rig.devices.requests[0].code, kRead);
  EXPECT_EQ(rig.devices.requests[0].input, (Bytes{2, 0, 0, 0}));
  EXPECT_EQ(rig.devices.requests[0].outputSize, 4u);

  rig.devices.failRequests = true;
  EXPECT_EQ(rig.link->ReadCiRegister(0), 0xFF);
}

TEST(DriverBackEnd, NoRequestWithoutAnOpenDevice) {
  test::LinkRig rig;
  rig.link->UseDriver = true;
  rig.link->WriteCiRegister(0, 0x12);
  EXPECT_EQ(rig.link->ReadCiRegister(1), 0xFF);
  EXPECT_TRUE(rig.devices.requests.empty());
}

TEST(DriverBackEnd, OpeningWithoutUseDriverFailsWithoutTouchingTheSystem) {
  test::LinkRig rig;
  rig.link->DriverHandle = 7;
  EXPECT_FALSE(rig.link->OpenDriverDevice());
  EXPECT_EQ(rig.link->DriverHandle, platform::kInvalidDeviceHandle);
  EXPECT_TRUE(rig.devices.opened.empty());
}

TEST(WaitMs, PumpsAtLeastOnceAndUntilTheTimeHasPassed) {
  test::LinkRig rig;
  rig.link->Application = rig.host.get();
  const auto start = rig.clock.TickCount();
  rig.link->WaitMs(0);
  EXPECT_EQ(rig.host->Pumps(), 1u);
  rig.link->WaitMs(5);
  EXPECT_GE(rig.clock.TickCount() - start, 5u);
  EXPECT_LE(rig.clock.TickCount() - start, 7u);
}

}  // namespace
