// The libusb back end built with a list of two adapter ID pairs (tests/packaging/CMakeLists.txt):
// a cold adapter under IDs other than 1B0D:5F10 is found once its pair is listed, beside the
// adapter under the default pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "libusb_backend.h"
#include "usbdevfs_adapter.h"

namespace {

using cibridge::GUID_DEVINTERFACE_CI_ADAPTER;

TEST(OtherAdapterIds, AnAdapterUnderAListedPairIsFound) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
    GTEST_SKIP() << "needs libumockdev-preload";
  }
  ASSERT_EQ(std::size(cibridge::kCiAdapterIds), 2u);

  // 1B0D:5F10 on port 4, and on port 2 a device under 1234:5678 that the default list
  // does not know.
  bridge_test::UsbdevfsAdapter adapter;
  adapter.AddForeignDevice();
  cibridge::LibusbBackend usb;
  const cibridge::UsbHandle set = usb.GetClassDevices(GUID_DEVINTERFACE_CI_ADAPTER);
  ASSERT_NE(set, cibridge::kInvalidHandleValue);
  std::vector<std::string> paths;
  cibridge::DeviceInterfaceData member;
  for (std::uint32_t i = 0; usb.EnumDeviceInterfaces(set, GUID_DEVINTERFACE_CI_ADAPTER, i, &member);
       ++i) {
    char path[512];
    ASSERT_TRUE(usb.GetDeviceInterfaceDetail(set, member, path, sizeof path, nullptr));
    paths.emplace_back(path);
  }
  usb.DestroyDeviceInfoList(set);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{
                       "\\\\?\\usb#vid_1234&pid_5678#1-2#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}",
                       "\\\\?\\usb#vid_1b0d&pid_5f10#1-4#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}"}));
}

}  // namespace
