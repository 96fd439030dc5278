// The device layer: a device reached through a file handle (CBaseDevice) and the WinUSB device
// on top of it (CUsbDevice): finding the adapter's device path, opening it, selecting the
// alternate setting with the adapter's pipes, and the three transfer primitives the adapter
// protocol rests on. Every platform call goes through the USB seam (usb_backend.h).
#pragma once

#include <cstdint>

#include "usb_backend.h"

namespace cibridge {

class CBaseDevice {
 public:
  explicit CBaseDevice(UsbBackend& usb) : m_usb(usb) {}
  CBaseDevice(const CBaseDevice&) = delete;
  CBaseDevice& operator=(const CBaseDevice&) = delete;

  // Binds the interface to the open file and selects the setting (the number `setting` points
  // to when `useSetting` is 1, else 0). A plain file device has nothing to bind.
  virtual bool Initialize(std::int32_t useSetting, const std::int32_t* setting);
  // Frees what Initialize bound.
  virtual bool Release();

  // Opens the device path and initialises it. A file still open from an earlier open is closed
  // first. Does not undo its steps on failure: the file handle stays in m_hDevice until Close
  // or the next Open.
  bool Open(const char* devicePath, std::int32_t useSetting, const std::int32_t* setting);
  // Releases the interface, then closes the file. False when the file handle is the
  // invalid-handle value (a failed open).
  bool Close();

  UsbHandle DeviceHandle() const { return m_hDevice; }

 protected:
  // Deliberately no virtual destructor: the one device object lives as long as the process.
  ~CBaseDevice() = default;

  // Called by Open on a freshly opened file before Initialize: drops what a failed binding of
  // an earlier open left behind, so that it does not refuse this one.
  virtual void ForgetFailedBinding();

  UsbBackend& m_usb;
  UsbHandle m_hDevice = 0;
};

class CUsbDevice final : public CBaseDevice {
 public:
  // Transfer time-out of every data pipe from the selection of a setting until it is changed.
  static constexpr std::uint32_t kDefaultPipeTimeoutMs = 60000;

  explicit CUsbDevice(UsbBackend& usb) : CBaseDevice(usb) {}
  ~CUsbDevice() = default;

  bool Initialize(std::int32_t useSetting, const std::int32_t* setting) override;
  bool Release() override;

  // Writes the path of the last present device of `interfaceClass` into `buffer`. `capacity`
  // holds the buffer size in bytes on entry and the path length in characters on success; it
  // is set to 0 when the path does not fit.
  bool FindDevicePath(Guid interfaceClass, char* buffer, std::uint32_t* capacity);
  // Selects the alternate setting and files its pipes (with their policies).
  bool SelectAlternateSetting(std::uint8_t setting);

  // One command frame on the bulk OUT pipe, after resetting and flushing both data pipes.
  bool WriteBulkOut(const std::uint8_t* data, std::uint32_t length, std::uint32_t* written);
  // One reply read from the interrupt IN pipe.
  bool ReadInterruptIn(std::uint8_t* buffer, std::uint32_t length, std::uint32_t* read);
  // One transfer on the default control pipe.
  bool ControlTransfer(SetupPacket setup, std::uint8_t* buffer, std::uint32_t length,
                       std::uint32_t* transferred);
  // Sets the transfer time-out of every pipe of alternate setting 1.
  bool ChangePipeTimeout(std::uint32_t milliseconds);

  // The adapter counts as open while the interface handle is neither 0 nor invalid.
  bool IsOpen() const { return m_hWinUsb != 0 && m_hWinUsb != kInvalidHandleValue; }
  UsbHandle InterfaceHandle() const { return m_hWinUsb; }
  const UsbInterfaceDescriptor& Interface() const { return m_interface; }
  const PipeInformation& PipeControl() const { return m_pipeControl; }
  const PipeInformation& PipeBulkIn() const { return m_pipeBulkIn; }
  const PipeInformation& PipeBulkOut() const { return m_pipeBulkOut; }
  const PipeInformation& PipeInterruptIn() const { return m_pipeInterruptIn; }
  const PipeInformation& PipeInterruptOut() const { return m_pipeInterruptOut; }

 protected:
  // An interface handle that a failed WinUsb_Initialize left invalid holds nothing: it becomes 0.
  void ForgetFailedBinding() override;

 private:
  void FilePipe(const PipeInformation& pipe);
  void SetPipePolicies(std::uint8_t pipeId);

  UsbHandle m_hWinUsb = 0;
  UsbInterfaceDescriptor m_interface;
  PipeInformation m_pipeControl;
  PipeInformation m_pipeBulkIn;
  PipeInformation m_pipeBulkOut;
  PipeInformation m_pipeInterruptIn;
  PipeInformation m_pipeInterruptOut;
};

}  // namespace cibridge
