// What the module access layer costs the host: one 128-byte exchange, a whole update's 1532
// exchanges, the processor time a long wait takes, and the latency a wait adds to an answer.
//
//   build/bench/access_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>

#include "link_rig.h"
#include "terminal.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// One 128-byte chunk over the simulated port transport; the module answers at once.
void BM_ModuleExchange128(benchmark::State& state) {
  test::LinkRig rig;
  rig.link->IOBase = 0x320;
  rig.link->Application = rig.host.get();
  const std::string chunk(256, 'A');
  for (auto _ : state) {
    rig.link->ModuleExchange(chunk, 4000);
    benchmark::DoNotOptimize(rig.link->AnswerText);
  }
}
BENCHMARK(BM_ModuleExchange128);

// A whole update: 130 preparation messages, 1401 chunks and the final exchange, plus the
// procedure's own work, against a module that answers at once (virtual pauses cost nothing).
void BM_UpdateOf1532Exchanges(benchmark::State& state) {
  for (auto _ : state) {
    test::LinkRig rig;
    if (rig.RunUpdate() != UpdateOutcome::kReady) state.SkipWithError("update failed");
  }
  state.counters["exchanges"] = 1532;
}
BENCHMARK(BM_UpdateOf1532Exchanges)->Unit(benchmark::kMillisecond);

double ProcessSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A module that answers at a precise moment of real time, to see how late the wait notices.
class TimedModulePorts final : public platform::PortIo {
 public:
  std::uint8_t In(std::uint16_t port) override {
    if ((port & 3) == 1) {
      if (SteadyClock::now() < readyAt) return 0x00;
      if (!noticed) noticedAt = SteadyClock::now(), noticed = true;
      return 0x80;
    }
    return 0x00;  // size 0: an empty answer
  }
  void Out(std::uint16_t, std::uint8_t) override {}
  SteadyClock::time_point readyAt = SteadyClock::time_point::max();
  SteadyClock::time_point noticedAt;
  bool noticed = false;
};

struct RealTimeLink {
  RealTimeLink()
      : quiet(std::fopen("/dev/null", "w")),
        report({quiet, stdin, false, false}),
        host(report, platform::SystemClock(), [this] { link->TimeoutTick(); }),
        link(std::make_unique<ModuleLink>(
            LinkServices{platform::SystemClock(), ports, devices, libraries, host})) {
    link->IOBase = 0x320;
    link->Application = &host;
  }
  ~RealTimeLink() { std::fclose(quiet); }
  std::FILE* quiet;  // the time-out message box goes nowhere
  TimedModulePorts ports;
  test::RecordingDevices devices;
  test::NoLibraries libraries;
  TextReport report;
  TerminalHost host;
  std::unique_ptr<ModuleLink> link;
};

// Processor seconds per second of a wait on a module that never answers (real time).
void BM_SilentModuleWait(benchmark::State& state) {
  RealTimeLink rig;
  const auto timeout = static_cast<std::int32_t>(state.range(0));
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpuStart = ProcessSeconds();
    const auto wallStart = SteadyClock::now();
    rig.link->ModuleExchange("01", timeout);
    cpu += ProcessSeconds() - cpuStart;
    wall += std::chrono::duration<double>(SteadyClock::now() - wallStart).count();
  }
  state.counters["wait_s"] = wall;
  state.counters["cpu_s"] = cpu;
  state.counters["cpu_share"] = cpu / wall;
}
BENCHMARK(BM_SilentModuleWait)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);

// Time from the module's answer to the exchange's return, for answers after a given delay (µs).
void BM_AddedLatency(benchmark::State& state) {
  RealTimeLink rig;
  const auto delay = std::chrono::microseconds(state.range(0));
  double added = 0, worst = 0;
  std::int64_t count = 0;
  for (auto _ : state) {
    rig.ports.noticed = false;
    rig.ports.readyAt = SteadyClock::now() + delay;
    rig.link->ModuleExchange("01", 4000);
    const double us =
        std::chrono::duration<double, std::micro>(SteadyClock::now() - rig.ports.readyAt).count();
    added += us;
    worst = std::max(worst, us);
    ++count;
  }
  state.counters["added_us_mean"] = added / static_cast<double>(count);
  state.counters["added_us_max"] = worst;
}
// The update's own answer times are among them: 1 ms (a chunk), 2 ms (a preparation message)
// and 0.4 s (the integrity test).
BENCHMARK(BM_AddedLatency)
    ->Arg(0)
    ->Arg(50)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Arg(50000)
    ->Iterations(20);
BENCHMARK(BM_AddedLatency)->Arg(400000)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
