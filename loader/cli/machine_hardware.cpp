#include "loader_cli.h"

CliHardware MachineHardware() {
  return {platform::SystemClock(), platform::SystemPorts(), platform::SystemDevices(),
          platform::SystemLibraries()};
}
