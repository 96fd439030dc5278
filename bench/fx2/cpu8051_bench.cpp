// The 8051 core's speed next to s51's on the same program, in one run: the adapter program as
// shipped, from its first write to USBCS (leaving the bus) to its second (back on the bus), the
// 1.5 s it waits on its own timer-0 interrupt. The figure is machine cycles per second of host
// processor time: the core's on this thread, s51's as its process used it (the run to the first
// write, a few thousand cycles, included). s51 counts the classic 8051's 12-clock cycles, so the
// core runs the span in that timing too; with the FX2's timing the same span is three times as
// many (4-clock) cycles.
//
//   <build>/bench/cpu8051_bench [repeats]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "adapter_program.h"
#include "cpu8051.h"
#include "cpu8051_s51.h"

namespace {

using sim::fx2::Cpu8051;

constexpr std::uint16_t kUsbcs = 0xE680;

// The register window as plain storage; counts the program's writes to USBCS.
class Window : public sim::fx2::Cpu8051Bus {
 public:
  Window() {
    registers_[0xA6] = 0x00;  // EP8CS: reply buffers free
    registers_[0xA8] = 0x04;  // EP2468STAT: no packet on 0x04
  }
  std::uint8_t ReadXdata(std::uint16_t address) override { return registers_[address & 0xFF]; }
  void WriteXdata(std::uint16_t address, std::uint8_t value) override {
    registers_[address & 0xFF] = value;
    if (address == kUsbcs) ++usbcsWrites;
  }
  std::uint8_t ReadSfr(std::uint8_t) override { return 0xFF; }
  void WriteSfr(std::uint8_t, std::uint8_t) override {}
  int usbcsWrites = 0;

 private:
  std::array<std::uint8_t, 256> registers_{};
};

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Figure {
  double cycles = 0;
  double seconds = 0;
  double Rate() const { return seconds > 0 ? cycles / seconds : 0; }
};

Figure RunCore(Cpu8051::Variant variant) {
  Window window;
  Cpu8051 cpu(window);
  cpu.SetVariant(variant);
  std::copy(cibridge::kAdapterProgram, cibridge::kAdapterProgram + cibridge::kAdapterProgramSize,
            cpu.Memory());
  cpu.HookXdataPage(0xE6);
  cpu.Reset();
  constexpr std::uint64_t kSlice = 4096;
  while (window.usbcsWrites < 1) cpu.Run(kSlice);
  const std::uint64_t start = cpu.Cycles();
  const double began = ThreadSeconds();
  while (window.usbcsWrites < 2 && cpu.Cycles() - start < 100'000'000) cpu.Run(kSlice);
  return {static_cast<double>(cpu.Cycles() - start), ThreadSeconds() - began};
}

double ChildSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

#ifdef S51
// s51 over the same span; also its own count of the span's wall-clock time ("Host usage").
Figure RunS51(double& wallSeconds) {
  const std::string dir = "/tmp/cpu8051_bench_" + std::to_string(getpid());
  const std::string hex = dir + ".ihx", script = dir + ".cmd";
  test::s51::WriteIntelHex(
      hex, std::vector<std::uint8_t>(cibridge::kAdapterProgram,
                                     cibridge::kAdapterProgram + cibridge::kAdapterProgramSize));
  if (std::FILE* out = std::fopen(script.c_str(), "w")) {
    std::fprintf(out,
                 "file \"%s\"\nset mem xram 0xe6a6 0x00\nset mem xram 0xe6a8 0x04\n"
                 "break xram w 0xe680\nrun\nrun\nquit\n",
                 hex.c_str());
    std::fclose(out);
  }
  Figure figure;
  int runs = 0;
  const double before = ChildSeconds();
  test::s51::Run(S51, script, 600, [&](const std::string& line) {
    double ticks = 0, host = 0;
    if (std::sscanf(line.c_str(), "Simulated %lf ticks", &ticks) == 1 && ++runs == 2)
      figure.cycles = ticks / 12;
    if (std::sscanf(line.c_str(), "Host usage: %lf sec", &host) == 1 && runs == 2)
      wallSeconds = host;
  });
  figure.seconds = ChildSeconds() - before;
  std::remove(hex.c_str());
  std::remove(script.c_str());
  return figure;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  auto best = [&](Cpu8051::Variant variant) {
    Figure top;
    for (int i = 0; i < repeats; ++i) {
      const Figure figure = RunCore(variant);
      if (figure.Rate() > top.Rate()) top = figure;
    }
    return top;
  };
  const Figure fx2 = best(Cpu8051::Variant::kFx2);
  const Figure classic = best(Cpu8051::Variant::kClassic);
  std::printf("%-32s %12s %10s %16s\n", "simulator (best of runs)", "cycles", "cpu s", "Mcycles/s");
  std::printf("%-32s %12.0f %10.4f %16.1f\n", "core, FX2 timing (4 clocks)", fx2.cycles,
              fx2.seconds, fx2.Rate() / 1e6);
  std::printf("%-32s %12.0f %10.4f %16.1f\n", "core, classic timing (12 clocks)", classic.cycles,
              classic.seconds, classic.Rate() / 1e6);
#ifdef S51
  double wall = 0;
  const Figure s51 = RunS51(wall);
  std::printf("%-32s %12.0f %10.4f %16.1f   (its own wall-clock count: %.2f s, %.2f Mcycles/s)\n",
              "s51, classic timing", s51.cycles, s51.seconds, s51.Rate() / 1e6, wall,
              wall > 0 ? s51.cycles / wall / 1e6 : 0.0);
  if (s51.Rate() > 0) std::printf("core / s51, same cycles: %.1fx\n", classic.Rate() / s51.Rate());
#endif
  std::printf("core, FX2 timing / a real FX2 (12 Mcycles/s): %.1fx\n", fx2.Rate() / 12e6);
  return 0;
}
