// Descriptors and device paths into the libusb back end's enumeration, on an emulated usbdevfs
// (umockdev; the target runs with libumockdev-preload, see fuzz/run): a device with fuzzed
// descriptors, IDs and port chain is added, found or passed over, its path fetched into
// buffers of any size, opened by a fuzzed path, and its interface settings and pipes queried.
#include <fuzzer/FuzzedDataProvider.h>
#include <umockdev.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "libusb_backend.h"

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (auto byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

// A device descriptor of the CI adapter, so that the fuzzer starts past the ID filter.
std::vector<std::uint8_t> Descriptors(FuzzedDataProvider& input) {
  std::vector<std::uint8_t> bytes = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x0d,
                                     0x1b, 0x10, 0x5f, 0x00, 0x00, 0x01, 0x02, 0x00, 0x01};
  const auto tail = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<int>(0, 120));
  if (input.ConsumeBool()) bytes.clear();  // entirely fuzzed
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Never enumerate the machine's own USB devices: without the preload library, do nothing.
  static const bool emulated = [] {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
  }();
  if (!emulated) return 0;
  static UMockdevTestbed* testbed = umockdev_testbed_new();

  FuzzedDataProvider input(data, size);
  std::string ports = "4";
  for (int hops = input.ConsumeIntegralInRange<int>(0, 8); hops > 0; --hops)
    ports += "." + std::to_string(input.ConsumeIntegralInRange<int>(0, 300));
  const int bus = input.ConsumeIntegralInRange<int>(0, 300);
  const std::string sysPath = "/devices/usb1/1-" + ports;
  const std::string record = "P: " + sysPath +
                             "\nN: bus/usb/001/002\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                             "E: BUSNUM=001\nE: DEVNUM=002\nE: DEVNAME=/dev/bus/usb/001/002\n"
                             "A: busnum=" +
                             std::to_string(bus) +
                             "\\n\nA: devnum=2\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n"
                             "H: descriptors=" +
                             Hex(Descriptors(input)) + "\n";
  if (!umockdev_testbed_add_from_string(testbed, record.c_str(), nullptr)) return 0;

  {
    // One back end (one libusb context) for the whole run, as in the library.
    static cibridge::LibusbBackend usb;
    const auto set = usb.GetClassDevices(cibridge::GUID_DEVINTERFACE_CI_ADAPTER);
    std::string found;
    if (set != cibridge::kInvalidHandleValue) {
      for (std::uint32_t member = 0; usb.EnumDeviceInfo(set, member) && member < 4; ++member) {
        cibridge::DeviceInterfaceData interfaceData;
        if (!usb.EnumDeviceInterfaces(set, cibridge::GUID_DEVINTERFACE_CI_ADAPTER, member,
                                      &interfaceData))
          break;
        std::uint32_t required = 0;
        (void)usb.GetDeviceInterfaceDetail(set, interfaceData, nullptr, 0, &required);
        const auto offered = input.ConsumeIntegralInRange<std::uint32_t>(0, required + 4);
        std::vector<char> path(offered + 8, '\x7f');
        if (usb.GetDeviceInterfaceDetail(set, interfaceData, offered ? path.data() : nullptr,
                                         offered, &required)) {
          if (required > offered) std::abort();
          found = path.data();
        }
        for (std::size_t i = offered; i < path.size(); ++i)
          if (path[i] != '\x7f') std::abort();
      }
      usb.DestroyDeviceInfoList(set);
    }
    const std::string path = input.ConsumeBool() ? found : input.ConsumeRandomLengthString(120);
    const auto file = usb.CreateDeviceFile(path.c_str());
    if (file != cibridge::kInvalidHandleValue) {
      cibridge::UsbHandle interfaceHandle = 0;
      if (usb.Initialize(file, &interfaceHandle)) {
        for (std::uint8_t setting = 0; setting < 3; ++setting) {
          cibridge::UsbInterfaceDescriptor descriptor;
          if (!usb.QueryInterfaceSettings(interfaceHandle, setting, &descriptor)) continue;
          for (std::uint8_t pipe = 0; pipe <= descriptor.bNumEndpoints && pipe < 40; ++pipe) {
            cibridge::PipeInformation information;
            (void)usb.QueryPipe(interfaceHandle, setting, pipe, &information);
          }
        }
        usb.Free(interfaceHandle);
      }
      usb.CloseDeviceFile(file);
    }
  }
  umockdev_testbed_remove_device(testbed, ("/sys" + sysPath).c_str());
  return 0;
}
