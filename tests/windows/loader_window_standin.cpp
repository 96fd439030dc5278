// A stand-in for cibridge.dll for the window program's test under Wine: an adapter that is
// always there with a simulated module in its slot, reached through the updater's own CI link
// on simulated registers. It answers every export as a ready adapter does, so that
// "Start Update" runs the whole update over the USB path of loader.exe.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "Datas.h"
#include "ci_module.h"
#include "cibridge_api.h"
#include "clock.h"
#include "device_io.h"
#include "hex.h"
#include "host.h"
#include "library_loader.h"
#include "pcmcia.h"
#include "sim_port_space.h"

namespace {

constexpr std::uint16_t kModuleBase = 0x320;
constexpr std::int32_t kExchangeTimeoutMs = 5000;

class NoDevices final : public platform::DeviceIo {
 public:
  platform::DeviceHandle Open(const std::string&) override {
    return platform::kInvalidDeviceHandle;
  }
  bool Control(platform::DeviceHandle, std::uint32_t, const void*, std::uint32_t, void*,
               std::uint32_t, std::uint32_t*) override {
    return false;
  }
  void Close(platform::DeviceHandle) override {}
};

class NoLibraries final : public platform::LibraryLoader {
 public:
  platform::LibraryHandle Load(const std::string&) override { return nullptr; }
  void* Find(platform::LibraryHandle, const char*) override { return nullptr; }
  void Unload(platform::LibraryHandle) override {}
  std::string ProgramFolder() override { return {}; }
};

class QuietHost final : public platform::Host {
 public:
  void ProcessMessages() override {}
  void ShowSystemMessage(const std::string&, const std::string&, bool) override {}
  bool AskRetry(const std::string&) override { return false; }
  void Beep() override {}
};

struct Adapter {
  Adapter()
      : module(platform::SystemClock(),
               sim::ModuleImage::FromUpdate(InitData, InitDataLength, InitDataSize, MainData,
                                            MainDataLength, MainDataSize)),
        link(LinkServices{platform::SystemClock(), ports, devices, libraries, host}) {
    ports.SetLogging(false);
    ports.AttachModule(&module, kModuleBase);
    link.IOBase = kModuleBase;
  }
  sim::CiModule module;
  sim::SimPortSpace ports;
  NoDevices devices;
  NoLibraries libraries;
  QuietHost host;
  ModuleLink link;
};

Adapter& TheAdapter() {
  static Adapter adapter;
  return adapter;
}

}  // namespace

extern "C" {

__declspec(dllexport) int32_t SearchUSBAdapter(char* pathBuffer) {
  std::strcpy(pathBuffer, "\\\\?\\usb#vid_1b0d&pid_5f10#1#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}");
  return 1;
}
__declspec(dllexport) int32_t USBAdapterOpen(const char*) {
  return 1;
}
__declspec(dllexport) int32_t USBAdapterClose() {
  return 1;
}
__declspec(dllexport) int32_t USBAdapterCIReset() {
  return 2;  // the module is ready
}
__declspec(dllexport) int32_t GetCIStatus() {
  return 1;
}
__declspec(dllexport) int32_t WriteCOR(int32_t, int32_t, int32_t) {
  return 1;
}
__declspec(dllexport) int32_t NegociateCI(int32_t, int32_t* answeredSize) {
  const bool linked = TheAdapter().link.CiLinkInit();
  if (answeredSize != nullptr) *answeredSize = TheAdapter().module.NegotiatedSize();
  return linked ? 1 : 0;
}
__declspec(dllexport) int32_t SetTimeout(int32_t) {
  return 1;
}
__declspec(dllexport) int32_t
    WriteExchange(const uint8_t* payload, int32_t length, uint8_t* answer, int32_t* answerLength) {
  std::string message;
  for (int32_t i = 0; i < length; ++i) message += HexDigits(payload[i], 2);
  ModuleLink& link = TheAdapter().link;
  link.ModuleExchange(message, kExchangeTimeoutMs);
  const std::string& text = link.AnswerText;
  const int32_t count = std::min<int32_t>(static_cast<int32_t>(text.size() / 2), *answerLength);
  for (int32_t i = 0; i < count; ++i) {
    answer[i] = static_cast<uint8_t>(HexValue(std::string_view(text).substr(i * 2, 2)));
  }
  *answerLength = count;
  return 1;
}
__declspec(dllexport) int32_t LoadFirmware(int32_t) {
  return 1;
}

}  // extern "C"
