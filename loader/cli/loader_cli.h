// loader-cli: the update of the window program, run in a terminal.
//
//   loader-cli            runs one update with the settings of "Morvane.ini"
//   loader-cli --json     the same, telling each step as a line of JSON (json_report.h)
//   loader-cli --help     explains itself
//   loader-cli --version  names the program and the update it carries
//
// Exit statuses (see README.md): 0 the module answered "Ready"; 1 the link to the module was not
// opened (including a cancelled adapter dialog); 2 the module refused the update or it failed;
// 3 the module already held this software; 5 stopped by a request to end before the module was
// programmed; 6 the output was lost (the update ran to its end; its result goes to the error
// stream); 64 a wrong command line.
#pragma once

#include <string>
#include <vector>

#include "Update.h"
#include "clock.h"
#include "device_io.h"
#include "library_loader.h"
#include "port_io.h"
#include "private_profile.h"
#include "terminal.h"

enum LoaderCliStatus : int {
  kCliReady = 0,
  kCliNotOpened = 1,
  kCliFailed = 2,
  kCliAlreadyCurrent = 3,
  kCliStopped = 5,
  kCliOutputLost = 6,
  kCliUsage = 64,
};

// The hardware the program reaches: the machine's own, or the demo's simulation.
struct CliHardware {
  platform::Clock& clock;
  platform::PortIo& ports;
  platform::DeviceIo& devices;
  platform::LibraryLoader& libraries;
};
CliHardware MachineHardware();

// How a run ended, as the final JSON line names it: "ready", "not-opened", "cancelled",
// "failed", "identical" or "stopped".
std::string ResultName(UpdateOutcome outcome);

int RunLoaderCli(const std::vector<std::string>& arguments, const TerminalStreams& streams,
                 const CliHardware& hardware, platform::PrivateProfile& settings);
