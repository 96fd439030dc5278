// setupapi.dll for the Wine tests: the device-interface functions cibridge.dll uses, over the
// emulated adapter. They keep the platform's contract as Microsoft documents it: the size field
// of each record must be the record's size for this architecture (else
// ERROR_INVALID_USER_BUFFER), enumeration past the last member fails with ERROR_NO_MORE_ITEMS,
// and the detail record is fetched in two calls, the first (no record, size 0) failing with
// ERROR_INSUFFICIENT_BUFFER and telling the required size.
//
// Wine has no USB device behind a device interface path, so the stand-in gives the path a file
// to open: while the adapter is on the bus, "<WINEPREFIX>/dosdevices/<path without \\?\>"
// exists (Wine resolves "\\?\name" there) and holds the path, from which WinUsb_Initialize
// learns which connection the caller's file handle belongs to. The file goes when the adapter
// leaves the bus; each search brings the file up to date.
#define _SETUPAPI_
#include "standin_adapter.h"
#include "winusb_records.h"

#include <cstddef>
#include <cstdlib>
#include <string>

namespace {

sim::EmulatedAdapter& Adapter() {
  return *MorvaneStandInAdapter();
}

cibridge::UsbHandle AsSet(HDEVINFO set) {
  return reinterpret_cast<cibridge::UsbHandle>(set);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The Windows name of "<WINEPREFIX>/dosdevices/<name>", through Wine's drive Z: (the root).
std::string DeviceFileFor(const std::string& devicePath) {
  const char* prefix = std::getenv("WINEPREFIX");
  const char* home = std::getenv("HOME");
  std::string file =
      "Z:" + (prefix != nullptr ? std::string(prefix)
                                : std::string(home != nullptr ? home : "") + "/.wine");
  file += "/dosdevices/" + devicePath.substr(4);  // past "\\?\"
  for (char& c : file) {
    if (c == '/') c = '\\';
  }
  return file;
}

void MirrorDeviceFile(bool present) {
  static std::string mirrored;  // the device file that exists now, or empty
  const std::string path = Adapter().DevicePath();
  const std::string wanted = present ? DeviceFileFor(path) : "";
  if (wanted == mirrored) return;
  if (!mirrored.empty()) DeleteFileA(mirrored.c_str());
  mirrored.clear();
  if (wanted.empty()) return;
  const HANDLE file =
      CreateFileA(wanted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, path.data(), static_cast<DWORD>(path.size()), &written, nullptr);
  CloseHandle(file);
  mirrored = wanted;
}

// The member an interface record stands for (its Reserved field: member + 1).
bool MemberOf(const SP_DEVICE_INTERFACE_DATA* data, DWORD* member) {
  if (data == nullptr || data->Reserved == 0) return false;
  *member = static_cast<DWORD>(data->Reserved - 1);
  return true;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                     DWORD flags) {
  (void)enumerator;
  (void)parent;
  // Interface classes are asked for with DIGCF_DEVICEINTERFACE; the stand-in knows no setup
  // classes.
  if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const cibridge::UsbHandle set = Adapter().GetClassDevices(cibridge::FromWindows(*classGuid));
  MirrorDeviceFile(Adapter().EnumDeviceInfo(set, 0));
  return reinterpret_cast<HDEVINFO>(set);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD member, PSP_DEVINFO_DATA info) {
  if (info == nullptr || info->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (!Adapter().EnumDeviceInfo(AsSet(set), member)) return Fail(ERROR_NO_MORE_ITEMS);
  info->ClassGuid = GUID{0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0, 0}};
  info->DevInst = member + 1;
  info->Reserved = 0;
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info,
                                        const GUID* interfaceClass, DWORD member,
                                        PSP_DEVICE_INTERFACE_DATA data) {
  if (info != nullptr && info->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (interfaceClass == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  cibridge::DeviceInterfaceData found{};
  if (!Adapter().EnumDeviceInterfaces(AsSet(set), cibridge::FromWindows(*interfaceClass), member,
                                      &found)) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  data->InterfaceClassGuid = *interfaceClass;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = static_cast<ULONG_PTR>(member) + 1;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA info) {
  DWORD member = 0;
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      !MemberOf(data, &member)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (info != nullptr && info->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  // No record goes with a size of 0, and a record carries its own header size.
  if ((detail == nullptr) != (detailSize == 0)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }

  cibridge::DeviceInterfaceData wanted{};
  wanted.reserved = member;
  std::uint32_t pathSize = 0;
  (void)Adapter().GetDeviceInterfaceDetail(AsSet(set), wanted, nullptr, 0, &pathSize);
  if (pathSize == 0) return Fail(ERROR_NO_MORE_ITEMS);
  const DWORD needed =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + pathSize);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (detail == nullptr || detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (!Adapter().GetDeviceInterfaceDetail(AsSet(set), wanted, detail->DevicePath, pathSize,
                                          nullptr)) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  if (info != nullptr) {
    SP_DEVINFO_DATA member_info{};
    member_info.cbSize = sizeof member_info;
    if (SetupDiEnumDeviceInfo(set, member, &member_info)) *info = member_info;
  }
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  return Adapter().DestroyDeviceInfoList(AsSet(set)) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

}  // extern "C"
