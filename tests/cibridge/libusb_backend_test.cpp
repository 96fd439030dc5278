// The libusb back end through the real libusb, against an adapter on emulated usbdevfs.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "libusb_backend.h"
#include "usb_device.h"
#include "usbdevfs_adapter.h"

namespace {

using bridge_test::Packet;
using bridge_test::UsbdevfsAdapter;
using cibridge::CUsbDevice;
using cibridge::GUID_DEVINTERFACE_CI_ADAPTER;
using cibridge::LibusbBackend;

constexpr const char* kExpectedPath =
    "\\\\?\\usb#vid_1b0d&pid_5f10#1-4#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}";

class LibusbBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
      GTEST_SKIP() << "needs libumockdev-preload";
    }
  }

  // Finds and opens the adapter through the device layer, in alternate setting 1.
  void OpenAdapter(CUsbDevice& device) {
    char path[512];
    std::uint32_t capacity = sizeof path;
    ASSERT_TRUE(device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, path, &capacity));
    const std::int32_t setting = 1;
    ASSERT_TRUE(device.Open(path, 1, &setting));
  }
};

TEST(AdapterPath, HasTheIdsWhereTheUpdaterReadsThem) {
  struct Case {
    std::uint16_t vendor, product;
    std::uint8_t bus;
    std::vector<std::uint8_t> ports;
    std::string path;
  };
  const Case cases[] = {
      {0x1B0D, 0x5F10, 1, {4}, kExpectedPath},
      {0x1234,
       0xABCD,
       3,
       {1, 2, 7},
       "\\\\?\\usb#vid_1234&pid_abcd#3-1.2.7#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}"},
      {0x0001,
       0x0002,
       12,
       {},
       "\\\\?\\usb#vid_0001&pid_0002#12#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}"},
  };
  for (const Case& c : cases) {
    const std::string path = cibridge::SynthesiseDevicePath(
        c.vendor, c.product, c.bus, c.ports.data(), static_cast<int>(c.ports.size()));
    EXPECT_EQ(path, c.path);
    char vendor[5] = {}, product[5] = {};
    path.copy(vendor, 4, 12);
    path.copy(product, 4, 21);
    EXPECT_EQ(std::stoul(vendor, nullptr, 16), c.vendor);
    EXPECT_EQ(std::stoul(product, nullptr, 16), c.product);
  }
}

TEST_F(LibusbBackendTest, EnumeratesOnlyAdaptersUnderTheirSynthesisedPath) {
  UsbdevfsAdapter adapter;
  adapter.AddForeignDevice();
  LibusbBackend usb;
  CUsbDevice device(usb);
  char path[512];
  std::uint32_t capacity = sizeof path;
  ASSERT_TRUE(device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, path, &capacity));
  EXPECT_STREQ(path, kExpectedPath);
  EXPECT_EQ(capacity, std::string(kExpectedPath).size());

  // Exactly one member: the root hub and the foreign device do not count.
  const cibridge::UsbHandle set = usb.GetClassDevices(GUID_DEVINTERFACE_CI_ADAPTER);
  ASSERT_NE(set, cibridge::kInvalidHandleValue);
  EXPECT_TRUE(usb.EnumDeviceInfo(set, 0));
  EXPECT_FALSE(usb.EnumDeviceInfo(set, 1));
  EXPECT_TRUE(usb.DestroyDeviceInfoList(set));

  // Another interface class has no members.
  const cibridge::UsbHandle other = usb.GetClassDevices(cibridge::Guid{1, 2, 3, {}});
  EXPECT_FALSE(usb.EnumDeviceInfo(other, 0));
  usb.DestroyDeviceInfoList(other);
}

TEST_F(LibusbBackendTest, OpenClaimsInterfaceZeroAndSelectsSettingOne) {
  UsbdevfsAdapter adapter;
  LibusbBackend usb;
  CUsbDevice device(usb);
  OpenAdapter(device);
  EXPECT_TRUE(device.IsOpen());
  EXPECT_EQ(adapter.ClaimedInterface(), 0);
  EXPECT_EQ(adapter.AlternateSetting(), 1);
  EXPECT_EQ(device.Interface().bNumEndpoints, 2);
  EXPECT_EQ(device.PipeBulkOut().PipeId, 0x04);
  EXPECT_EQ(device.PipeBulkOut().PipeType, cibridge::UsbdPipeTypeBulk);
  EXPECT_EQ(device.PipeBulkOut().MaximumPacketSize, 512);
  EXPECT_EQ(device.PipeInterruptIn().PipeId, 0x88);
  EXPECT_EQ(device.PipeInterruptIn().PipeType, cibridge::UsbdPipeTypeInterrupt);
  EXPECT_EQ(device.PipeInterruptIn().Interval, 1);
  EXPECT_FALSE(adapter.DriverDetached());
  EXPECT_TRUE(device.Close());
}

TEST_F(LibusbBackendTest, OpenDetachesABoundKernelDriverAndCloseGivesItBack) {
  UsbdevfsAdapter adapter("usbtest");
  LibusbBackend usb;
  CUsbDevice device(usb);
  OpenAdapter(device);
  EXPECT_TRUE(adapter.DriverDetached());
  EXPECT_EQ(adapter.ClaimedInterface(), 0);
  EXPECT_TRUE(device.Close());
  EXPECT_TRUE(adapter.DriverReattached());
}

// Each open makes a new libusb handle; an open over an earlier one closes that first.
TEST_F(LibusbBackendTest, RepeatedOpensHoldOneDeviceFile) {
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  UsbdevfsAdapter adapter;
  LibusbBackend usb;
  CUsbDevice device(usb);
  OpenAdapter(device);
  const auto once = openDescriptors();
  for (int retry = 0; retry < 3; ++retry) OpenAdapter(device);
  EXPECT_EQ(openDescriptors(), once);
  EXPECT_TRUE(device.IsOpen());
  EXPECT_TRUE(device.Close());
}

TEST_F(LibusbBackendTest, OpenOfAnUnknownPathFails) {
  UsbdevfsAdapter adapter;
  LibusbBackend usb;
  CUsbDevice device(usb);
  const std::int32_t setting = 1;
  EXPECT_FALSE(device.Open(
      "\\\\?\\usb#vid_1b0d&pid_5f10#1-9#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}", 1, &setting));
  EXPECT_EQ(device.DeviceHandle(), cibridge::kInvalidHandleValue);
}

TEST_F(LibusbBackendTest, APartlyReadReplyServesTheNextReadUntilFlushed) {
  UsbdevfsAdapter adapter;
  LibusbBackend usb;
  CUsbDevice device(usb);
  OpenAdapter(device);
  ASSERT_TRUE(device.ChangePipeTimeout(200));

  adapter.ScriptReply({{0x00, 0x01, 0x04, 0x02, 0x00, 0x80}});
  const std::uint8_t negotiate[6] = {0x60, 0x00, 0xFF, 0x02, 0x80, 0x00};
  std::uint32_t count = 0;
  ASSERT_TRUE(device.WriteBulkOut(negotiate, sizeof negotiate, &count));
  EXPECT_EQ(count, 6u);
  ASSERT_EQ(adapter.Frames().size(), 1u);
  EXPECT_EQ(adapter.Frames()[0], Packet(negotiate, negotiate + 6));
  EXPECT_EQ(adapter.ClearedHalts(), 2) << "both pipes are reset before the command";

  std::uint8_t header[4] = {};
  ASSERT_TRUE(device.ReadInterruptIn(header, 4, &count));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(header[2], 0x04);
  std::uint8_t rest[16] = {};
  ASSERT_TRUE(device.ReadInterruptIn(rest, sizeof rest, &count));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(rest[1], 0x80);
  EXPECT_EQ(adapter.InUrbsSubmitted(), 1) << "the rest came from the pipe's buffer";

  // The rest of a reply is discarded by the flush before the next command.
  adapter.ScriptReply({{0x00, 0x01, 0x06, 0x03, 0xA, 0xB, 0xC}});
  const std::uint8_t poll[4] = {0x80, 0x00, 0xFF, 0x00};
  ASSERT_TRUE(device.WriteBulkOut(poll, 4, &count));
  ASSERT_TRUE(device.ReadInterruptIn(header, 4, &count));
  EXPECT_EQ(header[2], 0x06);
  adapter.ScriptReply({});
  ASSERT_TRUE(device.WriteBulkOut(poll, 4, &count));
  EXPECT_FALSE(device.ReadInterruptIn(rest, sizeof rest, &count))
      << "nothing left of the earlier reply: the read waits for the device and times out";
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(device.Close());
}

TEST_F(LibusbBackendTest, AReadWithoutReplyEndsOnThePipeTimeout) {
  UsbdevfsAdapter adapter;
  LibusbBackend usb;
  CUsbDevice device(usb);
  OpenAdapter(device);
  ASSERT_TRUE(device.ChangePipeTimeout(100));
  adapter.ScriptReply({});
  const std::uint8_t status[4] = {0x50, 0x00, 0xFF, 0x00};
  std::uint32_t count = 0;
  ASSERT_TRUE(device.WriteBulkOut(status, 4, &count));
  std::uint8_t reply[8];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(device.ReadInterruptIn(reply, sizeof reply, &count));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  // The pipe works again afterwards.
  adapter.ScriptReply({{0x00, 0x00, 0x05, 0x01, 0x85}});
  ASSERT_TRUE(device.WriteBulkOut(status, 4, &count));
  ASSERT_TRUE(device.ReadInterruptIn(reply, sizeof reply, &count));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(reply[4], 0x85);
}

TEST_F(LibusbBackendTest, ControlTransfersGoToTheDefaultPipe) {
  UsbdevfsAdapter adapter;
  LibusbBackend usb;
  CUsbDevice device(usb);
  OpenAdapter(device);
  std::uint8_t hold = 1;
  std::uint32_t count = 9;
  EXPECT_TRUE(device.ControlTransfer({0x40, 0xA0, 0xE600, 0, 1}, &hold, 1, &count));
  EXPECT_EQ(count, 1u);
  std::uint8_t descriptor[18] = {};
  EXPECT_TRUE(device.ControlTransfer({0x80, 0x06, 0x0100, 0, 18}, descriptor, 18, &count));
  EXPECT_EQ(count, 18u);
  // A data stage longer than the buffer is refused before it reaches the device.
  EXPECT_FALSE(device.ControlTransfer({0x80, 0x06, 0x0100, 0, 18}, descriptor, 8, &count));
}

TEST_F(LibusbBackendTest, AnAdapterThatLeftTheBusFailsEveryTransferAndIsNotFound) {
  UsbdevfsAdapter adapter;
  LibusbBackend usb;
  CUsbDevice device(usb);
  OpenAdapter(device);
  adapter.Unplug();
  const std::uint8_t status[4] = {0x50, 0x00, 0xFF, 0x00};
  std::uint32_t count = 0;
  EXPECT_FALSE(device.WriteBulkOut(status, 4, &count));
  std::uint8_t reply[8];
  EXPECT_FALSE(device.ReadInterruptIn(reply, sizeof reply, &count));
  std::uint8_t hold = 1;
  EXPECT_FALSE(device.ControlTransfer({0x40, 0xA0, 0xE600, 0, 1}, &hold, 1, &count));
  EXPECT_TRUE(device.Close());

  // libusb learns of the removal from its hot-plug monitor, in its own time.
  char path[512];
  bool found = true;
  for (int attempt = 0; attempt < 100 && found; ++attempt) {
    std::uint32_t capacity = sizeof path;
    found = device.FindDevicePath(GUID_DEVINTERFACE_CI_ADAPTER, path, &capacity);
    if (found) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(found);
}

}  // namespace
