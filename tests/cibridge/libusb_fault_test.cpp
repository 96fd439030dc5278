// USB faults through the real libusb against the adapter on emulated usbdevfs: each one ends
// the call with its failure value, without hanging and without crashing.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "libusb_backend.h"
#include "usb_device.h"
#include "usbdevfs_adapter.h"

namespace {

using bridge_test::UsbdevfsAdapter;
using cibridge::CUsbDevice;
using cibridge::LibusbBackend;

constexpr const char* kPath =
    "\\\\?\\usb#vid_1b0d&pid_5f10#1-4#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}";
constexpr std::uint8_t kStatusCommand[4] = {0x50, 0x00, 0xFF, 0x00};

// While it lives, this thread acts without the right to pass over file permissions (as a
// user who is not root), so that a node the user may not open is refused.
class WithoutPermissionOverride {
 public:
  WithoutPermissionOverride() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    syscall(SYS_capget, &header_, saved_);
    __user_cap_data_struct reduced[2];
    std::memcpy(reduced, saved_, sizeof reduced);
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
      reduced[capability / 32].effective &= ~(1u << (capability % 32));
    syscall(SYS_capset, &header_, reduced);
  }
  ~WithoutPermissionOverride() { syscall(SYS_capset, &header_, saved_); }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
};

class LibusbFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr)
      GTEST_SKIP() << "needs libumockdev-preload";
  }

  void Open(CUsbDevice& device) {
    const std::int32_t setting = 1;
    ASSERT_TRUE(device.Open(kPath, 1, &setting));
  }

  UsbdevfsAdapter adapter;
  LibusbBackend usb;
};

TEST_F(LibusbFaultTest, UnplugDuringABlockedReadEndsTheRead) {
  CUsbDevice device(usb);
  Open(device);
  // No pipe time-out: only the removal can end the read.
  ASSERT_TRUE(device.ChangePipeTimeout(0));
  adapter.ScriptReply({});
  std::uint32_t count = 0;
  ASSERT_TRUE(device.WriteBulkOut(kStatusCommand, 4, &count));
  const int before = adapter.InUrbsSubmitted();
  std::thread unplug([&] {
    while (adapter.InUrbsSubmitted() == before)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    adapter.Unplug();
  });
  std::uint8_t reply[8];
  EXPECT_FALSE(device.ReadInterruptIn(reply, sizeof reply, &count));
  unplug.join();
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(device.WriteBulkOut(kStatusCommand, 4, &count));
  EXPECT_TRUE(device.Close());
}

TEST_F(LibusbFaultTest, PermissionDeniedAtOpenGivesNoFile) {
  ASSERT_EQ(chmod(adapter.NodeFile().c_str(), 0), 0) << std::strerror(errno);
  {
    WithoutPermissionOverride user;
    EXPECT_EQ(usb.CreateDeviceFile(kPath), cibridge::kInvalidHandleValue);
    CUsbDevice device(usb);
    const std::int32_t setting = 1;
    EXPECT_FALSE(device.Open(kPath, 1, &setting));
  }
  ASSERT_EQ(chmod(adapter.NodeFile().c_str(), 0666), 0);
  const auto file = usb.CreateDeviceFile(kPath);
  EXPECT_NE(file, cibridge::kInvalidHandleValue) << "open once the user may";
  EXPECT_TRUE(usb.CloseDeviceFile(file));
}

TEST_F(LibusbFaultTest, ABusyInterfaceIsNotInitialisedAndTheFileStaysUsable) {
  adapter.RefuseClaim(EBUSY);
  const auto file = usb.CreateDeviceFile(kPath);
  ASSERT_NE(file, cibridge::kInvalidHandleValue);
  cibridge::UsbHandle interfaceHandle = 0;
  EXPECT_FALSE(usb.Initialize(file, &interfaceHandle));
  EXPECT_EQ(interfaceHandle, 0);
  EXPECT_TRUE(usb.CloseDeviceFile(file));

  CUsbDevice device(usb);
  const std::int32_t setting = 1;
  EXPECT_FALSE(device.Open(kPath, 1, &setting));
  adapter.RefuseClaim(0);
  EXPECT_TRUE(device.Open(kPath, 1, &setting)) << "open once the other program let go";
  EXPECT_TRUE(device.Close());
}

TEST_F(LibusbFaultTest, AStalledPipeFailsUntilItIsReset) {
  CUsbDevice device(usb);
  Open(device);
  cibridge::UsbHandle handle = 0;
  const auto file = usb.CreateDeviceFile(kPath);
  ASSERT_NE(file, cibridge::kInvalidHandleValue);
  ASSERT_TRUE(device.Close());
  ASSERT_TRUE(usb.Initialize(file, &handle));
  ASSERT_TRUE(usb.SetCurrentAlternateSetting(handle, 1));

  adapter.Stall(0x04);
  std::uint32_t count = 99;
  EXPECT_FALSE(usb.WritePipe(handle, 0x04, kStatusCommand, 4, &count));
  EXPECT_EQ(count, 0u);
  adapter.Stall(0x88);
  std::uint8_t reply[8];
  EXPECT_FALSE(usb.ReadPipe(handle, 0x88, reply, sizeof reply, &count));
  EXPECT_EQ(count, 0u);

  EXPECT_TRUE(usb.ResetPipe(handle, 0x04));
  EXPECT_TRUE(usb.ResetPipe(handle, 0x88));
  adapter.ScriptReply({{0x00, 0x00, 0x05, 0x01, 0x85}});
  EXPECT_TRUE(usb.WritePipe(handle, 0x04, kStatusCommand, 4, &count));
  EXPECT_TRUE(usb.ReadPipe(handle, 0x88, reply, sizeof reply, &count));
  EXPECT_EQ(count, 5u);
  EXPECT_TRUE(usb.Free(handle));
  EXPECT_TRUE(usb.CloseDeviceFile(file));
}

}  // namespace
