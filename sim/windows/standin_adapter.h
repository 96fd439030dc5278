// The one emulated USB CI adapter of a process that runs against the stand-ins of setupapi.dll
// and winusb.dll. It lives in winusb.dll; setupapi.dll reaches it through that DLL's one private
// export, so both stand-ins see the same adapter.
//
// The adapter comes up cold with a simulated module in its slot and runs on the machine's clock
// (under Wine, real time). Environment variables shape it for a test:
//   MORVANE_STANDIN_REENUMERATION_MS  time off the bus after the program starts (default 200)
//   MORVANE_STANDIN_NEVER_RETURNS=1   after the program starts, the adapter never comes back
//   MORVANE_STANDIN_MODULE_SILENT_AT=n  the module does not answer its n-th message (from 1)
//   MORVANE_STANDIN_PROGRAMMING_MS=n  the module takes n ms to program itself (at once else)
//   MORVANE_STANDIN_EVENTS=1          each step of the adapter's life on standard error
#pragma once

#include "emulated_adapter.h"

// MORVANE_STANDIN_EVENTS=1 is set.
bool StandInEvents();

// Exported by winusb.dll (winusb.def) and imported by setupapi.dll.
extern "C" sim::EmulatedAdapter* MorvaneStandInAdapter();
