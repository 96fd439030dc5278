// The USB seam on Linux, over libusb-1.0, with WinUSB's pipe semantics kept:
//   - CI adapters are found by a table of vendor and product IDs; their paths are synthesised in
//     the Windows interface-path form, so the vendor ID stands at characters 12-15 and the
//     product ID at 21-24:  \\?\usb#vid_1b0d&pid_5f10#<bus>-<port>.<port>#{f4d5a772-...}
//   - Initialize claims interface 0 (detaching a kernel driver that holds it);
//   - reads take whole packets from the device into a per-pipe buffer and serve the caller from
//     it, so the rest of a packet waits for the next read; a flush empties the buffer;
//   - reset is a clear-halt; every pipe has its own transfer time-out;
//   - control transfers go to the default pipe; every failure is reported as false.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "usb_backend.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace cibridge {

struct AdapterUsbId {
  std::uint16_t vendor;
  std::uint16_t product;
};

// USB devices that count as CI adapters: the build's list MORVANE_ADAPTER_IDS, from which the
// udev rule and the Windows INF file are made too.
inline constexpr AdapterUsbId kCiAdapterIds[] = {
#include "adapter_usb_ids.inc"
};

// The interface path of an adapter: vendor and product ID, then the bus and port chain.
std::string SynthesiseDevicePath(std::uint16_t vendor, std::uint16_t product, std::uint8_t bus,
                                 const std::uint8_t* ports, int portCount);

class LibusbBackend final : public UsbBackend {
 public:
  // Time-out of the default control pipe.
  static constexpr unsigned kControlTimeoutMs = 5000;

  LibusbBackend() = default;
  ~LibusbBackend() override;
  LibusbBackend(const LibusbBackend&) = delete;
  LibusbBackend& operator=(const LibusbBackend&) = delete;

  UsbHandle GetClassDevices(const Guid& interfaceClass) override;
  bool EnumDeviceInfo(UsbHandle deviceInfoSet, std::uint32_t memberIndex) override;
  bool EnumDeviceInterfaces(UsbHandle deviceInfoSet, const Guid& interfaceClass,
                            std::uint32_t memberIndex, DeviceInterfaceData* interfaceData) override;
  bool GetDeviceInterfaceDetail(UsbHandle deviceInfoSet, const DeviceInterfaceData& interfaceData,
                                char* pathBuffer, std::uint32_t pathBufferSize,
                                std::uint32_t* requiredSize) override;
  bool DestroyDeviceInfoList(UsbHandle deviceInfoSet) override;

  UsbHandle CreateDeviceFile(const char* devicePath) override;
  bool CloseDeviceFile(UsbHandle deviceFile) override;

  bool Initialize(UsbHandle deviceFile, UsbHandle* interfaceHandle) override;
  bool Free(UsbHandle interfaceHandle) override;
  bool QueryInterfaceSettings(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                              UsbInterfaceDescriptor* descriptor) override;
  bool SetCurrentAlternateSetting(UsbHandle interfaceHandle,
                                  std::uint8_t alternateSetting) override;
  bool QueryPipe(UsbHandle interfaceHandle, std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                 PipeInformation* pipe) override;
  bool SetPipePolicy(UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint32_t policy,
                     std::uint32_t valueLength, const void* value) override;
  bool ResetPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) override;
  bool FlushPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) override;
  bool WritePipe(UsbHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* data,
                 std::uint32_t length, std::uint32_t* lengthTransferred) override;
  bool ReadPipe(UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                std::uint32_t length, std::uint32_t* lengthTransferred) override;
  bool ControlTransfer(UsbHandle interfaceHandle, const SetupPacket& setup, std::uint8_t* buffer,
                       std::uint32_t length, std::uint32_t* lengthTransferred) override;

 private:
  struct DeviceInfoSet {
    std::vector<std::string> paths;
  };
  struct DeviceFile {
    libusb_device_handle* handle = nullptr;
  };
  struct Pipe {
    std::uint32_t timeoutMs = 0;        // 0: no time-out, as on a fresh WinUSB pipe
    std::vector<std::uint8_t> pending;  // the unread rest of the last packet(s)
    std::size_t pendingOffset = 0;
  };
  struct Interface {
    DeviceFile* file = nullptr;
    std::uint8_t alternateSetting = 0;
    bool kernelDriverDetached = false;
    std::map<std::uint8_t, Pipe> pipes;
  };
  struct Endpoint {
    std::uint8_t address = 0;
    std::uint8_t type = 0;
    std::uint16_t maxPacketSize = 0;
  };

  libusb_context* Context();
  // Every present adapter, in the order libusb lists them, with its path.
  std::vector<std::pair<libusb_device*, std::string>> ListAdapters(libusb_device*** list);
  DeviceInfoSet* FindSet(UsbHandle handle);
  DeviceFile* FindFile(UsbHandle handle);
  Interface* FindInterface(UsbHandle handle);
  bool FindEndpoint(const Interface& iface, std::uint8_t pipeId, Endpoint* endpoint);
  void ReleaseInterface(Interface& iface);

  libusb_context* context_ = nullptr;
  std::set<DeviceInfoSet*> sets_;
  std::set<DeviceFile*> files_;
  std::set<Interface*> interfaces_;
};

}  // namespace cibridge
