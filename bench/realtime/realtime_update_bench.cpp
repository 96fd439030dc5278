// Whole updates in real time, one per transport: the direct ports (simulated port space), the
// register driver (the real driver code in the kernel stand-in) and the USB adapter (the
// emulated adapter behind the library core). The module answers at the demo's pace (2 ms per
// preparation message, 1 ms per chunk, 0.4 s integrity test, 1.5 s programming), timed in
// microseconds of real time.
//
// Each run reports the wall time of the update against what it cannot do without, and the
// rest as the host's overhead:
// - on the register transports: the module's own time and the product's fixed pauses
//   (blocking pauses and the link set-up's waits); the rest is the waits noticing answers late,
//   the procedure's own work and every register access (the simulated port space, or a
//   request through the kernel stand-in: `request_us` is one measured alone);
// - over USB: the device's time, the real time spent inside the emulated adapter (transfers at
//   125 us each, microframes in which its program had no answer yet, the 8051 core running the
//   program, which waits for the module), and the fixed pauses; the rest is the loader's and the
//   library's own work.
//
//   build/bench/realtime_update_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>

#include "Update.h"
#include "adapter_program.h"
#include "ci_module.h"
#include "cicard.h"
#include "demo_module.h"
#include "device_object.h"
#include "emulated_adapter.h"
#include "kernel_devices.h"
#include "link_rig.h"
#include "sim_port_space.h"
#include "terminal.h"
#include "usb_rig.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kBusUsPerTransfer = 125;
// The link set-up's pumping waits on the register transports (5 ms and four of 2 ms).
constexpr double kLinkInitWaitsS = 0.013;

std::uint64_t NowUs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now().time_since_epoch())
          .count());
}

// The system clock, adding up the blocking pauses that pass through it.
class MeasuredClock final : public platform::Clock {
 public:
  std::uint32_t TickCount() override { return platform::SystemClock().TickCount(); }
  void Sleep(std::uint32_t milliseconds) override {
    pausedMs += milliseconds;
    platform::SystemClock().Sleep(milliseconds);
  }
  void Nap(std::uint32_t microseconds) override { platform::SystemClock().Nap(microseconds); }
  std::uint64_t pausedMs = 0;
};

// What every transport shares: the clock, the terminal program's message pump, the module.
struct RealTimeUpdate {
  RealTimeUpdate()
      : quiet(std::fopen("/dev/null", "w")),
        report({quiet, stdin, false, false}),
        host(report, clock, [this] {
          if (link) link->TimeoutTick();
        }) {
    module = MakeDemoModule(clock);
    module->UsePreciseTime(NowUs);
  }
  ~RealTimeUpdate() { std::fclose(quiet); }

  void Link(platform::PortIo& ports, platform::DeviceIo& devices,
            platform::LibraryLoader& libraries) {
    link = std::make_unique<ModuleLink>(LinkServices{clock, ports, devices, libraries, host});
  }

  // Runs the update and reports the figures. `deviceSeconds` gives the time the update cannot
  // do without besides the pauses (after the run); the register transports add the link
  // set-up's waits to the pauses.
  void Run(benchmark::State& state, bool registerTransport,
           const std::function<double()>& deviceSeconds) {
    test::RecordingView view;
    UpdateProcedure procedure(*link, view, host, BuiltInImage());
    const auto start = SteadyClock::now();
    const UpdateOutcome outcome = procedure.Run();
    const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    if (outcome != UpdateOutcome::kReady || !module->ReceivedImageIntact())
      state.SkipWithError("update failed");
    const double moduleS = static_cast<double>(module->WorkedUs()) / 1e6;
    const double pausesS =
        static_cast<double>(clock.pausedMs) / 1e3 + (registerTransport ? kLinkInitWaitsS : 0.0);
    const double floor = deviceSeconds() + pausesS;
    state.counters["wall_s"] = wall;
    state.counters["module_s"] = moduleS;
    state.counters["pauses_s"] = pausesS;
    state.counters["overhead_pct"] = (wall - floor) / floor * 100.0;
  }

  MeasuredClock clock;
  std::FILE* quiet;
  TextReport report;
  TerminalHost host;
  std::unique_ptr<sim::CiModule> module;
  std::unique_ptr<ModuleLink> link;
};

double ModuleSeconds(const RealTimeUpdate& update) {
  return static_cast<double>(update.module->WorkedUs()) / 1e6;
}

// One status read through the register driver, as the link makes it, measured alone.
double RequestMicroseconds(ModuleLink& link) {
  constexpr int kReads = 100'000;
  if (!link.OpenDriverDevice()) return 0;
  const auto start = SteadyClock::now();
  for (int i = 0; i < kReads; ++i) benchmark::DoNotOptimize(link.ReadCiRegister(link.IOBase));
  const double us = std::chrono::duration<double, std::micro>(SteadyClock::now() - start).count();
  link.ModuleClose();
  return us / kReads;
}

void BM_RealTimeUpdateOverPorts(benchmark::State& state) {
  for (auto _ : state) {
    RealTimeUpdate update;
    sim::SimPortSpace ports;
    ports.AttachModule(update.module.get(), 0x320);
    ports.SetLogging(false);
    test::RecordingDevices devices;
    test::NoLibraries libraries;
    update.Link(ports, devices, libraries);
    update.link->AutoProbe = true;
    update.Run(state, true, [&] { return ModuleSeconds(update); });
  }
}
BENCHMARK(BM_RealTimeUpdateOverPorts)->Unit(benchmark::kSecond)->Iterations(1);

void BM_RealTimeUpdateOverDriver(benchmark::State& state) {
  for (auto _ : state) {
    RealTimeUpdate update;
    sim::Kernel kernel;
    kernel.RecordAccesses(false);
    kernel.AddPortWindow(0x1F0, 4, update.module.get());
    if (kernel.LoadDriver(DriverEntry) != STATUS_SUCCESS) state.SkipWithError("driver");
    const auto adapter = kernel.PlugAdapter();
    if (kernel.Start(adapter, {{sim::ResourceDescriptor::Port(0x1F0, 4)}}) != STATUS_SUCCESS)
      state.SkipWithError("start");
    sim::KernelDevices devices{kernel};
    sim::SimPortSpace ports;
    ports.DenyAccess(true);
    test::NoLibraries libraries;
    update.Link(ports, devices, libraries);
    update.link->UseDriver = true;
    update.Run(state, true, [&] { return ModuleSeconds(update); });
    state.counters["requests"] = devices.Requests();
    state.counters["request_us"] = RequestMicroseconds(*update.link);
    kernel.Remove(adapter);
    kernel.Shutdown();
  }
}
BENCHMARK(BM_RealTimeUpdateOverDriver)->Unit(benchmark::kSecond)->Iterations(1);

// `warm`: the adapter already runs its program, so the download and re-enumeration drop out.
void RunOverUsb(benchmark::State& state, bool warm) {
  for (auto _ : state) {
    RealTimeUpdate update;
    sim::EmulatedAdapter adapter(
        update.clock, update.module.get(),
        std::span<const std::uint8_t>(cibridge::kAdapterProgram, cibridge::kAdapterProgramSize),
        0x1234, 0x5678);
    adapter.SetTransferLatencyUs(kBusUsPerTransfer);
    if (warm) adapter.StartWarm();
    cibridge::InstallDevice(adapter, update.clock);
    sim::SimPortSpace ports;  // no ISA adapter: only the USB adapter carries the update
    test::RecordingDevices devices;
    usb_test::CoreLibraries libraries;
    update.Link(ports, devices, libraries);
    update.link->AutoProbe = true;
    update.link->UseDriver = false;
    // A warm adapter's start ran before the update.
    const std::uint64_t startedUs = adapter.DeviceRealTimeUs();
    double deviceS = 0;
    update.Run(state, false, [&] {
      deviceS = static_cast<double>(adapter.DeviceRealTimeUs() - startedUs) / 1e6;
      return deviceS;
    });
    state.counters["device_s"] = deviceS;
    cibridge::InstallNoDevice();
  }
}

void BM_RealTimeUpdateOverUsbWarm(benchmark::State& state) {
  RunOverUsb(state, true);
}
BENCHMARK(BM_RealTimeUpdateOverUsbWarm)->Unit(benchmark::kSecond)->Iterations(1);

void BM_RealTimeUpdateOverUsbFromCold(benchmark::State& state) {
  RunOverUsb(state, false);
}
BENCHMARK(BM_RealTimeUpdateOverUsbFromCold)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
