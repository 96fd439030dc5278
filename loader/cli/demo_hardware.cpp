// The demo's hardware: a simulated CI module behind an ISA adapter at 0x320, answering with the
// timing of a real module, on the machine's own clock. Everything else (the driver device, the
// adapter library) is looked up as on a real machine.
#include "Datas.h"
#include "ci_module.h"
#include "loader_cli.h"
#include "sim_port_space.h"

namespace {

struct DemoHardware {
  DemoHardware()
      : module(platform::SystemClock(),
               sim::ModuleImage::FromUpdate(InitData, InitDataLength, InitDataSize, MainData,
                                            MainDataLength, MainDataSize)) {
    module.SetTiming({2'000, 1'000, 400'000, 1'500'000});
    ports.AttachModule(&module, 0x320);
    ports.SetLogging(false);
  }
  sim::CiModule module;
  sim::SimPortSpace ports;
};

}  // namespace

CliHardware MachineHardware() {
  static DemoHardware demo;
  return {platform::SystemClock(), demo.ports, platform::SystemDevices(),
          platform::SystemLibraries()};
}
