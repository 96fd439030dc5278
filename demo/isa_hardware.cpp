// The demo's hardware: a simulated CI module behind an ISA adapter at 0x320, answering with the
// timing of a real module, on the machine's own clock. Everything else (the driver device, the
// adapter library) is looked up as on a real machine.
#include "demo_module.h"
#include "loader_cli.h"
#include "sim_port_space.h"

namespace {

struct DemoHardware {
  DemoHardware() : module(MakeDemoModule(platform::SystemClock())) {
    ports.AttachModule(module.get(), 0x320);
    ports.SetLogging(false);
  }
  std::unique_ptr<sim::CiModule> module;
  sim::SimPortSpace ports;
};

}  // namespace

CliHardware MachineHardware() {
  static DemoHardware demo;
  return {platform::SystemClock(), demo.ports, platform::SystemDevices(),
          platform::SystemLibraries()};
}
