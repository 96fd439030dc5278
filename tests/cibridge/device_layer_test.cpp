// The device layer over the scripted seam: finding the path, opening, the alternate setting
// with its pipes and policies, and the transfer primitives' guards.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "scripted_usb.h"
#include "usb_device.h"

namespace {

using cibridge::CUsbDevice;
using cibridge::GUID_DEVINTERFACE_CI_ADAPTER;
using cibridge::PipeInformation;
using sim::ScriptedUsb;
using sim::UsbOp;

std::string PathOfLength(std::size_t length, char fill) {
  std::string path = "\\\\?\\usb#vid_1b0d&pid_5f10#";
  path.resize(length, fill);
  return path;
}

struct FindCase {
  const char* name;
  std::vector<std::string> devices;
  std::uint32_t capacity;
  bool found;
  std::string path;  // expected in the buffer when found
  std::uint32_t capacityOut;
};

class FindDevicePathTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindDevicePathTest, ReturnsTheLastMemberWithinTheCapacity) {
  const FindCase& c = GetParam();
  ScriptedUsb usb;
  for (const std::string& path : c.devices) usb.AddDevice(path);
  CUsbDevice device(usb);
  std::vector<char> buffer(1024, 'x');
  std::uint32_t capacity = c.capacity;
  EXPECT_EQ(device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, buffer.data(), &capacity), c.found);
  EXPECT_EQ(capacity, c.capacityOut);
  if (c.found) {
    EXPECT_EQ(std::string(buffer.data()), c.path);
  }
  EXPECT_EQ(usb.OpenSets(), 0u) << "the device information set is released on every path";
}

const std::string kLong511 = PathOfLength(511, 'a');
const std::string kLong512 = PathOfLength(512, 'b');

INSTANTIATE_TEST_SUITE_P(
    Cases, FindDevicePathTest,
    ::testing::Values(
        FindCase{"NoDevice", {}, 512, false, "", 512},
        FindCase{"OneDevice",
                 {"\\\\?\\usb#vid_1b0d&pid_5f10#1-2#{x}"},
                 512,
                 true,
                 "\\\\?\\usb#vid_1b0d&pid_5f10#1-2#{x}",
                 33},
        FindCase{"LastOfThreeWins", {"first", "second", "third"}, 512, true, "third", 5},
        FindCase{"Path511Fits", {kLong511}, 512, true, kLong511, 511},
        FindCase{"Path512DoesNotFit", {kLong512}, 512, false, "", 0},
        FindCase{"ExactlyCapacityLessOne", {"abcd"}, 5, true, "abcd", 4},
        FindCase{"ExactlyCapacity", {"abcde"}, 5, false, "", 0},
        FindCase{"LastTooLongEvenIfFirstFits", {"short", kLong512}, 512, false, "", 0}),
    [](const auto& info) { return info.param.name; });

TEST(FindDevicePath, RefusesMissingBufferOrCapacityWithoutEnumerating) {
  ScriptedUsb usb;
  usb.AddDevice("path");
  CUsbDevice device(usb);
  char buffer[16];
  std::uint32_t capacity = 0;
  EXPECT_FALSE(device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, buffer, &capacity));
  capacity = 16;
  EXPECT_FALSE(device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, nullptr, &capacity));
  EXPECT_FALSE(device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, buffer, nullptr));
  EXPECT_TRUE(usb.Calls().empty());
}

struct FindFailureCase {
  const char* name;
  UsbOp op;
  int nth;
  bool setObtained;
};

class FindDevicePathFailureTest : public ::testing::TestWithParam<FindFailureCase> {};

TEST_P(FindDevicePathFailureTest, FailsAndReleasesWhatItObtained) {
  const FindFailureCase& c = GetParam();
  ScriptedUsb usb;
  usb.AddDevice("one");
  usb.AddDevice("two");
  usb.AddDevice("three");
  usb.FailCall(c.op, c.nth);
  CUsbDevice device(usb);
  char buffer[64] = {};
  std::uint32_t capacity = sizeof buffer;
  EXPECT_FALSE(device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, buffer, &capacity));
  EXPECT_EQ(usb.OpenSets(), 0u);
  EXPECT_EQ(usb.CallsOf(UsbOp::DestroyDeviceInfoList).size(), c.setObtained ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindDevicePathFailureTest,
    ::testing::Values(FindFailureCase{"NoSet", UsbOp::GetClassDevices, 0, false},
                      FindFailureCase{"NoFirstMember", UsbOp::EnumDeviceInfo, 0, true},
                      FindFailureCase{"SecondInterfaceFails", UsbOp::EnumDeviceInterfaces, 1, true},
                      FindFailureCase{"DetailFails", UsbOp::GetDeviceInterfaceDetail, 1, true}),
    [](const auto& info) { return info.param.name; });

// --- Open, alternate setting, pipes ---

class OpenedDeviceTest : public ::testing::Test {
 protected:
  bool Open(std::int32_t setting = 1) {
    usb.AddDevice("adapter");
    return device.Open("adapter", 1, &setting);
  }
  ScriptedUsb usb;
  CUsbDevice device{usb};
};

TEST_F(OpenedDeviceTest, SetsTheSixPoliciesInOrderOnEveryPipe) {
  usb.UseAdapterSettings();
  ASSERT_TRUE(Open());
  EXPECT_TRUE(device.IsOpen());
  const std::vector<std::pair<std::uint32_t, sim::Bytes>> expected = {
      {cibridge::ALLOW_PARTIAL_READS, {1}},
      {cibridge::AUTO_FLUSH, {0}},
      {cibridge::RAW_IO, {0}},
      {cibridge::SHORT_PACKET_TERMINATE, {0}},
      {cibridge::AUTO_CLEAR_STALL, {0}},
      {cibridge::PIPE_TRANSFER_TIMEOUT, {0x60, 0xEA, 0, 0}}};
  const auto policies = usb.CallsOf(UsbOp::SetPipePolicy);
  ASSERT_EQ(policies.size(), 12u);
  for (std::size_t i = 0; i < policies.size(); ++i) {
    EXPECT_EQ(policies[i].pipeId, i < 6 ? 0x04 : 0x88) << i;
    EXPECT_EQ(policies[i].policy, expected[i % 6].first) << i;
    EXPECT_EQ(policies[i].data, expected[i % 6].second) << i;
  }
  // The setting is queried and selected before any pipe is looked at.
  const auto& calls = usb.Calls();
  auto position = [&](UsbOp op) {
    for (std::size_t i = 0; i < calls.size(); ++i)
      if (calls[i].op == op) return i;
    return calls.size();
  };
  EXPECT_LT(position(UsbOp::QueryInterfaceSettings), position(UsbOp::SetCurrentAlternateSetting));
  EXPECT_LT(position(UsbOp::SetCurrentAlternateSetting), position(UsbOp::QueryPipe));
  EXPECT_EQ(usb.CallsOf(UsbOp::SetCurrentAlternateSetting).at(0).index, 1u);
}

struct FilingCase {
  const char* name;
  std::vector<PipeInformation> pipes;
  std::uint8_t bulkIn, bulkOut, interruptIn, interruptOut, control;
  std::vector<std::uint8_t> configured;  // pipes that received policies, in order
};

class PipeFilingTest : public ::testing::TestWithParam<FilingCase> {};

TEST_P(PipeFilingTest, FilesPipesByTypeAndDirection) {
  const FilingCase& c = GetParam();
  ScriptedUsb usb;
  usb.SetSetting(0, {});
  usb.SetSetting(1, c.pipes);
  usb.AddDevice("adapter");
  CUsbDevice device(usb);
  const std::int32_t setting = 1;
  ASSERT_TRUE(device.Open("adapter", 1, &setting));
  EXPECT_EQ(device.PipeBulkIn().PipeId, c.bulkIn);
  EXPECT_EQ(device.PipeBulkOut().PipeId, c.bulkOut);
  EXPECT_EQ(device.PipeInterruptIn().PipeId, c.interruptIn);
  EXPECT_EQ(device.PipeInterruptOut().PipeId, c.interruptOut);
  EXPECT_EQ(device.PipeControl().PipeId, c.control);
  std::vector<std::uint8_t> configured;
  for (const auto& call : usb.CallsOf(UsbOp::SetPipePolicy)) {
    if (call.policy == cibridge::ALLOW_PARTIAL_READS) configured.push_back(call.pipeId);
  }
  EXPECT_EQ(configured, c.configured);
}

constexpr auto kBulk = cibridge::UsbdPipeTypeBulk;
constexpr auto kInt = cibridge::UsbdPipeTypeInterrupt;
constexpr auto kIso = cibridge::UsbdPipeTypeIsochronous;
constexpr auto kCtl = cibridge::UsbdPipeTypeControl;

INSTANTIATE_TEST_SUITE_P(
    Cases, PipeFilingTest,
    ::testing::Values(
        FilingCase{"Adapter",
                   {{kBulk, 0x04, 512, 0}, {kInt, 0x88, 512, 1}},
                   0,
                   0x04,
                   0x88,
                   0,
                   0,
                   {0x04, 0x88}},
        FilingCase{"LaterBulkOutWins",
                   {{kBulk, 0x02, 512, 0}, {kInt, 0x88, 512, 1}, {kBulk, 0x06, 512, 0}},
                   0,
                   0x06,
                   0x88,
                   0,
                   0,
                   {0x02, 0x88, 0x06}},
        FilingCase{"IsochronousSkipped",
                   {{kIso, 0x81, 1024, 1}, {kBulk, 0x04, 512, 0}, {kIso, 0x02, 1024, 1}},
                   0,
                   0x04,
                   0,
                   0,
                   0,
                   {0x04}},
        FilingCase{"AllKinds",
                   {{kBulk, 0x81, 512, 0},
                    {kBulk, 0x02, 512, 0},
                    {kInt, 0x83, 64, 4},
                    {kInt, 0x04, 64, 4},
                    {kCtl, 0x05, 64, 0}},
                   0x81,
                   0x02,
                   0x83,
                   0x04,
                   0x05,
                   {0x81, 0x02, 0x83, 0x04, 0x05}}),
    [](const auto& info) { return info.param.name; });

TEST_F(OpenedDeviceTest, SettingWithoutEndpointsSelectsButNoTransferRuns) {
  usb.UseAdapterSettings();
  ASSERT_TRUE(Open(0));
  EXPECT_TRUE(device.IsOpen());
  EXPECT_TRUE(usb.CallsOf(UsbOp::QueryPipe).empty());
  std::uint8_t data[4] = {1, 2, 3, 4};
  std::uint32_t count = 99;
  EXPECT_FALSE(device.WriteBulkOut(data, 4, &count));
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_FALSE(device.ReadInterruptIn(data, 4, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(usb.CallsOf(UsbOp::WritePipe).empty());
  EXPECT_TRUE(usb.CallsOf(UsbOp::ReadPipe).empty());
}

TEST_F(OpenedDeviceTest, ReselectingASettingClearsPipesItLacks) {
  usb.UseAdapterSettings();
  ASSERT_TRUE(Open(1));
  ASSERT_EQ(device.PipeBulkOut().PipeId, 0x04);
  ASSERT_TRUE(device.SelectAlternateSetting(0));
  EXPECT_EQ(device.PipeBulkOut().PipeId, 0);
  EXPECT_EQ(device.PipeInterruptIn().PipeId, 0);
}

TEST_F(OpenedDeviceTest, AFailingPipeQueryKeepsThePipesFiledSoFar) {
  usb.UseAdapterSettings();
  usb.FailCall(UsbOp::QueryPipe, 1);
  EXPECT_FALSE(Open());
  EXPECT_EQ(device.PipeBulkOut().PipeId, 0x04);
  EXPECT_EQ(device.PipeInterruptIn().PipeId, 0);
}

TEST_F(OpenedDeviceTest, UseSettingFlagOtherThanOneSelectsSettingZero) {
  usb.UseAdapterSettings();
  usb.AddDevice("adapter");
  const std::int32_t setting = 1;
  ASSERT_TRUE(device.Open("adapter", 0, &setting));
  EXPECT_EQ(usb.CallsOf(UsbOp::SetCurrentAlternateSetting).at(0).index, 0u);
}

struct OpenFailureCase {
  const char* name;
  UsbOp failing;
  bool leaveInvalidInterface;
  cibridge::UsbHandle deviceHandle;  // after the open
  bool interfaceValid;               // only a failed selection leaves a usable handle behind
  bool closeResult;
};

class OpenFailureTest : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailureTest, LeavesHandlesForCloseToRelease) {
  const OpenFailureCase& c = GetParam();
  ScriptedUsb usb;
  usb.UseAdapterSettings();
  usb.AddDevice("adapter");
  usb.FailCall(c.failing);
  if (c.leaveInvalidInterface) usb.SetInitializeFailureHandle(cibridge::kInvalidHandleValue);
  CUsbDevice device(usb);
  const std::int32_t setting = 1;
  EXPECT_FALSE(device.Open("adapter", 1, &setting));
  EXPECT_EQ(device.IsOpen(), c.interfaceValid);
  EXPECT_EQ(device.DeviceHandle(), c.deviceHandle);
  EXPECT_EQ(device.Close(), c.closeResult);
  EXPECT_FALSE(usb.FileOpen());
  EXPECT_FALSE(usb.InterfaceBound());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailureTest,
    ::testing::Values(OpenFailureCase{"FileDoesNotOpen", UsbOp::CreateDeviceFile, false,
                                      cibridge::kInvalidHandleValue, false, false},
                      OpenFailureCase{"InitializeFails", UsbOp::Initialize, false,
                                      ScriptedUsb::kFileHandle, false, true},
                      OpenFailureCase{"InitializeLeavesInvalidHandle", UsbOp::Initialize, true,
                                      ScriptedUsb::kFileHandle, false, true},
                      OpenFailureCase{"SettingQueryFails", UsbOp::QueryInterfaceSettings, false,
                                      ScriptedUsb::kFileHandle, true, true},
                      OpenFailureCase{"SettingSelectionFails", UsbOp::SetCurrentAlternateSetting,
                                      false, ScriptedUsb::kFileHandle, true, true}),
    [](const auto& info) { return info.param.name; });

// A retry opens again without closing: the earlier file is closed first, so one stays open,
// and a binding that failed with an invalid handle does not refuse the next open.
struct ReopenCase {
  const char* name;
  std::optional<UsbOp> failing;  // fails once, on the first open
  bool leaveInvalidInterface;
  bool closeBetween;  // USBAdapterClose between the two opens
};

class ReopenTest : public ::testing::TestWithParam<ReopenCase> {};

TEST_P(ReopenTest, TheNextOpenHoldsOneFileAndSucceeds) {
  const ReopenCase& c = GetParam();
  ScriptedUsb usb;
  usb.UseAdapterSettings();
  usb.AddDevice("adapter");
  if (c.failing) usb.FailCall(*c.failing);
  if (c.leaveInvalidInterface) usb.SetInitializeFailureHandle(cibridge::kInvalidHandleValue);
  CUsbDevice device(usb);
  const std::int32_t setting = 1;
  EXPECT_EQ(device.Open("adapter", 1, &setting), !c.failing);
  if (c.closeBetween) device.Close();
  EXPECT_TRUE(device.Open("adapter", 1, &setting));
  EXPECT_TRUE(device.IsOpen());
  EXPECT_EQ(usb.OpenFiles(), 1);
  EXPECT_TRUE(device.Close());
  EXPECT_EQ(usb.OpenFiles(), 0);
  EXPECT_FALSE(usb.InterfaceBound());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReopenTest,
    ::testing::Values(
        ReopenCase{"AfterASuccessfulOpen", std::nullopt, false, false},
        ReopenCase{"AfterFailedInitialize", UsbOp::Initialize, false, false},
        ReopenCase{"AfterFailedSelection", UsbOp::SetCurrentAlternateSetting, false, false},
        ReopenCase{"AfterInvalidInterfaceHandle", UsbOp::Initialize, true, false},
        ReopenCase{"AfterInvalidInterfaceHandleAndClose", UsbOp::Initialize, true, true}),
    [](const auto& info) { return info.param.name; });

TEST(DeviceLayer, CloseOnANewObjectSucceedsWithoutPlatformCalls) {
  ScriptedUsb usb;
  CUsbDevice device(usb);
  EXPECT_TRUE(device.Close());
  EXPECT_TRUE(usb.CallsOf(UsbOp::CloseDeviceFile).empty());
  EXPECT_TRUE(usb.CallsOf(UsbOp::Free).empty());
}

TEST(DeviceLayer, NullPathDoesNotOpen) {
  ScriptedUsb usb;
  CUsbDevice device(usb);
  EXPECT_FALSE(device.Open(nullptr, 1, nullptr));
  EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(OpenedDeviceTest, EveryWriteResetsAndFlushesBothPipesFirst) {
  usb.UseAdapterSettings();
  ASSERT_TRUE(Open());
  usb.ClearCalls();
  const std::uint8_t frame[4] = {0x80, 0x00, 0xFF, 0x00};
  for (int round = 0; round < 2; ++round) {
    std::uint32_t written = 0;
    ASSERT_TRUE(device.WriteBulkOut(frame, 4, &written));
    EXPECT_EQ(written, 4u);
  }
  std::vector<std::pair<UsbOp, std::uint8_t>> seen;
  for (const auto& call : usb.Calls()) seen.emplace_back(call.op, call.pipeId);
  const std::vector<std::pair<UsbOp, std::uint8_t>> one = {{UsbOp::ResetPipe, 0x04},
                                                           {UsbOp::FlushPipe, 0x04},
                                                           {UsbOp::ResetPipe, 0x88},
                                                           {UsbOp::FlushPipe, 0x88},
                                                           {UsbOp::WritePipe, 0x04}};
  std::vector<std::pair<UsbOp, std::uint8_t>> expected = one;
  expected.insert(expected.end(), one.begin(), one.end());
  EXPECT_EQ(seen, expected);
}

TEST_F(OpenedDeviceTest, StaleReplyBytesAreDiscardedBeforeTheNextCommand) {
  usb.UseAdapterSettings();
  ASSERT_TRUE(Open());
  usb.QueueIn({0x00, 0x00, 0x06, 0x02, 0xAA, 0xBB});
  std::uint8_t buffer[8] = {};
  std::uint32_t count = 0;
  ASSERT_TRUE(device.ReadInterruptIn(buffer, 4, &count));  // takes the header only
  EXPECT_EQ(usb.QueuedInBytes(), 2u);
  const std::uint8_t frame[4] = {0x50, 0x00, 0xFF, 0x00};
  ASSERT_TRUE(device.WriteBulkOut(frame, 4, &count));
  EXPECT_EQ(usb.QueuedInBytes(), 0u);
}

struct GuardCase {
  const char* name;
  bool nullData;
  std::uint32_t length;
  bool nullCount;
};

class TransferGuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(TransferGuardTest, RefusesBadArgumentsWithoutTouchingThePipes) {
  const GuardCase& c = GetParam();
  ScriptedUsb usb;
  usb.UseAdapterSettings();
  usb.AddDevice("adapter");
  CUsbDevice device(usb);
  const std::int32_t setting = 1;
  ASSERT_TRUE(device.Open("adapter", 1, &setting));
  usb.ClearCalls();
  std::uint8_t data[8] = {};
  std::uint32_t count = 7;
  EXPECT_FALSE(
      device.WriteBulkOut(c.nullData ? nullptr : data, c.length, c.nullCount ? nullptr : &count));
  EXPECT_FALSE(device.ReadInterruptIn(c.nullData ? nullptr : data, c.length,
                                      c.nullCount ? nullptr : &count));
  EXPECT_TRUE(usb.Calls().empty());
  EXPECT_EQ(count, 7u);
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferGuardTest,
                         ::testing::Values(GuardCase{"NullData", true, 4, false},
                                           GuardCase{"ZeroLength", false, 0, false},
                                           GuardCase{"NullCount", false, 4, true}),
                         [](const auto& info) { return info.param.name; });

TEST_F(OpenedDeviceTest, InvalidInterfaceHandleRefusesEveryPrimitive) {
  usb.UseAdapterSettings();
  usb.SetInitializeFailureHandle(cibridge::kInvalidHandleValue);
  usb.FailCall(UsbOp::Initialize);
  EXPECT_FALSE(Open());
  EXPECT_EQ(device.InterfaceHandle(), cibridge::kInvalidHandleValue);
  usb.ClearCalls();
  std::uint8_t data[4] = {};
  std::uint32_t count = 5;
  EXPECT_FALSE(device.WriteBulkOut(data, 4, &count));
  EXPECT_FALSE(device.ReadInterruptIn(data, 4, &count));
  EXPECT_FALSE(device.ControlTransfer({}, data, 4, &count));
  EXPECT_EQ(count, 5u) << "the count is not touched";
  EXPECT_FALSE(device.SelectAlternateSetting(1));
  EXPECT_FALSE(device.Release());
  EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(OpenedDeviceTest, FailedControlTransferReportsZeroCount) {
  usb.UseAdapterSettings();
  ASSERT_TRUE(Open());
  usb.FailCall(UsbOp::ControlTransfer);
  std::uint8_t data[1] = {1};
  std::uint32_t count = 9;
  EXPECT_FALSE(device.ControlTransfer({0x40, 0xA0, 0xE600, 0, 1}, data, 1, &count));
  EXPECT_EQ(count, 0u);
}

TEST_F(OpenedDeviceTest, TimeoutChangeReachesEveryPipeOfSettingOne) {
  usb.UseAdapterSettings();
  ASSERT_TRUE(Open());
  ASSERT_TRUE(device.ChangePipeTimeout(2000));
  EXPECT_EQ(usb.PipeTimeout(0x04), 2000u);
  EXPECT_EQ(usb.PipeTimeout(0x88), 2000u);
  usb.FailCall(UsbOp::QueryPipe, 1);
  EXPECT_FALSE(device.ChangePipeTimeout(500));
  EXPECT_EQ(usb.PipeTimeout(0x04), 500u);
  EXPECT_EQ(usb.PipeTimeout(0x88), 2000u);
}

}  // namespace
