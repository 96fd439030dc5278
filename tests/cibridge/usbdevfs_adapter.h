// An adapter on an emulated usbdevfs: umockdev provides the sysfs entries and the device node,
// and this class answers the usbdevfs requests libusb makes on the node, the way the adapter's
// program would: every command frame on the bulk OUT endpoint queues the reply the test scripted
// for it on the interrupt IN endpoint. The test binary runs with libumockdev-preload.
#pragma once

#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace bridge_test {

using Packet = std::vector<std::uint8_t>;

struct ControlRecord {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  Packet data;  // the data stage of a host-to-device request
};

class UsbdevfsAdapter {
 public:
  static constexpr const char* kSysPath = "/sys/devices/usb1/1-4";
  static constexpr const char* kDevNode = "/dev/bus/usb/001/002";

  // Builds the testbed with a root hub and the adapter (0x1B0D:0x5F10 on bus 1, port 4).
  // `kernelDriver` names a driver bound to interface 0, or is empty.
  explicit UsbdevfsAdapter(std::string kernelDriver = "");
  ~UsbdevfsAdapter();
  UsbdevfsAdapter(const UsbdevfsAdapter&) = delete;
  UsbdevfsAdapter& operator=(const UsbdevfsAdapter&) = delete;

  // Adds a further device that is no CI adapter.
  void AddForeignDevice();
  // The reply packets for the next command frames, one entry per frame (empty: no reply).
  void ScriptReply(std::vector<Packet> packets);
  // The adapter leaves the bus: requests on its node fail with ENODEV, URBs still waiting
  // end with ENODEV as the kernel ends them, and it leaves sysfs.
  void Unplug();
  // Claiming an interface fails with `error` (EBUSY: another program holds it).
  void RefuseClaim(int error);
  // URBs on `endpoint` end with EPIPE until its halt is cleared.
  void Stall(std::uint8_t endpoint);
  // The device node's file inside the testbed.
  std::string NodeFile() const;

  // What the adapter saw.
  std::vector<Packet> Frames();
  std::vector<ControlRecord> ControlTransfers();
  std::vector<unsigned long> Requests();
  int ClaimedInterface();
  int AlternateSetting();
  int InUrbsSubmitted();
  int ClearedHalts();
  bool DriverDetached();
  bool DriverReattached();

 private:
  static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
  gboolean HandleIoctl(UMockdevIoctlClient* client);
  void CompleteWaitingIn();

  UMockdevTestbed* testbed_ = nullptr;
  UMockdevIoctlBase* handler_ = nullptr;
  std::mutex mutex_;
  std::string kernelDriver_;
  std::deque<std::vector<Packet>> script_;
  std::deque<Packet> inQueue_;
  std::vector<UMockdevIoctlData*> waitingIn_;  // IN URBs without data yet
  std::deque<UMockdevIoctlData*> completed_;   // URBs ready to be reaped
  std::vector<Packet> frames_;
  std::vector<ControlRecord> controls_;
  std::vector<unsigned long> requests_;
  int claimed_ = -1;
  int alternateSetting_ = -1;
  int inUrbs_ = 0;
  int clearedHalts_ = 0;
  bool detached_ = false;
  bool reattached_ = false;
  bool gone_ = false;
  int claimError_ = 0;
  std::vector<std::uint8_t> stalled_;
};

}  // namespace bridge_test
