// The USB seam on Windows: SetupAPI finds the adapter's device interface, kernel32 opens its
// path, WinUSB drives the interface and its pipes. Each operation is the one platform call it is
// named after.
#pragma once

#include "usb_backend.h"

namespace cibridge {

class WinUsbBackend final : public UsbBackend {
 public:
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
};

}  // namespace cibridge
