// Binding the USB adapter library at run time, and bringing the adapter and its module up:
// search, open, module reset and configuration, the program download, the re-enumeration with
// its retry dialog, and the reset after it.
#include <array>
#include <cstring>
#include <string>
#include <type_traits>

#include "hex.h"
#include "pcmcia.h"
#include "platform_names.h"

namespace {
constexpr std::uint32_t kBindPauseMs = 1500;
constexpr std::uint32_t kReleasePauseMs = 1500;
constexpr std::uint32_t kClosePauseMs = 300;
constexpr int kCloseAttempts = 3;
constexpr std::uint32_t kConfigurationPauseMs = 300;
constexpr std::uint32_t kEnumerationPauseMs = 1000;
constexpr std::uint32_t kAttemptPauseMs = 1000;
constexpr std::int32_t kBringUpTimeout = 2000;
constexpr std::int32_t kOpenLibraryTimeout = 60000;
constexpr int kFirstDialogAfter = 6;
constexpr int kNextDialogEvery = 5;

constexpr std::uint16_t kConfigurationBase = 0x320;
constexpr std::int32_t kCorAddress = 0x1FE;
constexpr std::int32_t kCorValue = 9;
constexpr std::int32_t kModuleReady = 2;
constexpr std::int32_t kAdapterWithoutProgram = 0;
constexpr std::int32_t kResetNotBound = -1;
constexpr std::int32_t kConfigurationFailed = -2;

constexpr const char* kEntryErrorTitle = "Fehler";
constexpr const char* kEntryErrorText =
    "Fehler beim Aufruf von Funktionen in der DLL-Datei Cibridge.dll aufgetreten.";
constexpr const char* kRetryText =
    "Der gefundene VARAR-Adapter konnte nach der Enumeration nicht mehr ermittelt werden, "
    "eventuell benötigt er\r\n"
    "noch etwas Zeit zum Starten oder er muß noch einmal aktiviert werden (Windows7 XP-Modus USB "
    "zuordnen!).\r\n"
    "Drücken Sie OK für einen weiteren Versuch.";

}  // namespace

platform::LibraryHandle ModuleLink::GuardedLoad(const std::string& path) {
  platform::LibraryHandle library = nullptr;
  auto load = [&] { library = services_.libraries.Load(path); };
  if (!platform::GuardedCall(load)) return nullptr;
  return library;
}

void* ModuleLink::GuardedFind(const char* name) {
  void* entry = nullptr;
  auto find = [&] { entry = services_.libraries.Find(AdapterLibrary, name); };
  if (!platform::GuardedCall(find)) {
    AdapterFaulted = true;
    return nullptr;
  }
  return entry;
}

void ModuleLink::GuardedUnload() {
  auto unload = [&] { services_.libraries.Unload(AdapterLibrary); };
  if (!platform::GuardedCall(unload)) AdapterFaulted = true;
  AdapterLibrary = nullptr;
}

bool ModuleLink::BindAdapterLibrary() {
  if (AdapterBound) return true;
  auto& libraries = services_.libraries;
  auto& clock = services_.clock;

  // Loadable exactly when the platform's USB runtime is installed.
  platform::LibraryHandle usbRuntime = libraries.Load(platform::kUsbRuntimeLibrary);
  if (usbRuntime == nullptr) return false;
  libraries.Unload(usbRuntime);

  AdapterFaulted = false;
  AdapterLibrary = GuardedLoad(libraries.ProgramFolder() + platform::kAdapterLibraryFile);
  if (AdapterLibrary == nullptr) {
    Adapter = {};
    clock.Sleep(kBindPauseMs);
    return false;
  }

  AdapterEntries& e = Adapter;
  const auto resolve = [this](const char* name, auto& entry) {
    using Entry = std::remove_reference_t<decltype(entry)>;
    entry = AdapterFaulted ? nullptr : reinterpret_cast<Entry>(GuardedFind(name));
  };
  resolve("SearchUSBAdapter", e.SearchUSBAdapter);
  resolve("USBAdapterOpen", e.USBAdapterOpen);
  resolve("USBAdapterClose", e.USBAdapterClose);
  resolve("USBAdapterCIReset", e.USBAdapterCIReset);
  resolve("GetCIStatus", e.GetCIStatus);
  resolve("WriteCOR", e.WriteCOR);
  resolve("NegociateCI", e.NegociateCI);
  resolve("WriteExchange", e.WriteExchange);
  resolve("SetTimeout", e.SetTimeout);
  resolve("LoadFirmware", e.LoadFirmware);

  // A lookup that faulted leaves the library unbound, as a missing export does.
  const bool required = e.SearchUSBAdapter && e.USBAdapterOpen && e.USBAdapterClose &&
                        e.USBAdapterCIReset && e.GetCIStatus && e.WriteCOR && e.NegociateCI &&
                        e.WriteExchange && e.SetTimeout && !AdapterFaulted;
  if (required) {
    AdapterBound = true;
    clock.Sleep(kBindPauseMs);
    return true;
  }
  GuardedUnload();
  Adapter = {};
  clock.Sleep(kBindPauseMs);
  clock.Sleep(kBindPauseMs);
  return false;
}

void ModuleLink::ReleaseAdapterLibrary() {
  if (AdapterBound) {
    // A library that faulted is not asked to close: it goes at once.
    for (int attempt = 0; attempt < kCloseAttempts && !AdapterFaulted; ++attempt) {
      std::int32_t released = 0;
      try {
        released = Adapter.USBAdapterClose != nullptr ? CallAdapter(Adapter.USBAdapterClose) : 1;
      } catch (...) {
        released = 0;  // a failing close counts as not released; the library goes anyway
      }
      if (released != 0) break;
      services_.clock.Sleep(kClosePauseMs);
    }
    GuardedUnload();
    Adapter = {};
    AdapterBound = false;
  }
  services_.clock.Sleep(kReleasePauseMs);
}

std::int32_t ModuleLink::ResetUsbModule() {
  if (Adapter.USBAdapterCIReset == nullptr) return kResetNotBound;
  std::int32_t status = 0;
  try {
    status = CallAdapter(Adapter.USBAdapterCIReset) & 0xFFFF;
  } catch (...) {
    status = 0;
  }
  if (status == kModuleReady) {
    IOBase = kConfigurationBase;
    if (Adapter.WriteCOR != nullptr) {
      services_.clock.Sleep(kConfigurationPauseMs);
      try {
        if ((CallAdapter(Adapter.WriteCOR, kCorAddress, kCorValue, std::int32_t{IOBase}) &
             0xFFFF) == 0)
          return kConfigurationFailed;
      } catch (...) {
        return kConfigurationFailed;
      }
    }
  }
  return status;
}

std::int32_t ModuleLink::AdapterId(const char* devicePath) {
  std::string path = devicePath != nullptr ? devicePath : "";
  path.append(25, ' ');
  path.resize(25);
  std::string ids;
  for (std::size_t position : {12, 13, 14, 15, 21, 22, 23, 24}) ids.push_back(path[position]);
  return HexValue(ids);
}

void ModuleLink::SetLibraryTimeout(std::int32_t milliseconds) {
  if (Adapter.SetTimeout == nullptr) return;
  try {
    CallAdapter(Adapter.SetTimeout, milliseconds);
    LibraryTimeout = milliseconds;
  } catch (...) {
    TimeoutCountdown = 0;
  }
}

ModuleLink::BringUp ModuleLink::UsbBringUp() {
  if (Adapter.SearchUSBAdapter == nullptr || Adapter.USBAdapterOpen == nullptr) {
    ReleaseAdapterLibrary();
    services_.system.ShowSystemMessage(kEntryErrorText, kEntryErrorTitle, false);
    return BringUp::kCancelled;
  }
  // The device path buffer ends at a page the library cannot write.
  std::array<char, 512> unfenced{};
  char* const adapterText = adapterText_.data() != nullptr
                                ? reinterpret_cast<char*>(adapterText_.data())
                                : unfenced.data();
  const std::size_t adapterTextSize = unfenced.size();
  try {
    adapterText[0] = '\0';
    if (CallAdapter(Adapter.SearchUSBAdapter, adapterText) == 0 ||
        CallAdapter(Adapter.USBAdapterOpen, adapterText) == 0) {
      ReleaseAdapterLibrary();
      return BringUp::kFallThrough;
    }
    adapterText[adapterTextSize - 1] = '\0';  // the library writes at most 511 characters
    const std::int32_t adapterId = AdapterId(adapterText);

    SetLibraryTimeout(kBringUpTimeout);
    const std::int32_t status = ResetUsbModule();
    if (status == kAdapterWithoutProgram && Adapter.LoadFirmware != nullptr &&
        CallAdapter(Adapter.LoadFirmware, adapterId) == 0) {
      ReleaseAdapterLibrary();
      return BringUp::kFirmwareRefused;
    }

    // The adapter is always closed and found again, also when its module was ready.
    PumpMessages();
    services_.clock.Sleep(kEnumerationPauseMs);
    CallAdapter(Adapter.USBAdapterClose);
    LibraryTimeout = kOpenLibraryTimeout;

    if (!ReopenAfterEnumeration(adapterText)) {
      ReleaseAdapterLibrary();
      return BringUp::kCancelled;
    }

    PumpMessages();
    SetLibraryTimeout(kBringUpTimeout);
    BringUp outcome = BringUp::kReady;
    if (ResetUsbModule() != kModuleReady) {
      ReleaseAdapterLibrary();
      outcome = BringUp::kPendingFailure;
    }
    PumpMessages();
    return outcome;
  } catch (...) {
    ReleaseAdapterLibrary();
    return BringUp::kFallThrough;
  }
}

bool ModuleLink::ReopenAfterEnumeration(char* adapterText) {
  adapterText[0] = '\0';
  for (int failures = 0;;) {
    if (CallAdapter(Adapter.SearchUSBAdapter, adapterText) == 1 &&
        CallAdapter(Adapter.USBAdapterOpen, adapterText) == 1)
      return true;
    ++failures;
    services_.clock.Sleep(kAttemptPauseMs);
    const bool dialogDue =
        failures == kFirstDialogAfter ||
        (failures > kFirstDialogAfter && (failures - kFirstDialogAfter) % kNextDialogEvery == 0);
    if (dialogDue && !services_.system.AskRetry(kRetryText)) return false;
  }
}
