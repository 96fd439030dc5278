// A whole update over the emulated USB adapter next to the same update over the register
// transport, in one run. Both run on virtual time with the module answering at the demo's pace
// (2 ms per preparation message, 1 ms per chunk, 0.4 s integrity test, 1.5 s programming) and,
// over USB, 125 us of bus time per transfer. Over USB the adapter program's binary runs on the
// emulated FX2 for every microsecond of the update. The counters give the update's duration as
// the user would wait for it (virtual seconds, with and without the product's fixed pauses)
// and, over USB, the 8051 machine cycles run; the benchmark's own time is what the simulation
// costs the host.
//
//   <build>/bench/usb_update_bench
#include <benchmark/benchmark.h>

#include "demo_module.h"
#include "link_rig.h"
#include "usb_rig.h"

namespace {

void Report(benchmark::State& state, std::uint64_t startUs, std::uint64_t endUs,
            std::uint64_t pausesMs) {
  state.counters["update_s"] = static_cast<double>(endUs - startUs) / 1e6;
  state.counters["pauses_s"] = static_cast<double>(pausesMs) / 1e3;
  state.counters["without_pauses_s"] =
      static_cast<double>(endUs - startUs) / 1e6 - static_cast<double>(pausesMs) / 1e3;
}

// One update over the emulated adapter; a warm adapter already runs its program, so the
// download and re-enumeration drop out.
void RunUsbUpdates(benchmark::State& state, bool warm) {
  for (auto _ : state) {
    usb_test::UsbRig rig;
    rig.module->SetTiming(kDemoModulePace);
    rig.adapter->SetTransferLatencyUs(125);
    if (warm) rig.adapter->StartWarm();
    const auto start = rig.clock.NowUs();
    if (rig.RunUpdate() != UpdateOutcome::kReady) state.SkipWithError("update failed");
    Report(state, start, rig.clock.NowUs(), rig.clock.SleptMs());
    state.counters["fx2_mcycles"] = static_cast<double>(rig.adapter->Chip().Cpu().Cycles()) / 1e6;
  }
}

void BM_UpdateOverEmulatedUsbFromCold(benchmark::State& state) {
  RunUsbUpdates(state, false);
}
BENCHMARK(BM_UpdateOverEmulatedUsbFromCold)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_UpdateOverEmulatedUsbWarm(benchmark::State& state) {
  RunUsbUpdates(state, true);
}
BENCHMARK(BM_UpdateOverEmulatedUsbWarm)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_UpdateOverRegisterTransport(benchmark::State& state) {
  for (auto _ : state) {
    test::LinkRig rig;
    rig.module->SetTiming(kDemoModulePace);
    const auto start = rig.clock.NowUs();
    if (rig.RunUpdate() != UpdateOutcome::kReady) state.SkipWithError("update failed");
    Report(state, start, rig.clock.NowUs(), rig.clock.SleptMs());
  }
}
BENCHMARK(BM_UpdateOverRegisterTransport)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
