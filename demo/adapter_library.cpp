// The demo's adapter library (build/demo/libcibridge.so): the library core over the emulated
// adapter, which comes up cold with a simulated module in its slot. The module answers at a
// real module's pace on the machine's clock, and the adapter tells each step of its life on
// the standard error stream, so the demo shows the download, the re-enumeration and the
// negotiation.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <span>

#include "adapter_program.h"
#include "clock.h"
#include "demo_module.h"
#include "emulated_adapter.h"
#include "usb_backend.h"

namespace cibridge {

std::unique_ptr<UsbBackend> CreateUsbBackend() {
  platform::Clock& clock = platform::SystemClock();
  // Lives as long as the process, like the library's device object.
  static const std::unique_ptr<sim::CiModule> module = MakeDemoModule(clock);
  auto adapter = std::make_unique<sim::EmulatedAdapter>(
      clock, module.get(), std::span<const std::uint8_t>(kAdapterProgram, kAdapterProgramSize));
  adapter->SetTransferLatencyUs(125);  // one high-speed microframe per transfer
  adapter->SetEventSink([](const std::string& event) {
    // On a terminal, loader-cli's progress line may stand unfinished where this line would
    // start: clear it, so each step gets a line of its own (loader-cli redraws its line at its
    // next change).
    static const bool terminal = isatty(fileno(stderr)) != 0;
    std::fprintf(stderr, "%s[emulated USB adapter] %s\n", terminal ? "\r\033[2K" : "",
                 event.c_str());
    std::fflush(stderr);
  });
  return adapter;
}

}  // namespace cibridge
