// The USB seam under cibridge's device layer.
//
// Every operation here is one platform call of the Windows USB stack (SetupAPI for finding the
// adapter, CreateFile/CloseHandle for the device file, WinUSB for the interface and its pipes),
// so the device layer (CBaseDevice/CUsbDevice) runs the same algorithm over every back end:
//   - Windows: SetupAPI + WinUSB, call for call;
//   - Linux:   libusb-1.0, keeping WinUSB's pipe semantics (partial reads keep the rest of a
//              packet for the next read, a flush discards it, reset = clear halt, per-pipe
//              transfer time-outs, failures as false);
//   - simulated: sim/usb (transfer-by-transfer scripts for tests) and sim/adapter (the emulated
//              adapter running the adapter program's core).
//
// How a variant of the library picks its back end: the library core (target cibridge_core)
// calls cibridge::CreateUsbBackend() once, when the library is loaded, and builds the one device
// object g_pDevice over the back end it returns. Each shared-library variant defines that one
// function in a source of its own:
//   libcibridge.so (bin/)   -> cibridge/usb/libusb_backend.cpp returns the libusb back end;
//   demo libcibridge.so     -> the emulated adapter's source returns its back end.
// cibridge_add_library() in cibridge/CMakeLists.txt builds such a variant (exports, version
// script, load-time constructor). Returning nullptr is allowed: every export then fails.
// Tests link cibridge_core directly and install their own back end and clock with
// cibridge::InstallDevice() (cibridge/src/device_object.h).
#pragma once

#include <cstdint>
#include <memory>

namespace cibridge {

// Platform handles as the seam passes them around: a device information set, a device file, a
// WinUSB interface. 0 stands for "none", kInvalidHandleValue for the platform's invalid handle.
using UsbHandle = std::intptr_t;
inline constexpr UsbHandle kInvalidHandleValue = -1;

// A device interface class.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};

  friend bool operator==(const Guid&, const Guid&) = default;
};

// {F4D5A772-3AEC-4E57-AE3C-710B7BAF8731}: the device interface class of the CI adapter.
inline constexpr Guid GUID_DEVINTERFACE_CI_ADAPTER = {
    0xF4D5A772, 0x3AEC, 0x4E57, {0xAE, 0x3C, 0x71, 0x0B, 0x7B, 0xAF, 0x87, 0x31}};

// One member of a device information set's interface list (SP_DEVICE_INTERFACE_DATA): the
// back end fills it, the device layer only hands it back.
struct DeviceInterfaceData {
  std::uint32_t cbSize = 28;
  Guid interfaceClass;
  std::uint32_t flags = 0;
  std::uintptr_t reserved = 0;  // the back end's own reference to the member
};

// The 9-byte standard USB interface descriptor (USB_INTERFACE_DESCRIPTOR).
struct UsbInterfaceDescriptor {
  std::uint8_t bLength = 0;
  std::uint8_t bDescriptorType = 0;
  std::uint8_t bInterfaceNumber = 0;
  std::uint8_t bAlternateSetting = 0;
  std::uint8_t bNumEndpoints = 0;
  std::uint8_t bInterfaceClass = 0;
  std::uint8_t bInterfaceSubClass = 0;
  std::uint8_t bInterfaceProtocol = 0;
  std::uint8_t iInterface = 0;
};

// USBD_PIPE_TYPE.
enum UsbPipeType : std::uint32_t {
  UsbdPipeTypeControl = 0,
  UsbdPipeTypeIsochronous = 1,
  UsbdPipeTypeBulk = 2,
  UsbdPipeTypeInterrupt = 3,
};

// WINUSB_PIPE_INFORMATION. PipeId is the endpoint address (bit 7 set for IN); 0 = no pipe.
struct PipeInformation {
  UsbPipeType PipeType = UsbdPipeTypeControl;
  std::uint8_t PipeId = 0;
  std::uint16_t MaximumPacketSize = 0;
  std::uint8_t Interval = 0;
};

// WINUSB_SETUP_PACKET: the 8-byte setup packet of a control transfer.
struct SetupPacket {
  std::uint8_t RequestType = 0;
  std::uint8_t Request = 0;
  std::uint16_t Value = 0;
  std::uint16_t Index = 0;
  std::uint16_t Length = 0;
};

// Pipe policy codes of WinUsb_SetPipePolicy.
enum PipePolicy : std::uint32_t {
  SHORT_PACKET_TERMINATE = 1,
  AUTO_CLEAR_STALL = 2,
  PIPE_TRANSFER_TIMEOUT = 3,
  IGNORE_SHORT_PACKETS = 4,
  ALLOW_PARTIAL_READS = 5,
  AUTO_FLUSH = 6,
  RAW_IO = 7,
};

// The size of a policy's value as WinUsb_SetPipePolicy takes it: a 4-byte time-out in
// milliseconds, a 1-byte switch for every other policy; 0 for a code WinUSB does not know.
inline std::uint32_t PipePolicyValueLength(std::uint32_t policy) {
  if (policy == PIPE_TRANSFER_TIMEOUT) return 4;
  return policy >= SHORT_PACKET_TERMINATE && policy <= RAW_IO ? 1 : 0;
}

class UsbBackend {
 public:
  virtual ~UsbBackend() = default;

  // --- Finding the adapter (SetupAPI) ---
  // SetupDiGetClassDevs(class, no enumerator, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE): a set of
  // the present devices exposing the class, or kInvalidHandleValue.
  virtual UsbHandle GetClassDevices(const Guid& interfaceClass) = 0;
  // SetupDiEnumDeviceInfo: true when the set has a member at `memberIndex`.
  virtual bool EnumDeviceInfo(UsbHandle deviceInfoSet, std::uint32_t memberIndex) = 0;
  // SetupDiEnumDeviceInterfaces (no device filter): the interface of the class at `memberIndex`.
  virtual bool EnumDeviceInterfaces(UsbHandle deviceInfoSet, const Guid& interfaceClass,
                                    std::uint32_t memberIndex,
                                    DeviceInterfaceData* interfaceData) = 0;
  // SetupDiGetDeviceInterfaceDetail, reduced to its payload: the zero-terminated device path.
  // With a null `pathBuffer` (and size 0) it stores the bytes needed in `requiredSize` and
  // returns false, as the platform call does; with a buffer of at least that size it writes the
  // path and returns true.
  virtual bool GetDeviceInterfaceDetail(UsbHandle deviceInfoSet,
                                        const DeviceInterfaceData& interfaceData, char* pathBuffer,
                                        std::uint32_t pathBufferSize,
                                        std::uint32_t* requiredSize) = 0;
  // SetupDiDestroyDeviceInfoList.
  virtual bool DestroyDeviceInfoList(UsbHandle deviceInfoSet) = 0;

  // --- The device file (kernel32) ---
  // CreateFile(path, read+write, shared read+write, OPEN_EXISTING, overlapped): a handle or
  // kInvalidHandleValue.
  virtual UsbHandle CreateDeviceFile(const char* devicePath) = 0;
  virtual bool CloseDeviceFile(UsbHandle deviceFile) = 0;

  // --- The interface and its pipes (WinUSB) ---
  // WinUsb_Initialize: the interface handle of the device's first interface. On failure the
  // handle is left as the platform leaves it and false comes back.
  virtual bool Initialize(UsbHandle deviceFile, UsbHandle* interfaceHandle) = 0;
  virtual bool Free(UsbHandle interfaceHandle) = 0;
  virtual bool QueryInterfaceSettings(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                                      UsbInterfaceDescriptor* descriptor) = 0;
  virtual bool SetCurrentAlternateSetting(UsbHandle interfaceHandle,
                                          std::uint8_t alternateSetting) = 0;
  virtual bool QueryPipe(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                         std::uint8_t pipeIndex, PipeInformation* pipe) = 0;
  virtual bool SetPipePolicy(UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint32_t policy,
                             std::uint32_t valueLength, const void* value) = 0;
  // Clears the pipe's stall and data toggle.
  virtual bool ResetPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) = 0;
  // Discards IN data queued for the pipe (including the rest of a partly read packet).
  virtual bool FlushPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) = 0;
  // One synchronous transfer each; false on failure, including the pipe's time-out. A read may
  // return fewer bytes than asked; the rest of the packet waits for the next read.
  virtual bool WritePipe(UsbHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* data,
                         std::uint32_t length, std::uint32_t* lengthTransferred) = 0;
  virtual bool ReadPipe(UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                        std::uint32_t length, std::uint32_t* lengthTransferred) = 0;
  // One synchronous transfer on the default control pipe.
  virtual bool ControlTransfer(UsbHandle interfaceHandle, const SetupPacket& setup,
                               std::uint8_t* buffer, std::uint32_t length,
                               std::uint32_t* lengthTransferred) = 0;
};

// Defined by each shared-library variant (see above); called once when the library is loaded.
std::unique_ptr<UsbBackend> CreateUsbBackend();

}  // namespace cibridge
