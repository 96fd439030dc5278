// Whole updates in real time, one per transport: the direct ports (simulated port space), the
// register driver (the real driver code in the kernel stand-in) and the USB adapter (the
// emulated adapter behind the library core). The module answers at the demo's pace (2 ms per
// preparation message, 1 ms per chunk, 0.4 s integrity test, 1.5 s programming), timed in
// microseconds of real time.
//
// Each run reports the wall time of the update against what it cannot do without: the
// module's own time, the product's fixed pauses (blocking pauses and the link set-up's waits)
// and the bus time (125 us per USB transfer; the simulated register accesses have none). The
// rest is what the host adds: the waits noticing answers late, the procedure's own work, the
// message pumping and, over USB, the emulated adapter polling its module.
//
//   build/bench/realtime_update_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <span>

#include "Update.h"
#include "adapter_program.h"
#include "ci_module.h"
#include "cicard.h"
#include "device_object.h"
#include "emulated_adapter.h"
#include "kernel_devices.h"
#include "link_rig.h"
#include "sim_port_space.h"
#include "terminal.h"
#include "usb_rig.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

const sim::ModuleTiming kDemoPace{2'000, 1'000, 400'000, 1'500'000};
constexpr std::uint32_t kBusUsPerTransfer = 125;
// The link set-up's pumping waits on the register transports (5 ms and four of 2 ms).
constexpr double kLinkInitWaitsS = 0.013;

std::uint64_t NowUs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now().time_since_epoch())
          .count());
}

// The system clock, adding up the blocking pauses and the bus time that pass through it.
class MeasuredClock final : public platform::Clock {
 public:
  std::uint32_t TickCount() override { return platform::SystemClock().TickCount(); }
  void Sleep(std::uint32_t milliseconds) override {
    pausedMs += milliseconds;
    platform::SystemClock().Sleep(milliseconds);
  }
  void Nap(std::uint32_t microseconds) override {
    // The emulated adapter naps exactly the bus time for each transfer; its other naps poll.
    if (microseconds == kBusUsPerTransfer) busUs += microseconds;
    platform::SystemClock().Nap(microseconds);
  }
  std::uint64_t pausedMs = 0;
  std::uint64_t busUs = 0;
};

// What every transport shares: the clock, the terminal program's message pump, the module.
struct RealTimeUpdate {
  RealTimeUpdate()
      : quiet(std::fopen("/dev/null", "w")),
        report({quiet, stdin, false, false}),
        host(report, clock, [this] {
          if (link) link->TimeoutTick();
        }) {
    const UpdateImage image = BuiltInImage();
    module = std::make_unique<sim::CiModule>(
        clock,
        sim::ModuleImage::FromUpdate(image.InitData, image.InitDataLength, image.InitDataSize,
                                     image.MainData, image.MainDataLength, image.MainDataSize));
    module->SetTiming(kDemoPace);
    module->UsePreciseTime(NowUs);
  }
  ~RealTimeUpdate() { std::fclose(quiet); }

  void Link(platform::PortIo& ports, platform::DeviceIo& devices,
            platform::LibraryLoader& libraries) {
    link = std::make_unique<ModuleLink>(LinkServices{clock, ports, devices, libraries, host});
  }

  // Runs the update and reports the figures; `registerTransport` adds the link set-up's waits.
  void Run(benchmark::State& state, bool registerTransport) {
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
    const double busS = static_cast<double>(clock.busUs) / 1e6;
    const double floor = moduleS + pausesS + busS;
    state.counters["wall_s"] = wall;
    state.counters["module_s"] = moduleS;
    state.counters["pauses_s"] = pausesS;
    state.counters["bus_s"] = busS;
    state.counters["overhead_pct"] = (wall - floor) / floor * 100.0;
  }

  MeasuredClock clock;
  std::FILE* quiet;
  TextReport report;
  TerminalHost host;
  std::unique_ptr<sim::CiModule> module;
  std::unique_ptr<ModuleLink> link;
};

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
    update.Run(state, true);
  }
}
BENCHMARK(BM_RealTimeUpdateOverPorts)->Unit(benchmark::kSecond)->Iterations(1);

void BM_RealTimeUpdateOverDriver(benchmark::State& state) {
  for (auto _ : state) {
    RealTimeUpdate update;
    sim::Kernel kernel;
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
    update.Run(state, true);
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
    update.Run(state, false);
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
