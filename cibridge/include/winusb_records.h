// The USB seam's records and their SetupAPI/WinUSB counterparts, converted both ways: for the
// Windows back end (seam -> platform call) and for the stand-ins of setupapi.dll and winusb.dll
// (platform call -> emulated adapter). Windows builds only. Include it before any Windows
// header: it reads the seam first, since winusb.h makes the seam's policy names macros.
#pragma once

#include "usb_backend.h"
// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <winusb.h>
// clang-format on

#include <bit>
#include <cstring>

namespace cibridge {

inline GUID ToWindows(const Guid& guid) {
  GUID out;
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  std::memcpy(out.Data4, guid.data4, sizeof out.Data4);
  return out;
}

inline Guid FromWindows(const GUID& guid) {
  Guid out;
  out.data1 = guid.Data1;
  out.data2 = guid.Data2;
  out.data3 = guid.Data3;
  std::memcpy(out.data4, guid.Data4, sizeof out.data4);
  return out;
}

// Both are the standard 9-byte USB interface descriptor, field for field.
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9 && sizeof(UsbInterfaceDescriptor) == 9);
inline USB_INTERFACE_DESCRIPTOR ToWindows(const UsbInterfaceDescriptor& descriptor) {
  return std::bit_cast<USB_INTERFACE_DESCRIPTOR>(descriptor);
}
inline UsbInterfaceDescriptor FromWindows(const USB_INTERFACE_DESCRIPTOR& descriptor) {
  return std::bit_cast<UsbInterfaceDescriptor>(descriptor);
}

inline WINUSB_PIPE_INFORMATION ToWindows(const PipeInformation& pipe) {
  WINUSB_PIPE_INFORMATION out;
  out.PipeType = static_cast<USBD_PIPE_TYPE>(pipe.PipeType);
  out.PipeId = pipe.PipeId;
  out.MaximumPacketSize = pipe.MaximumPacketSize;
  out.Interval = pipe.Interval;
  return out;
}
inline PipeInformation FromWindows(const WINUSB_PIPE_INFORMATION& pipe) {
  PipeInformation out;
  out.PipeType = static_cast<UsbPipeType>(pipe.PipeType);
  out.PipeId = pipe.PipeId;
  out.MaximumPacketSize = pipe.MaximumPacketSize;
  out.Interval = pipe.Interval;
  return out;
}

inline WINUSB_SETUP_PACKET ToWindows(const SetupPacket& setup) {
  WINUSB_SETUP_PACKET out;
  out.RequestType = setup.RequestType;
  out.Request = setup.Request;
  out.Value = setup.Value;
  out.Index = setup.Index;
  out.Length = setup.Length;
  return out;
}
inline SetupPacket FromWindows(const WINUSB_SETUP_PACKET& setup) {
  return SetupPacket{setup.RequestType, setup.Request, setup.Value, setup.Index, setup.Length};
}

}  // namespace cibridge
