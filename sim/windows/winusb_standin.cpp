// winusb.dll for the Wine tests: the WinUSB functions cibridge.dll uses, over the emulated
// adapter, keeping the platform's contract as Microsoft documents it where cibridge relies on
// it: synchronous transfers only; a transfer that outlasts the pipe's PIPE_TRANSFER_TIMEOUT
// fails with ERROR_SEM_TIMEOUT; the rest of a packet a read did not take waits for the next
// read (ALLOW_PARTIAL_READS, on unless set off) until a flush; a policy value of the wrong size
// fails with ERROR_INVALID_PARAMETER; querying a setting or pipe that does not exist fails with
// ERROR_NO_MORE_ITEMS.
// The adapter's headers first: the seam names its policies as WinUSB does, and winusb.h makes
// those names macros.
#include "clock.h"
#include "standin_adapter.h"
#include "winusb_records.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>

namespace {

sim::EmulatedAdapter& Adapter() {
  return *MorvaneStandInAdapter();
}

cibridge::UsbHandle AsHandle(WINUSB_INTERFACE_HANDLE handle) {
  return reinterpret_cast<cibridge::UsbHandle>(handle);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Policies as set per interface and pipe; absent ones have the platform's defaults.
std::map<std::pair<cibridge::UsbHandle, UCHAR>, std::map<ULONG, ULONG>> g_policies;

ULONG Policy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG policy, ULONG fallback) {
  const auto pipePolicies = g_policies.find({AsHandle(handle), pipe});
  if (pipePolicies == g_policies.end()) return fallback;
  const auto value = pipePolicies->second.find(policy);
  return value == pipePolicies->second.end() ? fallback : value->second;
}

// The device path the file behind `file` was opened for (the stand-in's device file holds it).
std::string DevicePathOf(HANDLE file) {
  char path[512] = {};
  OVERLAPPED at{};
  at.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD read = 0;
  if (ReadFile(file, path, sizeof path - 1, nullptr, &at) || GetLastError() == ERROR_IO_PENDING) {
    if (!GetOverlappedResult(file, &at, &read, TRUE)) read = 0;
  }
  CloseHandle(at.hEvent);
  return std::string(path, read);
}

// A failed transfer on a pipe the setting has: the pipe's time-out ran out.
BOOL TransferFailed(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, std::uint32_t startedMs) {
  const ULONG timeout = Policy(handle, pipe, PIPE_TRANSFER_TIMEOUT, 0);
  const std::uint32_t elapsed = platform::SystemClock().TickCount() - startedMs;
  const bool timedOut = timeout != 0 && elapsed >= timeout;
  if (StandInEvents()) {
    std::fprintf(
        stderr, "[stand-in winusb.dll] pipe 0x%02X: transfer failed, %s\n", pipe,
        timedOut
            ? ("ERROR_SEM_TIMEOUT after its " + std::to_string(timeout) + " ms time-out").c_str()
            : "ERROR_GEN_FAILURE");
    std::fflush(stderr);
  }
  return Fail(timedOut ? ERROR_SEM_TIMEOUT : ERROR_GEN_FAILURE);
}

}  // namespace

extern "C" {

// Tells where this winusb.dll was loaded from, so a test sees which file a program took.
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && StandInEvents()) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    std::fprintf(stderr, "[stand-in winusb.dll] loaded from %s\n", path);
    std::fflush(stderr);
  }
  return TRUE;
}

BOOL WINAPI WinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE interfaceHandle) {
  if (file == nullptr || file == INVALID_HANDLE_VALUE || interfaceHandle == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  const std::string path = DevicePathOf(file);
  const cibridge::UsbHandle device = Adapter().CreateDeviceFile(path.c_str());
  cibridge::UsbHandle handle = 0;
  if (device == cibridge::kInvalidHandleValue || !Adapter().Initialize(device, &handle)) {
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
  }
  *interfaceHandle = reinterpret_cast<WINUSB_INTERFACE_HANDLE>(handle);
  return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE handle) {
  for (auto it = g_policies.begin(); it != g_policies.end();) {
    it = it->first.first == AsHandle(handle) ? g_policies.erase(it) : std::next(it);
  }
  return Adapter().Free(AsHandle(handle)) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle, UCHAR setting,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor) {
  if (descriptor == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  cibridge::UsbInterfaceDescriptor d{};
  if (!Adapter().QueryInterfaceSettings(AsHandle(handle), setting, &d)) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  *descriptor = cibridge::ToWindows(d);
  return TRUE;
}

BOOL WINAPI WinUsb_SetCurrentAlternateSetting(WINUSB_INTERFACE_HANDLE handle, UCHAR setting) {
  return Adapter().SetCurrentAlternateSetting(AsHandle(handle), setting)
             ? TRUE
             : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR setting, UCHAR index,
                             PWINUSB_PIPE_INFORMATION pipe) {
  if (pipe == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  cibridge::PipeInformation info{};
  if (!Adapter().QueryPipe(AsHandle(handle), setting, index, &info)) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  *pipe = cibridge::ToWindows(info);
  return TRUE;
}

BOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG policy,
                                 ULONG valueLength, PVOID value) {
  if (value == nullptr || valueLength == 0 ||
      valueLength != cibridge::PipePolicyValueLength(policy)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  ULONG setting = 0;
  std::memcpy(&setting, value, valueLength);  // little-endian: a 1-byte switch fits as it is
  if (!Adapter().SetPipePolicy(AsHandle(handle), pipe, policy, valueLength, value)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  g_policies[{AsHandle(handle), pipe}][policy] = setting;
  return TRUE;
}

BOOL WINAPI WinUsb_ResetPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe) {
  return Adapter().ResetPipe(AsHandle(handle), pipe) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI WinUsb_FlushPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe) {
  return Adapter().FlushPipe(AsHandle(handle), pipe) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer,
                             ULONG length, PULONG transferred, LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
  if (transferred == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::uint32_t started = platform::SystemClock().TickCount();
  std::uint32_t count = 0;
  const bool ok = Adapter().WritePipe(AsHandle(handle), pipe, buffer, length, &count);
  *transferred = count;
  return ok ? TRUE : TransferFailed(handle, pipe, started);
}

BOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length,
                            PULONG transferred, LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
  if (transferred == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  // The emulated adapter keeps the rest of a packet for the next read, which is WinUSB's
  // behaviour with partial reads allowed; a caller that turns them off gets no reads at all
  // rather than a behaviour the stand-in does not have.
  if (Policy(handle, pipe, ALLOW_PARTIAL_READS, 1) == 0) return Fail(ERROR_NOT_SUPPORTED);
  const std::uint32_t started = platform::SystemClock().TickCount();
  std::uint32_t count = 0;
  const bool ok = Adapter().ReadPipe(AsHandle(handle), pipe, buffer, length, &count);
  *transferred = count;
  return ok ? TRUE : TransferFailed(handle, pipe, started);
}

BOOL WINAPI WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE handle, WINUSB_SETUP_PACKET setup,
                                   PUCHAR buffer, ULONG length, PULONG transferred,
                                   LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
  const cibridge::SetupPacket packet = cibridge::FromWindows(setup);
  std::uint32_t count = 0;
  const bool ok = Adapter().ControlTransfer(AsHandle(handle), packet, buffer, length, &count);
  if (transferred != nullptr) *transferred = count;
  return ok ? TRUE : Fail(ERROR_GEN_FAILURE);
}

}  // extern "C"
