// A whole update over the USB adapter on virtual time: the update procedure and the module
// access layer load "the adapter library" through a library seam that hands them the exports of
// the library core, whose device object drives the emulated adapter with the simulated module
// in its slot.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Datas.h"
#include "Update.h"
#include "adapter_program.h"
#include "ci_module.h"
#include "emulated_adapter.h"
#include "exports.h"
#include "library_loader.h"
#include "link_rig.h"
#include "pcmcia.h"
#include "sim_host.h"
#include "sim_port_space.h"
#include "virtual_clock.h"

namespace usb_test {

// Loads the platform's USB runtime and the adapter library from the program folder; the
// library's exports are the library core's, linked into the test.
class CoreLibraries final : public platform::LibraryLoader {
 public:
  platform::LibraryHandle Load(const std::string& name) override;
  void* Find(platform::LibraryHandle library, const char* name) override;
  void Unload(platform::LibraryHandle library) override { unloads.push_back(library); }
  std::string ProgramFolder() override { return "/opt/morvane/"; }

  std::vector<std::string> loads;
  std::vector<platform::LibraryHandle> unloads;
};

struct UsbRig {
  explicit UsbRig(std::uint16_t vendorId = 0x1234, std::uint16_t productId = 0x5678);
  ~UsbRig();
  UsbRig(const UsbRig&) = delete;
  UsbRig& operator=(const UsbRig&) = delete;

  UpdateOutcome RunUpdate();
  // A fresh simulated module that expects `image`.
  std::unique_ptr<sim::CiModule> NewModule();

  UpdateImage image = BuiltInImage();
  sim::VirtualClock clock{5000};
  std::unique_ptr<sim::SimHost> host;
  sim::SimPortSpace ports;  // no ISA adapter: only the USB adapter can carry the update
  test::RecordingDevices devices;
  CoreLibraries libraries;
  std::unique_ptr<sim::CiModule> module;
  std::unique_ptr<sim::EmulatedAdapter> adapter;
  std::unique_ptr<ModuleLink> link;
  test::RecordingView view;
  int lastOpenResult = -1;
};

// The adapter's device path as SearchUSBAdapter finds it; empty when it finds none.
std::string SearchAdapter();
// A warm adapter with the link to its module up through the library's exports: opened, module
// reset, configuration option register written (I/O base 0x320), 128 bytes negotiated, pipe
// time-out 2 s. False when a step failed.
bool OpenWarmLink(UsbRig& rig);

}  // namespace usb_test
