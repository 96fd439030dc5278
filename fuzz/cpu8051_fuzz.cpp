// Arbitrary code into the FX2's 8051 core: any bytes as the program, with the register window
// and a port hooked to a chip that answers with fuzzed bytes, interrupts and timers as the code
// sets them up. The same run three ways must agree: Run() in slices, Run() with a tracer, and
// Step() one instruction at a time; each keeps to its cycle budget and P always reflects A.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cpu8051.h"

namespace {

using sim::fx2::Cpu8051;

// The chip's side: reads come from a fixed pool of fuzzed bytes in turn, writes are kept.
class FuzzedChip : public sim::fx2::Cpu8051Bus {
 public:
  explicit FuzzedChip(std::vector<std::uint8_t> answers) : answers_(std::move(answers)) {}
  std::uint8_t ReadXdata(std::uint16_t address) override {
    return Next() ^ window_[address & 0xFF];
  }
  void WriteXdata(std::uint16_t address, std::uint8_t value) override {
    window_[address & 0xFF] = value;
  }
  std::uint8_t ReadSfr(std::uint8_t) override { return Next(); }
  void WriteSfr(std::uint8_t, std::uint8_t value) override { lastSfr_ = value; }
  bool operator==(const FuzzedChip& other) const {
    return window_ == other.window_ && lastSfr_ == other.lastSfr_ && next_ == other.next_;
  }

 private:
  std::uint8_t Next() {
    if (answers_.empty()) return 0xFF;
    return answers_[next_++ % answers_.size()];
  }
  std::vector<std::uint8_t> answers_;
  std::size_t next_ = 0;
  std::array<std::uint8_t, 256> window_{};
  std::uint8_t lastSfr_ = 0;
};

class CountingTracer : public sim::fx2::Cpu8051Tracer {
 public:
  void InstructionDone(const sim::fx2::Cpu8051State& state) override {
    if (__builtin_parity(state.a) != (state.psw & 1)) std::abort();
  }
  void InternalWrite(std::uint8_t, std::uint8_t) override {}
  void XdataWrite(std::uint16_t, std::uint8_t) override {}
};

struct Machine {
  Machine(const std::vector<std::uint8_t>& code, const std::vector<std::uint8_t>& answers,
          Cpu8051::Variant variant, std::uint8_t autovector)
      : chip(answers), cpu(chip) {
    cpu.SetVariant(variant);
    // The program fills memory from address 0; bytes past its 64 KiB are left out.
    std::copy_n(code.begin(), std::min<std::size_t>(code.size(), 65536), cpu.Memory());
    cpu.HookXdataPage(0xE6);
    cpu.HookSfr(0xB1);  // port E
    cpu.SetAutovector(0x43, (autovector & 1) != 0, autovector & 0xFC);
    cpu.Reset();
  }
  FuzzedChip chip;
  Cpu8051 cpu;
};

bool Same(Machine& a, Machine& b) {
  const auto sa = a.cpu.State(), sb = b.cpu.State();
  return sa.pc == sb.pc && sa.a == sb.a && sa.b == sb.b && sa.psw == sb.psw && sa.sp == sb.sp &&
         sa.dptr == sb.dptr && sa.r == sb.r && a.cpu.Cycles() == b.cpu.Cycles() &&
         std::memcmp(a.cpu.InternalRam(), b.cpu.InternalRam(), 256) == 0 &&
         std::memcmp(a.cpu.Memory(), b.cpu.Memory(), 65536) == 0 && a.chip == b.chip;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto variant = input.ConsumeBool() ? Cpu8051::Variant::kClassic : Cpu8051::Variant::kFx2;
  const auto autovector = input.ConsumeIntegral<std::uint8_t>();
  const auto budget = input.ConsumeIntegralInRange<std::uint64_t>(1, 2'000);
  const auto answers = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 64));
  const auto code = input.ConsumeRemainingBytes<std::uint8_t>();

  Machine sliced(code, answers, variant, autovector);
  Machine traced(code, answers, variant, autovector);
  Machine stepped(code, answers, variant, autovector);
  CountingTracer tracer;
  traced.cpu.SetTracer(&tracer);

  // The longest step: MOVX with the largest stretch, 9 cycles.
  constexpr std::uint64_t kLongestStep = 9;
  std::uint64_t ran = 0;
  while (ran < budget) {
    const std::uint64_t slice = std::min<std::uint64_t>(budget - ran, 97);
    const std::uint64_t got = sliced.cpu.Run(slice);
    if (got < slice || got >= slice + kLongestStep) std::abort();
    ran += got;
  }
  // Slices end on the same instruction as one run: the first boundary at or past the budget.
  if (traced.cpu.Run(budget) != sliced.cpu.Cycles()) std::abort();
  while (stepped.cpu.Cycles() < sliced.cpu.Cycles()) {
    const int cycles = stepped.cpu.Step();
    if (cycles < 1 || static_cast<std::uint64_t>(cycles) > kLongestStep) std::abort();
  }
  if (!Same(sliced, traced) || !Same(sliced, stepped)) std::abort();
  return 0;
}
