// The exports' results in each state of the library: without a device object, closed, open,
// and after the adapter left the bus; the waits run on virtual time.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "bridge_fixture.h"

namespace {

using bridge_test::BridgeTest;
using bridge_test::kAdapterPath;
using bridge_test::ReplyFrame;
using sim::UsbOp;

struct ExportCase {
  const char* name;
  std::function<std::int32_t()> call;
  std::int32_t failure;
};

std::int32_t ExchangeWithArguments() {
  const std::uint8_t payload[2] = {0x9F, 0x80};
  std::uint8_t answer[256];
  std::int32_t length = 256;
  return WriteExchange(payload, 2, answer, &length);
}

std::int32_t ExchangeWithBadArguments() {
  std::int32_t length = 0;
  return WriteExchange(nullptr, 300, nullptr, &length);
}

std::int32_t Negotiate() {
  std::int32_t size = 1234;
  const std::int32_t result = NegociateCI(128, &size);
  EXPECT_EQ(size, 1234) << "left untouched when the adapter is not open";
  return result;
}

const ExportCase kAdapterOperations[] = {
    {"CIReset", [] { return USBAdapterCIReset(); }, 0},
    {"Status", [] { return GetCIStatus(); }, -1},
    {"WriteCOR", [] { return WriteCOR(0x1FE, 9, 0x320); }, 0},
    {"Negotiate", Negotiate, 0},
    {"SetTimeout", [] { return SetTimeout(2000); }, 0},
    {"Exchange", ExchangeWithArguments, 0},
    {"ExchangeBadArguments", ExchangeWithBadArguments, 0},
    {"LoadFirmware", [] { return LoadFirmware(0x1B0D5F10); }, 0},
};

class ClosedAdapterTest : public BridgeTest, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(ClosedAdapterTest, WaitsTwoAndAHalfSecondsThenFails) {
  EXPECT_EQ(GetParam().call(), GetParam().failure);
  EXPECT_EQ(clock.SleptMs(), 2500u);
  EXPECT_EQ(clock.SleepCount(), 5u);
  EXPECT_TRUE(usb.Calls().empty());
}

TEST_P(ClosedAdapterTest, FailsTheSameAfterAClose) {
  OpenAdapter();
  ASSERT_EQ(USBAdapterClose(), 1);
  usb.ClearCalls();
  const std::uint64_t before = clock.SleptMs();
  EXPECT_EQ(GetParam().call(), GetParam().failure);
  EXPECT_EQ(clock.SleptMs() - before, 2500u);
  EXPECT_TRUE(usb.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(Exports, ClosedAdapterTest, ::testing::ValuesIn(kAdapterOperations),
                         [](const auto& info) { return info.param.name; });

class NoDeviceObjectTest : public BridgeTest, public ::testing::WithParamInterface<ExportCase> {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    cibridge::InstallNoDevice();
  }
};

TEST_P(NoDeviceObjectTest, EveryExportFailsAtOnce) {
  EXPECT_EQ(GetParam().call(), GetParam().failure);
  EXPECT_EQ(clock.SleptMs(), 0u);
  EXPECT_TRUE(usb.Calls().empty());
}

const ExportCase kLifecycleOperations[] = {
    {"Search",
     [] {
       char buffer[512] = "x";
       const std::int32_t result = SearchUSBAdapter(buffer);
       EXPECT_EQ(buffer[0], '\0') << "the text is emptied even without a device object";
       return result;
     },
     0},
    {"Open", [] { return USBAdapterOpen(kAdapterPath); }, 0},
    {"Close", [] { return USBAdapterClose(); }, 0},
};

INSTANTIATE_TEST_SUITE_P(AdapterOperations, NoDeviceObjectTest,
                         ::testing::ValuesIn(kAdapterOperations),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Lifecycle, NoDeviceObjectTest, ::testing::ValuesIn(kLifecycleOperations),
                         [](const auto& info) { return info.param.name; });

// --- Search and open ---

TEST_F(BridgeTest, SearchWritesThePathOfTheAdapter) {
  char buffer[512];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(SearchUSBAdapter(buffer), 1);
  EXPECT_STREQ(buffer, kAdapterPath);
}

TEST_F(BridgeTest, SearchWithoutAdapterLeavesAnEmptyText) {
  usb.ClearDevices();
  char buffer[512];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(SearchUSBAdapter(buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(BridgeTest, SearchOfAnEmptyPathReportsNothingFound) {
  usb.ClearDevices();
  usb.AddDevice("");
  char buffer[512] = "x";
  EXPECT_EQ(SearchUSBAdapter(buffer), 0);
}

TEST_F(BridgeTest, SearchWithNullBufferFails) {
  EXPECT_EQ(SearchUSBAdapter(nullptr), 0);
  EXPECT_TRUE(usb.Calls().empty());
}

struct OpenCase {
  const char* name;
  const char* path;
  sim::UsbOp failing;
  bool inject;
  std::int32_t result;
  bool touchesDevice;
  bool interfaceBound;  // a failed setting selection leaves the interface for Close to free
  std::int32_t closeResult;
};

class OpenExportTest : public BridgeTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenExportTest, OpensOnlyAPresentAdapter) {
  const OpenCase& c = GetParam();
  if (c.inject) usb.FailCall(c.failing);
  EXPECT_EQ(USBAdapterOpen(c.path), c.result);
  EXPECT_EQ(!usb.Calls().empty(), c.touchesDevice);
  EXPECT_EQ(Device().IsOpen(), c.interfaceBound);
  EXPECT_EQ(USBAdapterClose(), c.closeResult);
  EXPECT_FALSE(usb.FileOpen());
  EXPECT_FALSE(usb.InterfaceBound());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OpenExportTest,
    ::testing::Values(OpenCase{"Present", kAdapterPath, UsbOp::Initialize, false, 1, true, true, 1},
                      OpenCase{"Empty", "", UsbOp::Initialize, false, 0, false, false, 1},
                      OpenCase{"Null", nullptr, UsbOp::Initialize, false, 0, false, false, 1},
                      OpenCase{"Unknown", "\\\\?\\usb#vid_0000&pid_0000#9#{x}", UsbOp::Initialize,
                               false, 0, true, false, 0},
                      OpenCase{"InitializeFails", kAdapterPath, UsbOp::Initialize, true, 0, true,
                               false, 1},
                      OpenCase{"SettingFails", kAdapterPath, UsbOp::SetCurrentAlternateSetting,
                               true, 0, true, true, 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(BridgeTest, OpenSelectsAlternateSettingOne) {
  ASSERT_EQ(USBAdapterOpen(kAdapterPath), 1);
  EXPECT_EQ(usb.CallsOf(UsbOp::SetCurrentAlternateSetting).at(0).index, 1u);
  EXPECT_EQ(Device().PipeBulkOut().PipeId, 0x04);
  EXPECT_EQ(Device().PipeInterruptIn().PipeId, 0x88);
}

// --- Close ---

TEST_F(BridgeTest, CloseWhenNothingWasOpenedReturnsOne) {
  EXPECT_EQ(USBAdapterClose(), 1);
  EXPECT_EQ(clock.SleptMs(), 0u);
}

TEST_F(BridgeTest, CloseAfterAPathThatDidNotOpenReturnsZero) {
  EXPECT_EQ(USBAdapterOpen("\\\\?\\usb#vid_0000&pid_0000#9#{x}"), 0);
  EXPECT_EQ(USBAdapterClose(), 0);
  // The next open and close work again.
  EXPECT_EQ(USBAdapterOpen(kAdapterPath), 1);
  EXPECT_EQ(USBAdapterClose(), 1);
}

TEST_F(BridgeTest, CloseReleasesInterfaceAndFile) {
  OpenAdapter();
  EXPECT_EQ(USBAdapterClose(), 1);
  EXPECT_FALSE(usb.InterfaceBound());
  EXPECT_FALSE(usb.FileOpen());
  EXPECT_EQ(clock.SleptMs(), 0u);
}

TEST_F(BridgeTest, CloseWhoseReleaseFailsWaitsAndReportsZero) {
  OpenAdapter();
  usb.FailAlways(UsbOp::Free);
  EXPECT_EQ(USBAdapterClose(), 0);
  EXPECT_EQ(clock.SleptMs(), 2500u);
}

TEST_F(BridgeTest, CloseAfterAFailedInitializeLetsTheAdapterOpenAgain) {
  usb.FailCall(UsbOp::Initialize);
  EXPECT_EQ(USBAdapterOpen(kAdapterPath), 0);
  EXPECT_TRUE(usb.FileOpen());
  EXPECT_EQ(USBAdapterClose(), 1);
  EXPECT_FALSE(usb.FileOpen());
  EXPECT_EQ(USBAdapterOpen(kAdapterPath), 1);
}

// --- Open adapter ---

TEST_F(BridgeTest, SetTimeoutReachesBothPipes) {
  OpenAdapter();
  EXPECT_EQ(usb.PipeTimeout(0x04), 60000u);
  EXPECT_EQ(SetTimeout(2000), 1);
  EXPECT_EQ(usb.PipeTimeout(0x04), 2000u);
  EXPECT_EQ(usb.PipeTimeout(0x88), 2000u);
  usb.FailCall(UsbOp::QueryInterfaceSettings);
  EXPECT_EQ(SetTimeout(500), 0);
}

TEST_F(BridgeTest, ATimedOutReadEndsOnThePipeTimeout) {
  OpenAdapter();
  ASSERT_EQ(SetTimeout(2000), 1);
  usb.Reply(ReplyFrame(0x20));
  usb.NoReply();
  const std::uint64_t before = clock.NowUs();
  EXPECT_EQ(ExchangeWithArguments(), 53);
  EXPECT_EQ(clock.NowUs() - before, 2000u * 1000u);
}

TEST_F(BridgeTest, WholeSessionAsTheUpdaterRunsIt) {
  char path[512];
  ASSERT_EQ(SearchUSBAdapter(path), 1);
  ASSERT_EQ(USBAdapterOpen(path), 1);
  EXPECT_EQ(SetTimeout(2000), 1);
  usb.Reply(ReplyFrame(0x02));
  EXPECT_EQ(USBAdapterCIReset(), 2);
  usb.Reply(ReplyFrame(0x07));
  EXPECT_EQ(WriteCOR(510, 9, 800), 1);
  usb.Reply(ReplyFrame(0x04, {0x00, 0x80}));
  std::int32_t size = 0;
  EXPECT_EQ(NegociateCI(128, &size), 1);
  EXPECT_EQ(size, 128);
  usb.Reply(ReplyFrame(0x20));
  usb.Reply(ReplyFrame(0x06, {0x9F, 0x80, 0x31}));
  const std::uint8_t message[3] = {0x9F, 0x80, 0x30};
  std::uint8_t answer[256];
  std::int32_t length = 256;
  EXPECT_EQ(WriteExchange(message, 3, answer, &length), 1);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(answer[2], 0x31);
  EXPECT_EQ(USBAdapterClose(), 1);
  EXPECT_EQ(clock.SleptMs(), 0u) << "no waits while the adapter is open";
}

struct GoneCase {
  const char* name;
  std::function<std::int32_t()> call;
  std::int32_t result;
};

class AdapterGoneTest : public BridgeTest, public ::testing::WithParamInterface<GoneCase> {};

TEST_P(AdapterGoneTest, CallsFailAtTheUsbLevelWithoutWaiting) {
  OpenAdapter();
  usb.Unplug();
  EXPECT_EQ(GetParam().call(), GetParam().result);
  EXPECT_EQ(clock.SleptMs(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, AdapterGoneTest,
    ::testing::Values(GoneCase{"CIReset", [] { return USBAdapterCIReset(); }, 0},
                      GoneCase{"Status", [] { return GetCIStatus(); }, -1},
                      GoneCase{"WriteCOR", [] { return WriteCOR(0x1FE, 9, 0x320); }, 0},
                      GoneCase{"SetTimeout", [] { return SetTimeout(2000); }, 0},
                      GoneCase{"Exchange", ExchangeWithArguments, 50},
                      GoneCase{"LoadFirmware", [] { return LoadFirmware(0x100); }, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(BridgeTest, AfterTheAdapterLeftTheBusCloseAndReopenWork) {
  OpenAdapter();
  usb.Unplug();
  EXPECT_EQ(USBAdapterClose(), 1);
}

}  // namespace
