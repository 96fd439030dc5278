#include "usb_rig.h"

#include <array>
#include <span>

#include "cibridge_api.h"
#include "device_object.h"
#include "platform_names.h"

namespace usb_test {
namespace {

platform::LibraryHandle const kRuntime = reinterpret_cast<platform::LibraryHandle>(0x11);
platform::LibraryHandle const kAdapterLibrary = reinterpret_cast<platform::LibraryHandle>(0x22);

}  // namespace

platform::LibraryHandle CoreLibraries::Load(const std::string& name) {
  loads.push_back(name);
  if (name == platform::kUsbRuntimeLibrary) return kRuntime;
  if (name == ProgramFolder() + platform::kAdapterLibraryFile) return kAdapterLibrary;
  return nullptr;
}

void* CoreLibraries::Find(platform::LibraryHandle library, const char* name) {
  if (library != kAdapterLibrary) return nullptr;
  static const std::map<std::string, void*> exports = {
      {"SearchUSBAdapter", reinterpret_cast<void*>(&SearchUSBAdapter)},
      {"USBAdapterOpen", reinterpret_cast<void*>(&USBAdapterOpen)},
      {"USBAdapterClose", reinterpret_cast<void*>(&USBAdapterClose)},
      {"USBAdapterCIReset", reinterpret_cast<void*>(&USBAdapterCIReset)},
      {"GetCIStatus", reinterpret_cast<void*>(&GetCIStatus)},
      {"WriteCOR", reinterpret_cast<void*>(&WriteCOR)},
      {"NegociateCI", reinterpret_cast<void*>(&NegociateCI)},
      {"SetTimeout", reinterpret_cast<void*>(&SetTimeout)},
      {"WriteExchange", reinterpret_cast<void*>(&WriteExchange)},
      {"LoadFirmware", reinterpret_cast<void*>(&LoadFirmware)},
  };
  const auto it = exports.find(name);
  return it == exports.end() ? nullptr : it->second;
}

UsbRig::UsbRig(std::uint16_t vendorId, std::uint16_t productId) {
  host = std::make_unique<sim::SimHost>(clock, [this] { link->TimeoutTick(); });
  module = NewModule();
  adapter = std::make_unique<sim::EmulatedAdapter>(
      clock, module.get(),
      std::span<const std::uint8_t>(cibridge::kAdapterProgram, cibridge::kAdapterProgramSize),
      vendorId, productId);
  cibridge::InstallDevice(*adapter, clock);
  ports.SetLogging(false);
  link = std::make_unique<ModuleLink>(LinkServices{clock, ports, devices, libraries, *host});
  link->AutoProbe = true;
  link->IOBaseSetting = 0x320;
  link->UseDriver = false;
}

UsbRig::~UsbRig() {
  cibridge::InstallNoDevice();
}

std::unique_ptr<sim::CiModule> UsbRig::NewModule() {
  return std::make_unique<sim::CiModule>(
      clock,
      sim::ModuleImage::FromUpdate(image.InitData, image.InitDataLength, image.InitDataSize,
                                   image.MainData, image.MainDataLength, image.MainDataSize));
}

UpdateOutcome UsbRig::RunUpdate() {
  UpdateProcedure procedure(*link, view, *host, image);
  const UpdateOutcome outcome = procedure.Run();
  lastOpenResult = procedure.LastOpenResult();
  return outcome;
}

std::string SearchAdapter() {
  std::array<char, 512> path{};
  return SearchUSBAdapter(path.data()) == 1 ? std::string(path.data()) : std::string();
}

bool OpenWarmLink(UsbRig& rig) {
  rig.adapter->StartWarm();
  if (USBAdapterOpen(SearchAdapter().c_str()) != 1) return false;
  SetTimeout(2000);
  std::int32_t size = 0;
  return USBAdapterCIReset() == 2 && WriteCOR(0x1FE, 9, 0x320) == 1 &&
         NegociateCI(128, &size) == 1 && size == 128;
}

}  // namespace usb_test
