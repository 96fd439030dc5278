// The module access layer: one link to the CI module over the USB adapter library, the
// register driver or direct ports. The program keeps one ModuleLink for its whole run; tests
// make as many as they like.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cibridge_api.h"
#include "clock.h"
#include "device_io.h"
#include "fault_guard.h"
#include "host.h"
#include "library_loader.h"
#include "port_io.h"

// Results of ModuleOpen.
enum OpenResultCode : int {
  kLinkOpen = 0,
  kUsbModuleNotReady = 1,
  kDriverMissing = 2,
  kNoModule = 3,
  kTransportException = 4,
  kCancelled = 10,
};

// The adapter library's entry points, in the order they are looked up.
struct AdapterEntries {
  SearchUSBAdapterFn SearchUSBAdapter = nullptr;
  USBAdapterOpenFn USBAdapterOpen = nullptr;
  USBAdapterCloseFn USBAdapterClose = nullptr;
  USBAdapterCIResetFn USBAdapterCIReset = nullptr;
  GetCIStatusFn GetCIStatus = nullptr;
  WriteCORFn WriteCOR = nullptr;
  NegociateCIFn NegociateCI = nullptr;
  WriteExchangeFn WriteExchange = nullptr;
  SetTimeoutFn SetTimeout = nullptr;
  LoadFirmwareFn LoadFirmware = nullptr;
};

// Raised in place of a library call that faulted, and of every call into the library after
// that, so each step goes on as it does when a library call raises an exception.
class AdapterLibraryFault : public std::runtime_error {
 public:
  AdapterLibraryFault() : std::runtime_error("fault inside the adapter library") {}
};

// The operating-system services the link uses.
struct LinkServices {
  platform::Clock& clock;
  platform::PortIo& ports;
  platform::DeviceIo& devices;
  platform::LibraryLoader& libraries;
  platform::Host& system;  // message boxes and the retry dialog
};

class ModuleLink {
 public:
  explicit ModuleLink(const LinkServices& services) : services_(services) {}
  ModuleLink(const ModuleLink&) = delete;
  ModuleLink& operator=(const ModuleLink&) = delete;

  // --- Link (pcmcia.cpp) ---
  int ModuleOpen(platform::Host* application, bool tryUsb);
  void ModuleClose();
  // The main window's 100 ms timer: lowers TimeoutCountdown by 100, ending at exactly 0.
  void TimeoutTick();

  // --- USB adapter library binding (adapter_binding.cpp) ---
  bool BindAdapterLibrary();
  void ReleaseAdapterLibrary();
  std::int32_t ResetUsbModule();
  // Vendor ID × 65536 + product ID read from a device interface path; -1 when unreadable.
  static std::int32_t AdapterId(const char* devicePath);

  // --- CI link, exchange and register back-ends (Funktion.cpp) ---
  bool CiLinkInit();
  void ModuleExchange(std::string_view message, std::int32_t timeoutMs);
  void WriteCiRegister(std::uint16_t address, std::uint8_t value);
  std::uint8_t ReadCiRegister(std::uint16_t address);
  bool OpenDriverDevice();
  void WaitMs(std::int32_t milliseconds);

  // --- The link record ---
  bool AdapterBound = false;
  AdapterEntries Adapter;
  platform::LibraryHandle AdapterLibrary = nullptr;
  std::int32_t LibraryTimeout = 0;
  // A call into the bound library faulted: its state is not to be trusted, nothing calls it
  // again, and it is released without its close. Cleared when a library is bound anew.
  bool AdapterFaulted = false;
  std::uint16_t IOBase = 0x320;
  std::uint16_t IOBaseSetting = 0;
  bool AutoProbe = false;
  bool SwapboxMode = false;
  bool UseDriver = false;
  platform::DeviceHandle DriverHandle = platform::kInvalidDeviceHandle;
  std::int32_t TimeoutCountdown = 0;
  platform::Host* Application = nullptr;
  std::string AnswerText;
  std::array<std::uint8_t, 512> ExchangeBuffer{};

 private:
  // How the USB bring-up ended.
  enum class BringUp { kReady, kFallThrough, kPendingFailure, kFirmwareRefused, kCancelled };

  BringUp UsbBringUp();
  bool ReopenAfterEnumeration(char* adapterText);
  bool NegotiateOverLibrary();
  bool ProbePortBases();
  void SetLibraryTimeout(std::int32_t milliseconds);
  // Calls an entry of the bound library under the fault guard; raises AdapterLibraryFault when
  // the call faulted or the library already had.
  template <typename Entry, typename... Arguments>
  std::int32_t CallAdapter(Entry entry, Arguments... arguments);
  // The binding's own calls into the library file (loading runs its start-up code, lookups
  // read its tables) under the same guard; nullptr when they fault.
  platform::LibraryHandle GuardedLoad(const std::string& path);
  void* GuardedFind(const char* name);
  void GuardedUnload();
  // Polls the status register until DA or the countdown ends; false when the countdown ended.
  bool WaitForDataAvailable(std::int32_t timeoutMs);
  void ReadAnswer();
  void PumpMessages();
  // A polling wait in progress: when it began, and how often it has polled.
  struct PollingWait {
    std::uint32_t startMs;
    std::uint32_t polls = 0;
  };
  // One pass of a polling wait: pump, and after the first quick passes give the processor away
  // for a while that grows with the time already waited.
  void PollPause(PollingWait& wait);
  void DriverWrite(std::uint16_t address, std::uint8_t value);
  void PortOrDriverWrite(std::uint16_t address, std::uint8_t value);

  LinkServices services_;
  // Caller memory the library writes, each followed by a page it cannot write.
  platform::FencedBuffer adapterText_{512};
  platform::FencedBuffer answerBuffer_{256};
};

template <typename Entry, typename... Arguments>
std::int32_t ModuleLink::CallAdapter(Entry entry, Arguments... arguments) {
  if (AdapterFaulted) throw AdapterLibraryFault();
  std::int32_t result = 0;
  auto call = [&] { result = entry(arguments...); };
  if (!platform::GuardedCall(call)) {
    AdapterFaulted = true;
    throw AdapterLibraryFault();
  }
  return result;
}
