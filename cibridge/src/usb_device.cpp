#include "usb_device.h"

#include <cstring>
#include <new>
#include <vector>

namespace cibridge {

// --- CBaseDevice ---

bool CBaseDevice::Initialize(std::int32_t, const std::int32_t*) {
  return false;
}

bool CBaseDevice::Release() {
  return true;
}

bool CBaseDevice::Open(const char* devicePath, std::int32_t useSetting,
                       const std::int32_t* setting) {
  if (devicePath == nullptr) return false;
  // A file left open by an earlier open (one whose initialisation failed, in a retry loop) is
  // closed first, together with whatever is bound to it, so that repeated opens hold one file.
  if (m_hDevice != 0 && m_hDevice != kInvalidHandleValue) (void)Close();
  m_hDevice = m_usb.CreateDeviceFile(devicePath);
  if (m_hDevice == kInvalidHandleValue) return false;
  ForgetFailedBinding();
  return Initialize(useSetting, setting);
}

void CBaseDevice::ForgetFailedBinding() {}

bool CBaseDevice::Close() {
  (void)Release();
  if (m_hDevice == kInvalidHandleValue) return false;
  // A device that was never opened has no file to close; that still counts as closed.
  if (m_hDevice != 0) (void)m_usb.CloseDeviceFile(m_hDevice);
  m_hDevice = 0;
  return true;
}

// --- CUsbDevice ---

bool CUsbDevice::FindDevicePath(Guid interfaceClass, char* buffer, std::uint32_t* capacity) {
  if (buffer == nullptr || capacity == nullptr || *capacity == 0) return false;

  const UsbHandle set = m_usb.GetClassDevices(interfaceClass);
  if (set == kInvalidHandleValue) return false;

  if (!m_usb.EnumDeviceInfo(set, 0)) {
    (void)m_usb.DestroyDeviceInfoList(set);
    return false;
  }
  // Walk the members; the interface of the last one enumerated is the one used.
  DeviceInterfaceData interfaceData;
  for (std::uint32_t member = 0;; ++member) {
    interfaceData = DeviceInterfaceData{};
    if (!m_usb.EnumDeviceInterfaces(set, interfaceClass, member, &interfaceData)) {
      (void)m_usb.DestroyDeviceInfoList(set);
      return false;
    }
    if (!m_usb.EnumDeviceInfo(set, member + 1)) break;
  }

  std::uint32_t required = 0;
  (void)m_usb.GetDeviceInterfaceDetail(set, interfaceData, nullptr, 0, &required);
  std::vector<char> detail;
  try {
    detail.resize(required);
  } catch (const std::bad_alloc&) {
    (void)m_usb.DestroyDeviceInfoList(set);
    return false;
  }
  if (!m_usb.GetDeviceInterfaceDetail(set, interfaceData, detail.empty() ? nullptr : detail.data(),
                                      required, &required)) {
    (void)m_usb.DestroyDeviceInfoList(set);
    return false;
  }

  const std::size_t n = ::strnlen(detail.data(), detail.size());
  if (n >= *capacity) {
    *capacity = 0;
    (void)m_usb.DestroyDeviceInfoList(set);
    return false;
  }
  std::memcpy(buffer, detail.data(), n);
  buffer[n] = '\0';
  *capacity = static_cast<std::uint32_t>(n);
  (void)m_usb.DestroyDeviceInfoList(set);
  return true;
}

void CUsbDevice::ForgetFailedBinding() {
  if (m_hWinUsb == kInvalidHandleValue) m_hWinUsb = 0;
}

bool CUsbDevice::Initialize(std::int32_t useSetting, const std::int32_t* setting) {
  if (m_hDevice == kInvalidHandleValue || m_hWinUsb == kInvalidHandleValue) return false;
  if (!m_usb.Initialize(m_hDevice, &m_hWinUsb)) return false;
  const std::int32_t number = (useSetting == 1 && setting != nullptr) ? *setting : 0;
  return SelectAlternateSetting(static_cast<std::uint8_t>(number));
}

bool CUsbDevice::SelectAlternateSetting(std::uint8_t setting) {
  if (m_hWinUsb == kInvalidHandleValue) return false;
  if (!m_usb.QueryInterfaceSettings(m_hWinUsb, setting, &m_interface)) return false;
  if (!m_usb.SetCurrentAlternateSetting(m_hWinUsb, setting)) return false;

  m_pipeBulkIn.PipeId = 0;
  m_pipeBulkOut.PipeId = 0;
  m_pipeInterruptIn.PipeId = 0;
  m_pipeInterruptOut.PipeId = 0;

  for (std::uint8_t index = 0; index < m_interface.bNumEndpoints; ++index) {
    PipeInformation pipe;
    if (!m_usb.QueryPipe(m_hWinUsb, setting, index, &pipe)) return false;
    if (pipe.PipeType == UsbdPipeTypeIsochronous) continue;  // neither filed nor configured
    FilePipe(pipe);
    SetPipePolicies(pipe.PipeId);
  }
  return true;
}

void CUsbDevice::FilePipe(const PipeInformation& pipe) {
  const bool in = (pipe.PipeId & 0x80) != 0;
  switch (pipe.PipeType) {
    case UsbdPipeTypeControl:
      m_pipeControl = pipe;
      break;
    case UsbdPipeTypeBulk:
      (in ? m_pipeBulkIn : m_pipeBulkOut) = pipe;
      break;
    case UsbdPipeTypeInterrupt:
      (in ? m_pipeInterruptIn : m_pipeInterruptOut) = pipe;
      break;
    default:
      break;
  }
}

void CUsbDevice::SetPipePolicies(std::uint8_t pipeId) {
  // Partial reads on and automatic flushing off: the rest of a reply that a read does not take
  // stays queued until WriteBulkOut flushes it before the next command.
  const std::uint8_t yes = 1;
  const std::uint8_t no = 0;
  const std::uint32_t timeout = kDefaultPipeTimeoutMs;
  (void)m_usb.SetPipePolicy(m_hWinUsb, pipeId, ALLOW_PARTIAL_READS, 1, &yes);
  (void)m_usb.SetPipePolicy(m_hWinUsb, pipeId, AUTO_FLUSH, 1, &no);
  (void)m_usb.SetPipePolicy(m_hWinUsb, pipeId, RAW_IO, 1, &no);
  (void)m_usb.SetPipePolicy(m_hWinUsb, pipeId, SHORT_PACKET_TERMINATE, 1, &no);
  (void)m_usb.SetPipePolicy(m_hWinUsb, pipeId, AUTO_CLEAR_STALL, 1, &no);
  (void)m_usb.SetPipePolicy(m_hWinUsb, pipeId, PIPE_TRANSFER_TIMEOUT, 4, &timeout);
}

bool CUsbDevice::WriteBulkOut(const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t* written) {
  if (m_hWinUsb == kInvalidHandleValue || data == nullptr || length == 0 || written == nullptr) {
    return false;
  }
  *written = 0;
  // Every command starts on pipes without stall, with reset toggles and no stale reply bytes.
  (void)m_usb.ResetPipe(m_hWinUsb, m_pipeBulkOut.PipeId);
  (void)m_usb.FlushPipe(m_hWinUsb, m_pipeBulkOut.PipeId);
  (void)m_usb.ResetPipe(m_hWinUsb, m_pipeInterruptIn.PipeId);
  (void)m_usb.FlushPipe(m_hWinUsb, m_pipeInterruptIn.PipeId);
  if (m_pipeBulkOut.PipeId == 0) return false;
  std::uint32_t count = 0;
  if (!m_usb.WritePipe(m_hWinUsb, m_pipeBulkOut.PipeId, data, length, &count)) return false;
  *written = count;
  return true;
}

bool CUsbDevice::ReadInterruptIn(std::uint8_t* buffer, std::uint32_t length, std::uint32_t* read) {
  if (m_hWinUsb == kInvalidHandleValue || buffer == nullptr || length == 0 || read == nullptr) {
    return false;
  }
  *read = 0;
  if (m_pipeInterruptIn.PipeId == 0) return false;
  std::uint32_t count = 0;
  if (!m_usb.ReadPipe(m_hWinUsb, m_pipeInterruptIn.PipeId, buffer, length, &count)) return false;
  // Never report more than the caller's buffer holds, whatever the back end says.
  *read = count < length ? count : length;
  return true;
}

bool CUsbDevice::ControlTransfer(SetupPacket setup, std::uint8_t* buffer, std::uint32_t length,
                                 std::uint32_t* transferred) {
  if (m_hWinUsb == kInvalidHandleValue) return false;
  std::uint32_t count = 0;
  const bool ok = m_usb.ControlTransfer(m_hWinUsb, setup, buffer, length, &count);
  if (transferred != nullptr) *transferred = ok ? count : 0;
  return ok;
}

bool CUsbDevice::ChangePipeTimeout(std::uint32_t milliseconds) {
  constexpr std::uint8_t kSetting = 1;
  if (!m_usb.QueryInterfaceSettings(m_hWinUsb, kSetting, &m_interface)) return false;
  for (std::uint8_t index = 0; index < m_interface.bNumEndpoints; ++index) {
    PipeInformation pipe;
    if (!m_usb.QueryPipe(m_hWinUsb, kSetting, index, &pipe)) return false;
    (void)m_usb.SetPipePolicy(m_hWinUsb, pipe.PipeId, PIPE_TRANSFER_TIMEOUT, 4, &milliseconds);
  }
  return true;
}

bool CUsbDevice::Release() {
  if (m_hWinUsb == kInvalidHandleValue) return false;
  // Nothing bound (a new or closed device): there is nothing to free.
  if (m_hWinUsb != 0 && !m_usb.Free(m_hWinUsb)) return false;
  m_hWinUsb = 0;
  return true;
}

}  // namespace cibridge
