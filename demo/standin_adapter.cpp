#include "standin_adapter.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "adapter_program.h"
#include "clock.h"
#include "demo_module.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

// At unloading, what the module received (only when the adapter was made).
struct Report {
  sim::CiModule* module = nullptr;
  ~Report() {
    if (module == nullptr || !StandInEvents()) return;
    std::fprintf(stderr, "[stand-in adapter] module: %d messages, image %s\n",
                 module->MessageCount(), module->ReceivedImageIntact() ? "intact" : "not intact");
    std::fflush(stderr);
  }
};

}  // namespace

bool StandInEvents() {
  return Environment("MORVANE_STANDIN_EVENTS") == "1";
}

sim::EmulatedAdapter* MorvaneStandInAdapter() {
  // Answers at once: the tests under Wine run on the machine's clock.
  static const std::unique_ptr<sim::CiModule> module = [] {
    const std::string programming = Environment("MORVANE_STANDIN_PROGRAMMING_MS");
    sim::ModuleTiming pace{};
    pace.programmingUs = static_cast<std::uint32_t>(std::atoi(programming.c_str())) * 1000u;
    auto made = MakeDemoModule(platform::SystemClock(), pace);
    const std::string silentAt = Environment("MORVANE_STANDIN_MODULE_SILENT_AT");
    if (!silentAt.empty()) made->SilenceAt(std::atoi(silentAt.c_str()));
    return made;
  }();
  static std::unique_ptr<sim::EmulatedAdapter> adapter = [] {
    auto made = std::make_unique<sim::EmulatedAdapter>(
        platform::SystemClock(), module.get(),
        std::span<const std::uint8_t>(cibridge::kAdapterProgram, cibridge::kAdapterProgramSize));
    const std::string reenumeration = Environment("MORVANE_STANDIN_REENUMERATION_MS");
    made->SetReenumerationMs(
        reenumeration.empty() ? 200 : static_cast<std::uint32_t>(std::atoi(reenumeration.c_str())));
    made->SetNeverReturns(Environment("MORVANE_STANDIN_NEVER_RETURNS") == "1");
    if (StandInEvents()) {
      made->SetEventSink([](const std::string& event) {
        std::fprintf(stderr, "[stand-in adapter] %s\n", event.c_str());
        std::fflush(stderr);
      });
    }
    return made;
  }();
  // Made after the module and the adapter, so it goes before them.
  static Report report{module.get()};
  return adapter.get();
}
