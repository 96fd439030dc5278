// cibus-control.exe: installs the PC Card bus stand-in and drives it, for the tests under Wine.
//
//   cibus-control install <bus.inf> <driver.inf>
//       copies the function driver's INF into the system's INF folder (SetupCopyOEMInf), so
//       that plug and play finds it for the bus's children; creates the root device
//       ROOT\MORVANE_CIBUS\... with the bus's hardware ID (SetupAPI, DIF_REGISTERDEVICE) and
//       installs the bus INF on it (UpdateDriverForPlugAndPlayDevices), which starts the bus;
//       then waits for the bus's control device.
//   cibus-control start             starts the installed bus and waits for its control device
//   cibus-control card <options>    puts a card in (the options: demo/wine_card/card_model.cpp)
//   cibus-control none              takes the card out (the bus reports no child)
//   cibus-control status            the bus's children and the card's counts
//   cibus-control bench <count>     times <count> register reads through \\.\DOV_IDDev
//   cibus-control wait present|absent <device> <seconds>
//       waits until \\.\<device> opens, or no longer opens, for at most that long
//
// Every command prints the bus's reply; the exit status is 0 when it succeeded.
#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <newdev.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kBusHardwareId[] = "root\\morvane_cibus\0";
const DWORD kControlCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
// The System class of the bus INF.
const GUID kSystemClass = {
    0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool Opens(const std::string& device) {
  HANDLE handle =
      CreateFileA(("\\\\.\\" + device).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

bool Wait(bool present, const std::string& device, int seconds) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  for (;;) {
    if (Opens(device) == present) return true;
    if (static_cast<LONG>(GetTickCount() - end) >= 0) return false;
    Sleep(100);
  }
}

int Fail(const char* what) {
  std::printf("error: %s failed, error %lu\n", what, GetLastError());
  return 1;
}

// Waits for the bus's control device, starting the bus's service again and again meanwhile:
// while a new prefix still starts its own services, a start request is refused (1055, the
// service database locked). Wine 8 may also never start it in the session that made the prefix
// (its host process does not find its service, and the start times out with 1053); it starts
// once the prefix's server has been restarted.
int StartBus(DWORD seconds) {
  const DWORD end = GetTickCount() + seconds * 1000;
  while (!Opens("MorvaneCiBus") && static_cast<LONG>(GetTickCount() - end) < 0) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "cibus", SERVICE_START) : nullptr;
    if (service != nullptr) {
      StartServiceA(service, 0, nullptr);
      CloseServiceHandle(service);
    }
    if (manager != nullptr) CloseServiceHandle(manager);
    Sleep(1000);
  }
  if (!Opens("MorvaneCiBus")) {
    std::printf("error: the bus's control device did not appear\n");
    return 1;
  }
  std::printf("ok\n");
  return 0;
}

int Install(const char* busInf, const char* driverInf) {
  char copied[MAX_PATH];
  if (!SetupCopyOEMInfA(driverInf, nullptr, SPOST_PATH, 0, copied, sizeof copied, nullptr, nullptr))
    return Fail("SetupCopyOEMInf");
  std::printf("driver INF: %s\n", copied);
  // Wine's setupapi looks for the driver files of an installed INF beside it (it takes neither
  // the original folder nor the INF's \x86 and \x64 source folders) and asks for a missing
  // one again and again: the driver files go beside the copy too.
  std::string source(driverInf);
  source.erase(source.find_last_of("\\/") + 1);
  std::string target(copied);
  target.erase(target.find_last_of("\\/") + 1);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((source + "*.sys").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      CopyFileA((source + found.cFileName).c_str(), (target + found.cFileName).c_str(), FALSE);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }

  HDEVINFO set = SetupDiCreateDeviceInfoList(&kSystemClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA device = {sizeof device, {}, 0, 0};
  bool ok = SetupDiCreateDeviceInfoA(set, "MORVANE_CIBUS", &kSystemClass, nullptr, nullptr,
                                     DICD_GENERATE_ID, &device) &&
            SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                              reinterpret_cast<const BYTE*>(kBusHardwareId),
                                              sizeof kBusHardwareId) &&
            SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
  if (!ok) {
    const DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
    return Fail("creating the root device");
  }
  SetupDiDestroyDeviceInfoList(set);

  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, kBusHardwareId, busInf, INSTALLFLAG_FORCE,
                                          &reboot))
    return Fail("UpdateDriverForPlugAndPlayDevices");
  return StartBus(20);
}

int Send(const std::string& command) {
  HANDLE bus = CreateFileA("\\\\.\\MorvaneCiBus", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (bus == INVALID_HANDLE_VALUE) return Fail("opening \\\\.\\MorvaneCiBus");
  char reply[2048] = {};
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(bus, kControlCode, const_cast<char*>(command.data()),
                                  static_cast<DWORD>(command.size()), reply, sizeof reply - 1,
                                  &returned, nullptr);
  CloseHandle(bus);
  if (!ok) return Fail("the bus's control request");
  std::printf("%s\n", reply);
  return std::strncmp(reply, "error", 5) == 0 ? 1 : 0;
}

// `count` reads of the card's status register through \\.\DOV_IDDev, timed: the cost of one
// driver request from a program (the request, Wine's trip to the driver's host process, the
// driver and the card model's fault handling).
int Bench(int count) {
  HANDLE device =
      CreateFileA("\\\\.\\DOV_IDDev", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return Fail("opening \\\\.\\DOV_IDDev");
  const DWORD readUchar = CTL_CODE(40001, 0x900, METHOD_BUFFERED, FILE_READ_ACCESS);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    DWORD offset = 1;
    unsigned char value[4] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(device, readUchar, &offset, sizeof offset, value, sizeof value, &returned,
                         nullptr))
      ++failed;
  }
  QueryPerformanceCounter(&end);
  CloseHandle(device);
  const double us = static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                    static_cast<double>(frequency.QuadPart);
  std::printf("%d requests (%d failed): %.1f us each\n", count, failed, us / count);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "install") == 0) return Install(argv[2], argv[3]);
  if (argc == 2 && std::strcmp(argv[1], "start") == 0) return StartBus(60);
  if (argc == 3 && std::strcmp(argv[1], "bench") == 0) return Bench(std::atoi(argv[2]));
  if (argc == 5 && std::strcmp(argv[1], "wait") == 0) {
    const bool present = std::strcmp(argv[2], "present") == 0;
    if (Wait(present, argv[3], std::atoi(argv[4]))) return 0;
    std::printf("error: \\\\.\\%s is still %s\n", argv[3], present ? "absent" : "present");
    return 1;
  }
  if (argc >= 2) {
    std::string command;
    for (int i = 1; i < argc; ++i) command += std::string(i > 1 ? " " : "") + argv[i];
    return Send(command);
  }
  std::printf(
      "usage: cibus-control install BUS.INF DRIVER.INF | start | card OPTIONS... | none | status "
      "|\n"
      "       bench COUNT | wait present|absent DEVICE SECONDS\n");
  return 64;
}
