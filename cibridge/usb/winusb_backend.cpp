#include "winusb_backend.h"

#include "winusb_records.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

namespace cibridge {

namespace {

HDEVINFO AsDevInfo(UsbHandle handle) {
  return reinterpret_cast<HDEVINFO>(handle);
}
HANDLE AsFile(UsbHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}
WINUSB_INTERFACE_HANDLE AsInterface(UsbHandle handle) {
  return reinterpret_cast<WINUSB_INTERFACE_HANDLE>(handle);
}
template <typename T>
UsbHandle AsHandle(T handle) {
  return reinterpret_cast<UsbHandle>(handle);
}

SP_DEVICE_INTERFACE_DATA ToInterfaceData(const DeviceInterfaceData& data) {
  SP_DEVICE_INTERFACE_DATA out;
  out.cbSize = sizeof out;
  out.InterfaceClassGuid = ToWindows(data.interfaceClass);
  out.Flags = data.flags;
  out.Reserved = static_cast<ULONG_PTR>(data.reserved);
  return out;
}

// The detail record's header: the size field and the first character of the path.
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

}  // namespace

UsbHandle WinUsbBackend::GetClassDevices(const Guid& interfaceClass) {
  const GUID guid = ToWindows(interfaceClass);
  const HDEVINFO set =
      SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  return set == INVALID_HANDLE_VALUE ? kInvalidHandleValue : AsHandle(set);
}

bool WinUsbBackend::EnumDeviceInfo(UsbHandle deviceInfoSet, std::uint32_t memberIndex) {
  // The size fields follow the platform's own record sizes (28 bytes on 32-bit Windows, 32 on
  // 64-bit), not a constant.
  SP_DEVINFO_DATA info;
  info.cbSize = sizeof info;
  return SetupDiEnumDeviceInfo(AsDevInfo(deviceInfoSet), memberIndex, &info) != FALSE;
}

bool WinUsbBackend::EnumDeviceInterfaces(UsbHandle deviceInfoSet, const Guid& interfaceClass,
                                         std::uint32_t memberIndex,
                                         DeviceInterfaceData* interfaceData) {
  if (interfaceData == nullptr) return false;
  const GUID guid = ToWindows(interfaceClass);
  SP_DEVICE_INTERFACE_DATA data;
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInterfaces(AsDevInfo(deviceInfoSet), nullptr, &guid, memberIndex, &data)) {
    return false;
  }
  interfaceData->cbSize = data.cbSize;
  interfaceData->interfaceClass = FromWindows(data.InterfaceClassGuid);
  interfaceData->flags = data.Flags;
  interfaceData->reserved = static_cast<std::uintptr_t>(data.Reserved);
  return true;
}

bool WinUsbBackend::GetDeviceInterfaceDetail(UsbHandle deviceInfoSet,
                                             const DeviceInterfaceData& interfaceData,
                                             char* pathBuffer, std::uint32_t pathBufferSize,
                                             std::uint32_t* requiredSize) {
  SP_DEVICE_INTERFACE_DATA data = ToInterfaceData(interfaceData);
  DWORD recordSize = 0;
  (void)SetupDiGetDeviceInterfaceDetailA(AsDevInfo(deviceInfoSet), &data, nullptr, 0, &recordSize,
                                         nullptr);
  if (recordSize <= kPathOffset) return false;
  const auto pathSize = static_cast<std::uint32_t>(recordSize - kPathOffset);
  if (requiredSize != nullptr) *requiredSize = pathSize;
  if (pathBuffer == nullptr || pathBufferSize < pathSize) return false;

  std::vector<unsigned char> storage(recordSize);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  // The size field is the fixed header size as the platform defines it: 5 on 32-bit Windows,
  // 8 on 64-bit.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(AsDevInfo(deviceInfoSet), &data, detail, recordSize,
                                        nullptr, nullptr)) {
    return false;
  }
  const std::size_t length = ::strnlen(detail->DevicePath, pathSize - 1);
  std::memcpy(pathBuffer, detail->DevicePath, length);
  pathBuffer[length] = '\0';
  return true;
}

bool WinUsbBackend::DestroyDeviceInfoList(UsbHandle deviceInfoSet) {
  return SetupDiDestroyDeviceInfoList(AsDevInfo(deviceInfoSet)) != FALSE;
}

UsbHandle WinUsbBackend::CreateDeviceFile(const char* devicePath) {
  const HANDLE file =
      CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidHandleValue : AsHandle(file);
}

bool WinUsbBackend::CloseDeviceFile(UsbHandle deviceFile) {
  return CloseHandle(AsFile(deviceFile)) != FALSE;
}

bool WinUsbBackend::Initialize(UsbHandle deviceFile, UsbHandle* interfaceHandle) {
  if (interfaceHandle == nullptr) return false;
  WINUSB_INTERFACE_HANDLE handle = AsInterface(*interfaceHandle);
  const bool ok = WinUsb_Initialize(AsFile(deviceFile), &handle) != FALSE;
  *interfaceHandle = AsHandle(handle);
  return ok;
}

bool WinUsbBackend::Free(UsbHandle interfaceHandle) {
  return WinUsb_Free(AsInterface(interfaceHandle)) != FALSE;
}

bool WinUsbBackend::QueryInterfaceSettings(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                                           UsbInterfaceDescriptor* descriptor) {
  if (descriptor == nullptr) return false;
  USB_INTERFACE_DESCRIPTOR d;
  if (!WinUsb_QueryInterfaceSettings(AsInterface(interfaceHandle), alternateSetting, &d)) {
    return false;
  }
  *descriptor = FromWindows(d);
  return true;
}

bool WinUsbBackend::SetCurrentAlternateSetting(UsbHandle interfaceHandle,
                                               std::uint8_t alternateSetting) {
  return WinUsb_SetCurrentAlternateSetting(AsInterface(interfaceHandle), alternateSetting) != FALSE;
}

bool WinUsbBackend::QueryPipe(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                              std::uint8_t pipeIndex, PipeInformation* pipe) {
  if (pipe == nullptr) return false;
  WINUSB_PIPE_INFORMATION info;
  if (!WinUsb_QueryPipe(AsInterface(interfaceHandle), alternateSetting, pipeIndex, &info)) {
    return false;
  }
  *pipe = FromWindows(info);
  return true;
}

bool WinUsbBackend::SetPipePolicy(UsbHandle interfaceHandle, std::uint8_t pipeId,
                                  std::uint32_t policy, std::uint32_t valueLength,
                                  const void* value) {
  return WinUsb_SetPipePolicy(AsInterface(interfaceHandle), pipeId, policy, valueLength,
                              const_cast<void*>(value)) != FALSE;
}

bool WinUsbBackend::ResetPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) {
  return WinUsb_ResetPipe(AsInterface(interfaceHandle), pipeId) != FALSE;
}

bool WinUsbBackend::FlushPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) {
  return WinUsb_FlushPipe(AsInterface(interfaceHandle), pipeId) != FALSE;
}

bool WinUsbBackend::WritePipe(UsbHandle interfaceHandle, std::uint8_t pipeId,
                              const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t* lengthTransferred) {
  ULONG transferred = 0;
  const bool ok = WinUsb_WritePipe(AsInterface(interfaceHandle), pipeId, const_cast<PUCHAR>(data),
                                   length, &transferred, nullptr) != FALSE;
  if (lengthTransferred != nullptr) *lengthTransferred = transferred;
  return ok;
}

bool WinUsbBackend::ReadPipe(UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                             std::uint32_t length, std::uint32_t* lengthTransferred) {
  ULONG transferred = 0;
  const bool ok = WinUsb_ReadPipe(AsInterface(interfaceHandle), pipeId, buffer, length,
                                  &transferred, nullptr) != FALSE;
  if (lengthTransferred != nullptr) *lengthTransferred = transferred;
  return ok;
}

bool WinUsbBackend::ControlTransfer(UsbHandle interfaceHandle, const SetupPacket& setup,
                                    std::uint8_t* buffer, std::uint32_t length,
                                    std::uint32_t* lengthTransferred) {
  const WINUSB_SETUP_PACKET packet = ToWindows(setup);
  ULONG transferred = 0;
  const bool ok = WinUsb_ControlTransfer(AsInterface(interfaceHandle), packet, buffer, length,
                                         &transferred, nullptr) != FALSE;
  if (lengthTransferred != nullptr) *lengthTransferred = transferred;
  return ok;
}

}  // namespace cibridge
