#include "cpu8051.h"

#include <algorithm>

namespace sim::fx2 {
namespace {

// SFR addresses the core itself gives meaning to.
constexpr std::uint8_t kSp = 0x81, kDpl = 0x82, kDph = 0x83, kDps = 0x86, kPcon = 0x87;
constexpr std::uint8_t kTcon = 0x88, kTmod = 0x89, kTl0 = 0x8A, kTl1 = 0x8B, kTh0 = 0x8C,
                       kTh1 = 0x8D, kCkcon = 0x8E;
constexpr std::uint8_t kExif = 0x91, kMpage = 0x92, kScon0 = 0x98, kP0 = 0x80, kP1 = 0x90,
                       kP2 = 0xA0, kP3 = 0xB0;
constexpr std::uint8_t kIe = 0xA8, kIp = 0xB8, kScon1 = 0xC0, kT2con = 0xC8, kPsw = 0xD0,
                       kEicon = 0xD8, kAcc = 0xE0, kEie = 0xE8, kB = 0xF0, kEip = 0xF8;

constexpr std::uint8_t kCy = 0x80, kAc = 0x40, kOv = 0x04;

// How an SFR is reached; anything but plain storage takes the slow path.
enum SfrKind : std::uint8_t {
  kHooked = 1,     // the chip model's
  kTimer = 2,      // the timers are brought up to date first
  kInterrupt = 4,  // a write may raise or enable an interrupt
  kHoldOff = 8,    // a write delays interrupts by one instruction (IE, IP, EIE, EIP)
  kParity = 16,    // PSW: P is computed from A
  kIdle = 32,      // PCON: setting IDL stops the CPU until an interrupt
};
constexpr std::uint8_t kSlowRead = kHooked | kTimer | kParity;
constexpr std::uint8_t kSlowWrite = kHooked | kTimer | kInterrupt | kHoldOff | kParity | kIdle;

bool Parity(std::uint8_t value) {
  return __builtin_parity(value) != 0;
}

// Instruction lengths in bytes, by opcode (rows of 16).
constexpr std::array<std::uint8_t, 256> kLength = {
    1, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x00
    3, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x10
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x20
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x30
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x40
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x50
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x60
    2, 2, 2, 1, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0x70
    2, 2, 2, 1, 1, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0x80
    3, 2, 2, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x90
    2, 2, 2, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xA0
    2, 2, 2, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // 0xB0
    2, 2, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xC0
    2, 2, 2, 1, 1, 3, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xD0
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xE0
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xF0
};

// Machine cycles by opcode on the FX2 (4 clocks each); MOVX adds CKCON's stretch.
constexpr std::array<std::uint8_t, 256> MakeFx2Cycles() {
  std::array<std::uint8_t, 256> cycles{};
  for (unsigned op = 0; op < 256; ++op) {
    unsigned n = kLength[op];  // most instructions take one cycle per byte
    if ((op & 0x1F) == 0x01 || (op & 0x1F) == 0x11) n = 3;  // AJMP, ACALL
    cycles[op] = static_cast<std::uint8_t>(n);
  }
  for (std::uint8_t op : {0x02, 0x12, 0x22, 0x32, 0x10, 0x20, 0x30, 0xD5}) cycles[op] = 4;
  for (unsigned op = 0xB4; op <= 0xBF; ++op) cycles[op] = 4;  // CJNE
  for (unsigned op = 0xD8; op <= 0xDF; ++op) cycles[op] = 3;  // DJNZ Rn
  for (std::uint8_t op : {0x40, 0x50, 0x60, 0x70, 0x80, 0x73, 0x83, 0x93, 0xA3}) cycles[op] = 3;
  for (std::uint8_t op : {0x84, 0xA4}) cycles[op] = 5;  // DIV, MUL
  for (std::uint8_t op : {0x76, 0x77, 0x86, 0x87, 0xA6, 0xA7}) cycles[op] = 2;
  for (std::uint8_t op : {0xE0, 0xE2, 0xE3, 0xF0, 0xF2, 0xF3}) cycles[op] = 2;  // MOVX
  return cycles;
}

// Machine cycles by opcode on the classic 8051 (12 clocks each).
constexpr std::array<std::uint8_t, 256> MakeClassicCycles() {
  std::array<std::uint8_t, 256> cycles{};
  for (unsigned op = 0; op < 256; ++op) {
    unsigned n = 1;
    if ((op & 0x0F) == 0x01) n = 2;  // AJMP, ACALL
    cycles[op] = static_cast<std::uint8_t>(n);
  }
  for (std::uint8_t op : {0x02, 0x12, 0x22, 0x32, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80,
                          0x73, 0x83, 0x93, 0xA3, 0x90, 0x43, 0x53, 0x63, 0x75, 0x85, 0xC0, 0xD0,
                          0xD5, 0x72, 0x82, 0x92, 0xA0, 0xB0, 0xE0, 0xE2, 0xE3, 0xF0, 0xF2, 0xF3})
    cycles[op] = 2;
  for (unsigned op = 0x86; op <= 0x8F; ++op) cycles[op] = 2;  // MOV dir,@Ri / dir,Rn
  for (unsigned op = 0xA6; op <= 0xAF; ++op) cycles[op] = 2;  // MOV @Ri,dir / Rn,dir
  for (unsigned op = 0xB4; op <= 0xBF; ++op) cycles[op] = 2;  // CJNE
  for (unsigned op = 0xD8; op <= 0xDF; ++op) cycles[op] = 2;  // DJNZ Rn
  for (std::uint8_t op : {0x84, 0xA4}) cycles[op] = 4;        // DIV, MUL
  return cycles;
}

constexpr std::array<std::uint8_t, 256> kFx2Cycles = MakeFx2Cycles();
constexpr std::array<std::uint8_t, 256> kClassicCycles = MakeClassicCycles();

// The interrupt sources in their natural priority order (first wins within a level).
struct InterruptSource {
  std::uint8_t vector;
  std::uint8_t flagSfr, flagMask;
  std::uint8_t enableSfr, enableMask;
  std::uint8_t prioritySfr, priorityMask;  // priority SFR 0: always high
  std::uint8_t clearOnEntry;               // TCON bits the entry clears (timer flags)
};
constexpr InterruptSource kSources[] = {
    {0x33, kEicon, 0x10, kEicon, 0x20, 0, 0, 0},         // resume (WAKEUP)
    {0x03, kTcon, 0x02, kIe, 0x01, kIp, 0x01, 0x00},     // INT0 (edge: cleared below)
    {0x0B, kTcon, 0x20, kIe, 0x02, kIp, 0x02, 0x20},     // timer 0
    {0x13, kTcon, 0x08, kIe, 0x04, kIp, 0x04, 0x00},     // INT1
    {0x1B, kTcon, 0x80, kIe, 0x08, kIp, 0x08, 0x80},     // timer 1
    {0x23, kScon0, 0x03, kIe, 0x10, kIp, 0x10, 0x00},    // serial port 0
    {0x2B, kT2con, 0xC0, kIe, 0x20, kIp, 0x20, 0x00},    // timer 2
    {0x3B, kScon1, 0x03, kIe, 0x40, kIp, 0x40, 0x00},    // serial port 1
    {0x43, kExif, 0x10, kEie, 0x01, kEip, 0x01, 0x00},   // INT2: USB
    {0x4B, kExif, 0x20, kEie, 0x02, kEip, 0x02, 0x00},   // INT3: I2C
    {0x53, kExif, 0x40, kEie, 0x04, kEip, 0x04, 0x00},   // INT4: GPIF, FIFOs
    {0x5B, kExif, 0x80, kEie, 0x08, kEip, 0x08, 0x00},   // INT5
    {0x63, kEicon, 0x08, kEie, 0x10, kEip, 0x10, 0x00},  // INT6
};

// Core registers the chip model cannot take over.
constexpr std::uint8_t kCoreSfrs[] = {kSp, kDpl, kDph, 0x84, 0x85, kDps, kPsw, kAcc, kB};

}  // namespace

Cpu8051::Cpu8051(Cpu8051Bus& bus) : bus_(bus), memory_(new std::uint8_t[65536]()) {
  for (std::uint8_t timer : {kTcon, kTmod, kTl0, kTl1, kTh0, kTh1, kCkcon})
    sfrKinds_[timer] |= kTimer;
  for (std::uint8_t irq : {kTcon, kScon0, kT2con, kScon1, kExif, kEicon})
    sfrKinds_[irq] |= kInterrupt;
  for (std::uint8_t hold : {kIe, kIp, kEie, kEip}) sfrKinds_[hold] |= kHoldOff;
  sfrKinds_[kPsw] |= kParity;
  sfrKinds_[kPcon] |= kIdle;
  Reset();
}

std::uint8_t* Cpu8051::Memory() {
  return memory_.get();
}
std::uint8_t* Cpu8051::InternalRam() {
  return iram_.data();
}
std::uint8_t& Cpu8051::SfrStorage(std::uint8_t address) {
  return sfr_[address];
}

void Cpu8051::HookXdataPage(std::uint8_t page) {
  hookedPages_[page] = true;
}

void Cpu8051::HookSfr(std::uint8_t address) {
  if (address < 0x80) return;
  if (std::find(std::begin(kCoreSfrs), std::end(kCoreSfrs), address) != std::end(kCoreSfrs)) return;
  sfrKinds_[address] |= kHooked;
}

void Cpu8051::SetVariant(Variant variant) {
  variant_ = variant;
}

void Cpu8051::SetAutovector(std::uint8_t vector, bool enabled, std::uint8_t offset) {
  if (vector != 0x43 && vector != 0x53) return;
  autovector_[vector == 0x43 ? 0 : 1] = static_cast<std::int16_t>(enabled ? offset : -1);
}

void Cpu8051::Reset() {
  const bool fx2 = variant_ == Variant::kFx2;
  cycleTable_ = fx2 ? kFx2Cycles.data() : kClassicCycles.data();
  clocksPerCycle_ = fx2 ? 4 : 12;
  mpage_ = fx2 ? kMpage : kP2;
  std::fill(sfr_.begin(), sfr_.end(), 0);
  sfr_[kSp] = 0x07;
  for (std::uint8_t port : {kP0, kP1, kP2, kP3}) sfr_[port] = 0xFF;
  if (fx2) {
    sfr_[kCkcon] = 0x01;  // MOVX stretched by one cycle
    sfr_[kPcon] = 0x30;
    sfr_[kExif] = 0x08;
    sfr_[kEicon] = 0x40;
    sfr_[kEie] = 0xE0;
    sfr_[kEip] = 0xE0;
  }
  movxStretch_ = fx2 ? (sfr_[kCkcon] & 0x07) : 0;
  pc_ = 0;
  idle_ = false;
  inService_ = 0;
  autovectorJump_ = 0xFFFF;
  holdOff_ = false;
  attention_ = true;
  timerClock_ = cycles_ * clocksPerCycle_;
  ScheduleTimers();
  Poll();
}

std::uint64_t Cpu8051::Cycles() const {
  return cycles_;
}
std::uint16_t Cpu8051::Pc() const {
  return pc_;
}
void Cpu8051::SetPc(std::uint16_t pc) {
  pc_ = pc;
}
void Cpu8051::SetTracer(Cpu8051Tracer* tracer) {
  tracer_ = tracer;
}

Cpu8051State Cpu8051::State() const {
  Cpu8051State state;
  state.pc = pc_;
  state.a = sfr_[kAcc];
  state.b = sfr_[kB];
  state.psw = static_cast<std::uint8_t>(sfr_[kPsw] | (Parity(sfr_[kAcc]) ? 1 : 0));
  state.sp = sfr_[kSp];
  state.dptr = Dptr();
  const unsigned bank = sfr_[kPsw] & 0x18;
  for (unsigned i = 0; i < 8; ++i) state.r[i] = iram_[bank + i];
  return state;
}

std::uint64_t Cpu8051::Run(std::uint64_t cycles) {
  const std::uint64_t start = cycles_;
  const std::uint64_t end = start + cycles;
  Resume();
  if (tracer_ != nullptr) {
    while (cycles_ < end) StepAs<true>();
  } else {
    while (cycles_ < end) StepAs<false>();
  }
  SyncTimers(cycles_);  // the chip model sees the timers' registers as they are now
  return cycles_ - start;
}

int Cpu8051::Step() {
  Resume();
  const int cycles = tracer_ != nullptr ? StepAs<true>() : StepAs<false>();
  SyncTimers(cycles_);
  return cycles;
}

// Between runs the chip model may have raised interrupt flags or changed the timers through
// SfrStorage: everything is looked at again.
void Cpu8051::Resume() {
  ScheduleTimers();
  attention_ = true;
  Poll();
}

template <bool kTraced>
int Cpu8051::StepAs() {
  int cycles = 0;
  if (cycles_ >= eventAt_) cycles = Attend();
  if (cycles == 0) cycles = Execute<kTraced>();
  cycles_ += static_cast<unsigned>(cycles);
  if constexpr (kTraced) tracer_->InstructionDone(State());
  return cycles;
}

// Timers first (an overflow raises its flag), then interrupts; returns the cycles of an
// interrupt entry or of one idle cycle, 0 when the next instruction runs.
int Cpu8051::Attend() {
  if (cycles_ >= timerAt_) {
    SyncTimers(cycles_);
    ScheduleTimers();
  }
  int cycles = 0;
  if (attention_) {
    if (holdOff_) {
      holdOff_ = false;  // one more instruction runs before an interrupt is taken
      eventAt_ = 0;
      return idle_ ? 1 : 0;
    }
    cycles = EnterInterrupt();
  }
  Poll();
  // Idle (PCON.0): cycles pass without instructions until an interrupt's entry ends it.
  if (cycles == 0 && idle_) cycles = 1;
  return cycles;
}

int Cpu8051::EnterInterrupt() {
  // Most looks find no request at all: every flag at once first.
  const unsigned flags = (sfr_[kTcon] & 0xAAu) | (sfr_[kScon0] & 0x03u) | (sfr_[kT2con] & 0xC0u) |
                         (sfr_[kScon1] & 0x03u) | (sfr_[kExif] & 0xF0u) | (sfr_[kEicon] & 0x18u);
  if ((sfr_[kIe] & 0x80) == 0 || flags == 0) {
    attention_ = false;
    return 0;
  }
  const InterruptSource* chosen = nullptr;
  unsigned chosenLevel = 0;
  for (const auto& source : kSources) {
    if ((sfr_[source.flagSfr] & source.flagMask) == 0) continue;
    if ((sfr_[source.enableSfr] & source.enableMask) == 0) continue;
    const unsigned level =
        source.prioritySfr == 0 || (sfr_[source.prioritySfr] & source.priorityMask) != 0 ? 2 : 1;
    if (level > chosenLevel) {
      chosen = &source;
      chosenLevel = level;
      if (level == 2) break;
    }
  }
  // A handler runs only if no handler of its level or above is running.
  if (chosen == nullptr || inService_ >= chosenLevel) {
    attention_ = false;
    return 0;
  }
  autovectorJump_ = 0xFFFF;
  idle_ = false;
  inService_ |= static_cast<std::uint8_t>(chosenLevel);
  sfr_[kTcon] &= static_cast<std::uint8_t>(~chosen->clearOnEntry);
  if (chosen->vector == 0x03 && (sfr_[kTcon] & 0x01) != 0) sfr_[kTcon] &= 0xFD;  // edge INT0
  if (chosen->vector == 0x13 && (sfr_[kTcon] & 0x04) != 0) sfr_[kTcon] &= 0xF7;  // edge INT1
  if (tracer_ != nullptr) {
    Push<true>(static_cast<std::uint8_t>(pc_));
    Push<true>(static_cast<std::uint8_t>(pc_ >> 8));
  } else {
    Push<false>(static_cast<std::uint8_t>(pc_));
    Push<false>(static_cast<std::uint8_t>(pc_ >> 8));
  }
  pc_ = chosen->vector;
  if ((pc_ == 0x43 && autovector_[0] >= 0) || (pc_ == 0x53 && autovector_[1] >= 0))
    autovectorJump_ = pc_;
  return variant_ == Variant::kFx2 ? 4 : 2;
}

// Timers 0 and 1 count at CLKOUT/12 or CLKOUT/4 (CKCON's T0M, T1M), at absolute multiples of
// their divider in clocks, so counting can be brought up to date at any time.
void Cpu8051::SyncTimers(std::uint64_t cycle) {
  const std::uint64_t now = cycle * clocksPerCycle_;
  if (now <= timerClock_) return;
  const std::uint8_t tcon = sfr_[kTcon], tmod = sfr_[kTmod], ckcon = sfr_[kCkcon];
  const unsigned div0 = variant_ == Variant::kFx2 && (ckcon & 0x08) != 0 ? 4 : 12;
  const unsigned div1 = variant_ == Variant::kFx2 && (ckcon & 0x10) != 0 ? 4 : 12;
  const std::uint64_t ticks0 = now / div0 - timerClock_ / div0;
  const std::uint64_t ticks1 = now / div1 - timerClock_ / div1;
  timerClock_ = now;
  bool overflow0 = false, overflow1 = false;
  // Counts `ticks` on TL/TH in `mode`; returns whether it overflowed.
  auto count = [](unsigned mode, std::uint8_t& tl, std::uint8_t& th, std::uint64_t ticks) {
    switch (mode) {
      case 0: {
        const std::uint64_t value = ((unsigned{th} << 5) | (tl & 0x1Fu)) + ticks;
        th = static_cast<std::uint8_t>(value >> 5);
        tl = static_cast<std::uint8_t>((tl & 0xE0) | (value & 0x1F));
        return value >= 0x2000;
      }
      case 1: {
        const std::uint64_t value = ((unsigned{th} << 8) | tl) + ticks;
        th = static_cast<std::uint8_t>(value >> 8);
        tl = static_cast<std::uint8_t>(value);
        return value >= 0x10000;
      }
      case 2: {
        const unsigned toOverflow = 256u - tl;
        if (ticks < toOverflow) {
          tl = static_cast<std::uint8_t>(tl + ticks);
          return false;
        }
        const unsigned period = 256u - th;
        tl = static_cast<std::uint8_t>(th + (ticks - toOverflow) % period);
        return true;
      }
      default: {  // 8 bits alone
        const std::uint64_t value = tl + ticks;
        tl = static_cast<std::uint8_t>(value);
        return value >= 0x100;
      }
    }
  };
  const unsigned mode0 = tmod & 0x03, mode1 = (tmod >> 4) & 0x03;
  // Counting external pulses (C/T) is not modelled; GATE sees its INT pin high.
  const bool timer0 = (tcon & 0x10) != 0 && (tmod & 0x04) == 0;
  const bool timer1 = (tcon & 0x40) != 0 && (tmod & 0x40) == 0;
  if (mode0 == 3) {
    std::uint8_t unused = 0;
    if (timer0) overflow0 = count(3, sfr_[kTl0], unused, ticks0);
    if ((tcon & 0x40) != 0) overflow1 = count(3, sfr_[kTh0], unused, ticks0);
    if (timer1 && mode1 != 3) count(mode1, sfr_[kTl1], sfr_[kTh1], ticks1);  // no flag
  } else {
    if (timer0) overflow0 = count(mode0, sfr_[kTl0], sfr_[kTh0], ticks0);
    if (timer1 && mode1 != 3) overflow1 = count(mode1, sfr_[kTl1], sfr_[kTh1], ticks1);
  }
  if (overflow0) sfr_[kTcon] |= 0x20;
  if (overflow1) sfr_[kTcon] |= 0x80;
  if (overflow0 || overflow1) attention_ = true;
}

// The cycle of the next overflow of a running timer, for Attend().
void Cpu8051::ScheduleTimers() {
  const std::uint8_t tcon = sfr_[kTcon], tmod = sfr_[kTmod], ckcon = sfr_[kCkcon];
  const unsigned mode0 = tmod & 0x03, mode1 = (tmod >> 4) & 0x03;
  std::uint64_t at = UINT64_MAX;
  auto consider = [&](unsigned divider, std::uint64_t ticks) {
    const std::uint64_t clock = (timerClock_ / divider + ticks) * divider;
    at = std::min(at, (clock + clocksPerCycle_ - 1) / clocksPerCycle_);
  };
  auto ticksLeft = [](unsigned mode, std::uint8_t tl, std::uint8_t th) -> std::uint64_t {
    switch (mode) {
      case 0:
        return 0x2000u - ((unsigned{th} << 5) | (tl & 0x1Fu));
      case 1:
        return 0x10000u - ((unsigned{th} << 8) | tl);
      default:
        return 0x100u - tl;
    }
  };
  const unsigned div0 = variant_ == Variant::kFx2 && (ckcon & 0x08) != 0 ? 4 : 12;
  const unsigned div1 = variant_ == Variant::kFx2 && (ckcon & 0x10) != 0 ? 4 : 12;
  const bool timer0 = (tcon & 0x10) != 0 && (tmod & 0x04) == 0;
  const bool timer1 = (tcon & 0x40) != 0 && (tmod & 0x40) == 0;
  if (timer0) consider(div0, ticksLeft(mode0, sfr_[kTl0], sfr_[kTh0]));
  if (mode0 == 3) {
    if ((tcon & 0x40) != 0) consider(div0, ticksLeft(3, sfr_[kTh0], 0));
  } else if (timer1 && mode1 != 3) {
    consider(div1, ticksLeft(mode1, sfr_[kTl1], sfr_[kTh1]));
  }
  timerAt_ = at;
}

[[gnu::always_inline]] inline std::uint8_t Cpu8051::ReadSfr(std::uint8_t address) {
  if ((sfrKinds_[address] & kSlowRead) != 0) return ReadSfrSlow(address);
  return sfr_[address];
}

std::uint8_t Cpu8051::ReadSfrSlow(std::uint8_t address) {
  const std::uint8_t kind = sfrKinds_[address];
  if ((kind & kHooked) != 0) {
    attention_ = true;  // the chip model may raise an interrupt on any access
    eventAt_ = 0;
    return bus_.ReadSfr(address);
  }
  if ((kind & kTimer) != 0) {
    // Reads see the count at the end of the instruction.
    SyncTimers(cycles_ + instructionCycles_);
    Poll();
  }
  if ((kind & kParity) != 0) return static_cast<std::uint8_t>(sfr_[address] | Parity(sfr_[kAcc]));
  return sfr_[address];
}

template <bool kTraced>
[[gnu::always_inline]] inline void Cpu8051::WriteSfr(std::uint8_t address, std::uint8_t value) {
  if ((sfrKinds_[address] & kSlowWrite) != 0) {
    WriteSfrSlow(address, value);
  } else {
    sfr_[address] = value;
  }
}

void Cpu8051::WriteSfrSlow(std::uint8_t address, std::uint8_t value) {
  const std::uint8_t kind = sfrKinds_[address];
  if ((kind & kHooked) != 0) {
    bus_.WriteSfr(address, value);
    attention_ = true;
  } else if ((kind & kTimer) != 0) {
    // The write takes effect at the end of the instruction: until then the timers count on.
    SyncTimers(cycles_ + instructionCycles_);
    sfr_[address] = value;
    if (address == kCkcon && variant_ == Variant::kFx2) movxStretch_ = value & 0x07;
    ScheduleTimers();
  } else if ((kind & kParity) != 0) {
    sfr_[address] = value & 0xFE;
  } else {
    sfr_[address] = value;
  }
  if ((kind & kInterrupt) != 0) attention_ = true;
  if ((kind & kHoldOff) != 0) attention_ = holdOff_ = true;
  if ((kind & kIdle) != 0 && (value & 0x01) != 0) {
    idle_ = true;  // IDL reads back 0: the bit only starts idle mode
    sfr_[address] = value & 0xFE;
  }
  Poll();
}

[[gnu::always_inline]] inline std::uint8_t Cpu8051::ReadDirect(std::uint8_t address) {
  return address < 0x80 ? iram_[address] : ReadSfr(address);
}

template <bool kTraced>
[[gnu::always_inline]] inline void Cpu8051::WriteDirect(std::uint8_t address, std::uint8_t value) {
  if (address < 0x80) {
    iram_[address] = value;
    if constexpr (kTraced) tracer_->InternalWrite(address, value);
  } else {
    WriteSfr<kTraced>(address, value);
  }
}

template <bool kTraced>
[[gnu::always_inline]] inline void Cpu8051::WriteIndirect(std::uint8_t address,
                                                          std::uint8_t value) {
  iram_[address] = value;
  if constexpr (kTraced) tracer_->InternalWrite(address, value);
}

[[gnu::always_inline]] inline bool Cpu8051::ReadBit(std::uint8_t bit) {
  const std::uint8_t byte = bit < 0x80 ? iram_[0x20 + (bit >> 3)] : ReadSfr(bit & 0xF8);
  return ((byte >> (bit & 7)) & 1) != 0;
}

template <bool kTraced>
[[gnu::always_inline]] inline void Cpu8051::WriteBit(std::uint8_t bit, bool value) {
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit & 7));
  const std::uint8_t address = bit < 0x80 ? static_cast<std::uint8_t>(0x20 + (bit >> 3))
                                          : static_cast<std::uint8_t>(bit & 0xF8);
  const std::uint8_t old = ReadDirect(address);
  WriteDirect<kTraced>(address, static_cast<std::uint8_t>(value ? (old | mask) : (old & ~mask)));
}

[[gnu::always_inline]] inline std::uint8_t Cpu8051::ReadXdata(std::uint16_t address) {
  if (hookedPages_[address >> 8]) {
    attention_ = true;
    eventAt_ = 0;
    return bus_.ReadXdata(address);
  }
  return memory_[address];
}

template <bool kTraced>
[[gnu::always_inline]] inline void Cpu8051::WriteXdata(std::uint16_t address, std::uint8_t value) {
  if constexpr (kTraced) tracer_->XdataWrite(address, value);
  if (hookedPages_[address >> 8]) {
    attention_ = true;
    eventAt_ = 0;
    bus_.WriteXdata(address, value);
  } else {
    memory_[address] = value;
  }
}

template <bool kTraced>
[[gnu::always_inline]] inline void Cpu8051::Push(std::uint8_t value) {
  const std::uint8_t sp = static_cast<std::uint8_t>(sfr_[kSp] + 1);
  sfr_[kSp] = sp;
  WriteIndirect<kTraced>(sp, value);
}

[[gnu::always_inline]] inline std::uint8_t Cpu8051::Pop() {
  const std::uint8_t sp = sfr_[kSp];
  sfr_[kSp] = static_cast<std::uint8_t>(sp - 1);
  return iram_[sp];
}

// DPS bit 0 selects DPTR1 (DPL1, DPH1 at 0x84, 0x85) for the instructions that use DPTR.
[[gnu::always_inline]] inline std::uint16_t Cpu8051::Dptr() const {
  const unsigned low = kDpl + ((sfr_[kDps] & 1u) << 1);
  return static_cast<std::uint16_t>(sfr_[low] | (sfr_[low + 1] << 8));
}

[[gnu::always_inline]] inline void Cpu8051::SetDptr(std::uint16_t value) {
  const unsigned low = kDpl + ((sfr_[kDps] & 1u) << 1);
  sfr_[low] = static_cast<std::uint8_t>(value);
  sfr_[low + 1] = static_cast<std::uint8_t>(value >> 8);
}

[[gnu::always_inline]] inline void Cpu8051::Add(std::uint8_t value, unsigned carry) {
  const unsigned a = sfr_[kAcc];
  const unsigned result = a + value + carry;
  std::uint8_t psw = sfr_[kPsw] & static_cast<std::uint8_t>(~(kCy | kAc | kOv));
  if (result > 0xFF) psw |= kCy;
  if ((a & 0x0F) + (value & 0x0F) + carry > 0x0F) psw |= kAc;
  if ((~(a ^ value) & (a ^ result) & 0x80) != 0) psw |= kOv;
  sfr_[kPsw] = psw;
  sfr_[kAcc] = static_cast<std::uint8_t>(result);
}

[[gnu::always_inline]] inline void Cpu8051::Subtract(std::uint8_t value) {
  const unsigned a = sfr_[kAcc];
  const unsigned borrow = (sfr_[kPsw] & kCy) != 0 ? 1 : 0;
  const unsigned result = a - value - borrow;
  std::uint8_t psw = sfr_[kPsw] & static_cast<std::uint8_t>(~(kCy | kAc | kOv));
  if (a < value + borrow) psw |= kCy;
  if ((a & 0x0F) < (value & 0x0Fu) + borrow) psw |= kAc;
  if (((a ^ value) & (a ^ result) & 0x80) != 0) psw |= kOv;
  sfr_[kPsw] = psw;
  sfr_[kAcc] = static_cast<std::uint8_t>(result);
}

// One instruction; returns its machine cycles. The switch compiles to a jump table.
template <bool kTraced>
int Cpu8051::Execute() {
  const std::uint8_t* const code = memory_.get();
  const std::uint16_t pc = pc_;
  const std::uint8_t op = code[pc];
  const std::uint8_t b1 = code[static_cast<std::uint16_t>(pc + 1)];
  const std::uint8_t b2 = code[static_cast<std::uint16_t>(pc + 2)];
  const std::uint16_t next = static_cast<std::uint16_t>(pc + kLength[op]);
  pc_ = next;
  int cycles = cycleTable_[op];
  instructionCycles_ = static_cast<unsigned>(cycles);
  std::uint8_t& a = sfr_[kAcc];
  std::uint8_t& psw = sfr_[kPsw];
  const unsigned bank = psw & 0x18u;
  auto reg = [&](unsigned n) -> std::uint8_t& { return iram_[bank | n]; };
  auto setReg = [&](unsigned n, std::uint8_t value) {
    WriteIndirect<kTraced>(static_cast<std::uint8_t>(bank | n), value);
  };
  auto at = [&]() -> std::uint8_t { return iram_[reg(op & 1)]; };  // @Ri
  auto relative = [&](std::uint8_t offset) {
    pc_ = static_cast<std::uint16_t>(next + static_cast<std::int8_t>(offset));
  };
  auto carry = [&]() -> unsigned { return (psw & kCy) != 0 ? 1 : 0; };
  auto setCarry = [&](bool value) {
    psw = static_cast<std::uint8_t>(value ? (psw | kCy) : (psw & ~kCy));
  };
  auto call = [&](std::uint16_t target) {
    Push<kTraced>(static_cast<std::uint8_t>(next));
    Push<kTraced>(static_cast<std::uint8_t>(next >> 8));
    pc_ = target;
  };
  const std::uint16_t page = static_cast<std::uint16_t>((next & 0xF800) | ((op & 0xE0) << 3) | b1);

#define CASE_R(base) \
  case base:         \
  case base + 1:     \
  case base + 2:     \
  case base + 3:     \
  case base + 4:     \
  case base + 5:     \
  case base + 6:     \
  case base + 7
#define CASE_I(base) \
  case base:         \
  case base + 1

  switch (op) {
    case 0x00:  // NOP
      break;
    case 0x01:
    case 0x21:
    case 0x41:
    case 0x61:
    case 0x81:
    case 0xA1:
    case 0xC1:
    case 0xE1:
      pc_ = page;  // AJMP
      break;
    case 0x11:
    case 0x31:
    case 0x51:
    case 0x71:
    case 0x91:
    case 0xB1:
    case 0xD1:
    case 0xF1:
      call(page);  // ACALL
      break;
    case 0x02:                      // LJMP
      if (pc == autovectorJump_) {  // at an autovector: the low byte is the chip's
        autovectorJump_ = 0xFFFF;
        pc_ = static_cast<std::uint16_t>((b1 << 8) | autovector_[pc == 0x43 ? 0 : 1]);
        break;
      }
      pc_ = static_cast<std::uint16_t>((b1 << 8) | b2);
      break;
    case 0x12:  // LCALL
      call(static_cast<std::uint16_t>((b1 << 8) | b2));
      break;
    case 0x22:    // RET
    case 0x32: {  // RETI
      const std::uint8_t high = Pop();
      pc_ = static_cast<std::uint16_t>((high << 8) | Pop());
      if (op == 0x32) {
        inService_ = (inService_ & 2) != 0 ? (inService_ & 1) : 0;
        attention_ = holdOff_ = true;
        Poll();
      }
      break;
    }
    case 0x03:  // RR A
      a = static_cast<std::uint8_t>((a >> 1) | (a << 7));
      break;
    case 0x13: {  // RRC A
      const unsigned out = a & 1;
      a = static_cast<std::uint8_t>((a >> 1) | (carry() << 7));
      setCarry(out != 0);
      break;
    }
    case 0x23:  // RL A
      a = static_cast<std::uint8_t>((a << 1) | (a >> 7));
      break;
    case 0x33: {  // RLC A
      const unsigned out = a >> 7;
      a = static_cast<std::uint8_t>((a << 1) | carry());
      setCarry(out != 0);
      break;
    }
    case 0x04:  // INC A
      ++a;
      break;
    case 0x14:  // DEC A
      --a;
      break;
    case 0x05:  // INC direct
      WriteDirect<kTraced>(b1, static_cast<std::uint8_t>(ReadDirect(b1) + 1));
      break;
    case 0x15:  // DEC direct
      WriteDirect<kTraced>(b1, static_cast<std::uint8_t>(ReadDirect(b1) - 1));
      break;
      CASE_I(0x06)
          :  // INC @Ri
            WriteIndirect<kTraced>(reg(op & 1), static_cast<std::uint8_t>(at() + 1));
      break;
      CASE_I(0x16)
          :  // DEC @Ri
            WriteIndirect<kTraced>(reg(op & 1), static_cast<std::uint8_t>(at() - 1));
      break;
      CASE_R(0x08)
          :  // INC Rn
            setReg(op & 7, static_cast<std::uint8_t>(reg(op & 7) + 1));
      break;
      CASE_R(0x18)
          :  // DEC Rn
            setReg(op & 7, static_cast<std::uint8_t>(reg(op & 7) - 1));
      break;
    case 0x10:  // JBC bit,rel
      if (ReadBit(b1)) {
        WriteBit<kTraced>(b1, false);
        relative(b2);
      }
      break;
    case 0x20:  // JB bit,rel
      if (ReadBit(b1)) relative(b2);
      break;
    case 0x30:  // JNB bit,rel
      if (!ReadBit(b1)) relative(b2);
      break;
    case 0x40:  // JC
      if (carry() != 0) relative(b1);
      break;
    case 0x50:  // JNC
      if (carry() == 0) relative(b1);
      break;
    case 0x60:  // JZ
      if (a == 0) relative(b1);
      break;
    case 0x70:  // JNZ
      if (a != 0) relative(b1);
      break;
    case 0x80:  // SJMP
      relative(b1);
      break;
    case 0x73:  // JMP @A+DPTR
      pc_ = static_cast<std::uint16_t>(Dptr() + a);
      break;
    case 0x24:
      Add(b1, 0);
      break;
    case 0x25:
      Add(ReadDirect(b1), 0);
      break;
      CASE_I(0x26) : Add(at(), 0);
      break;
      CASE_R(0x28) : Add(reg(op & 7), 0);
      break;
    case 0x34:
      Add(b1, carry());
      break;
    case 0x35:
      Add(ReadDirect(b1), carry());
      break;
      CASE_I(0x36) : Add(at(), carry());
      break;
      CASE_R(0x38) : Add(reg(op & 7), carry());
      break;
    case 0x94:
      Subtract(b1);
      break;
    case 0x95:
      Subtract(ReadDirect(b1));
      break;
      CASE_I(0x96) : Subtract(at());
      break;
      CASE_R(0x98) : Subtract(reg(op & 7));
      break;
    // ORL, ANL, XRL in their six forms.
    case 0x42:
      WriteDirect<kTraced>(b1, ReadDirect(b1) | a);
      break;
    case 0x43:
      WriteDirect<kTraced>(b1, ReadDirect(b1) | b2);
      break;
    case 0x44:
      a |= b1;
      break;
    case 0x45:
      a |= ReadDirect(b1);
      break;
      CASE_I(0x46) : a |= at();
      break;
      CASE_R(0x48) : a |= reg(op & 7);
      break;
    case 0x52:
      WriteDirect<kTraced>(b1, ReadDirect(b1) & a);
      break;
    case 0x53:
      WriteDirect<kTraced>(b1, ReadDirect(b1) & b2);
      break;
    case 0x54:
      a &= b1;
      break;
    case 0x55:
      a &= ReadDirect(b1);
      break;
      CASE_I(0x56) : a &= at();
      break;
      CASE_R(0x58) : a &= reg(op & 7);
      break;
    case 0x62:
      WriteDirect<kTraced>(b1, ReadDirect(b1) ^ a);
      break;
    case 0x63:
      WriteDirect<kTraced>(b1, ReadDirect(b1) ^ b2);
      break;
    case 0x64:
      a ^= b1;
      break;
    case 0x65:
      a ^= ReadDirect(b1);
      break;
      CASE_I(0x66) : a ^= at();
      break;
      CASE_R(0x68) : a ^= reg(op & 7);
      break;
    case 0x72:  // ORL C,bit
      if (ReadBit(b1)) psw |= kCy;
      break;
    case 0xA0:  // ORL C,/bit
      if (!ReadBit(b1)) psw |= kCy;
      break;
    case 0x82:  // ANL C,bit
      if (!ReadBit(b1)) psw &= static_cast<std::uint8_t>(~kCy);
      break;
    case 0xB0:  // ANL C,/bit
      if (ReadBit(b1)) psw &= static_cast<std::uint8_t>(~kCy);
      break;
    case 0xA2:  // MOV C,bit
      setCarry(ReadBit(b1));
      break;
    case 0x92:  // MOV bit,C
      WriteBit<kTraced>(b1, carry() != 0);
      break;
    case 0xB2:  // CPL bit
      WriteBit<kTraced>(b1, !ReadBit(b1));
      break;
    case 0xC2:  // CLR bit
      WriteBit<kTraced>(b1, false);
      break;
    case 0xD2:  // SETB bit
      WriteBit<kTraced>(b1, true);
      break;
    case 0xB3:  // CPL C
      psw ^= kCy;
      break;
    case 0xC3:  // CLR C
      psw &= static_cast<std::uint8_t>(~kCy);
      break;
    case 0xD3:  // SETB C
      psw |= kCy;
      break;
    case 0x74:
      a = b1;
      break;  // MOV A,#data
    case 0x75:
      WriteDirect<kTraced>(b1, b2);
      break;  // MOV direct,#data
      CASE_I(0x76) : WriteIndirect<kTraced>(reg(op & 1), b1);
      break;  // MOV @Ri,#data
      CASE_R(0x78) : setReg(op & 7, b1);
      break;  // MOV Rn,#data
    case 0x85:
      WriteDirect<kTraced>(b2, ReadDirect(b1));
      break;  // MOV direct,direct
      CASE_I(0x86) : WriteDirect<kTraced>(b1, at());
      break;  // MOV direct,@Ri
      CASE_R(0x88) : WriteDirect<kTraced>(b1, reg(op & 7));
      break;  // MOV direct,Rn
      CASE_I(0xA6) : WriteIndirect<kTraced>(reg(op & 1), ReadDirect(b1));
      break;  // MOV @Ri,direct
      CASE_R(0xA8) : setReg(op & 7, ReadDirect(b1));
      break;  // MOV Rn,direct
    case 0xE5:
      a = ReadDirect(b1);
      break;  // MOV A,direct
      CASE_I(0xE6) : a = at();
      break;  // MOV A,@Ri
      CASE_R(0xE8) : a = reg(op & 7);
      break;  // MOV A,Rn
    case 0xF5:
      WriteDirect<kTraced>(b1, a);
      break;  // MOV direct,A
      CASE_I(0xF6) : WriteIndirect<kTraced>(reg(op & 1), a);
      break;  // MOV @Ri,A
      CASE_R(0xF8) : setReg(op & 7, a);
      break;    // MOV Rn,A
    case 0x90:  // MOV DPTR,#data16
      SetDptr(static_cast<std::uint16_t>((b1 << 8) | b2));
      break;
    case 0xA3:  // INC DPTR
      SetDptr(static_cast<std::uint16_t>(Dptr() + 1));
      break;
    case 0x83:  // MOVC A,@A+PC
      a = code[static_cast<std::uint16_t>(next + a)];
      break;
    case 0x93:  // MOVC A,@A+DPTR
      a = code[static_cast<std::uint16_t>(Dptr() + a)];
      break;
    case 0xE0:  // MOVX A,@DPTR
      a = ReadXdata(Dptr());
      cycles += static_cast<int>(movxStretch_);
      break;
      CASE_I(0xE2)
          :  // MOVX A,@Ri
            a = ReadXdata(static_cast<std::uint16_t>((sfr_[mpage_] << 8) | reg(op & 1)));
      cycles += static_cast<int>(movxStretch_);
      break;
    case 0xF0:  // MOVX @DPTR,A
      WriteXdata<kTraced>(Dptr(), a);
      cycles += static_cast<int>(movxStretch_);
      break;
      CASE_I(0xF2)
          :  // MOVX @Ri,A
            WriteXdata<kTraced>(static_cast<std::uint16_t>((sfr_[mpage_] << 8) | reg(op & 1)), a);
      cycles += static_cast<int>(movxStretch_);
      break;
    case 0xA4: {  // MUL AB
      const unsigned product = unsigned{a} * sfr_[kB];
      a = static_cast<std::uint8_t>(product);
      sfr_[kB] = static_cast<std::uint8_t>(product >> 8);
      psw = static_cast<std::uint8_t>((psw & ~(kCy | kOv)) | (product > 0xFF ? kOv : 0));
      break;
    }
    case 0x84: {  // DIV AB; by zero: OV set, A and B kept
      const std::uint8_t divisor = sfr_[kB];
      psw &= static_cast<std::uint8_t>(~(kCy | kOv));
      if (divisor == 0) {
        psw |= kOv;
      } else {
        const std::uint8_t dividend = a;
        a = static_cast<std::uint8_t>(dividend / divisor);
        sfr_[kB] = static_cast<std::uint8_t>(dividend % divisor);
      }
      break;
    }
    case 0xD4: {  // DA A
      unsigned value = a;
      if ((value & 0x0F) > 9 || (psw & kAc) != 0) value += 0x06;
      if (value > 0xFF) psw |= kCy;
      if (((value >> 4) & 0x0F) > 9 || (value > 0xFF) || (psw & kCy) != 0) value += 0x60;
      if (value > 0xFF) psw |= kCy;
      a = static_cast<std::uint8_t>(value);
      break;
    }
    case 0xC0:  // PUSH direct
      Push<kTraced>(ReadDirect(b1));
      break;
    case 0xD0: {  // POP direct
      const std::uint8_t value = Pop();
      WriteDirect<kTraced>(b1, value);
      break;
    }
    case 0xC4:  // SWAP A
      a = static_cast<std::uint8_t>((a << 4) | (a >> 4));
      break;
    case 0xC5: {  // XCH A,direct
      const std::uint8_t value = ReadDirect(b1);
      WriteDirect<kTraced>(b1, a);
      a = value;
      break;
    }
      CASE_I(0xC6) : {  // XCH A,@Ri
        const std::uint8_t value = at();
        WriteIndirect<kTraced>(reg(op & 1), a);
        a = value;
        break;
      }
      CASE_R(0xC8) : {  // XCH A,Rn
        const std::uint8_t value = reg(op & 7);
        setReg(op & 7, a);
        a = value;
        break;
      }
      CASE_I(0xD6) : {  // XCHD A,@Ri
        const std::uint8_t value = at();
        WriteIndirect<kTraced>(reg(op & 1), static_cast<std::uint8_t>((value & 0xF0) | (a & 0x0F)));
        a = static_cast<std::uint8_t>((a & 0xF0) | (value & 0x0F));
        break;
      }
    case 0xE4:  // CLR A
      a = 0;
      break;
    case 0xF4:  // CPL A
      a = static_cast<std::uint8_t>(~a);
      break;
    case 0xB4:  // CJNE A,#data,rel
      setCarry(a < b1);
      if (a != b1) relative(b2);
      break;
    case 0xB5: {  // CJNE A,direct,rel
      const std::uint8_t value = ReadDirect(b1);
      setCarry(a < value);
      if (a != value) relative(b2);
      break;
    }
      CASE_I(0xB6) : {  // CJNE @Ri,#data,rel
        const std::uint8_t value = at();
        setCarry(value < b1);
        if (value != b1) relative(b2);
        break;
      }
      CASE_R(0xB8) : {  // CJNE Rn,#data,rel
        const std::uint8_t value = reg(op & 7);
        setCarry(value < b1);
        if (value != b1) relative(b2);
        break;
      }
    case 0xD5: {  // DJNZ direct,rel
      const std::uint8_t value = static_cast<std::uint8_t>(ReadDirect(b1) - 1);
      WriteDirect<kTraced>(b1, value);
      if (value != 0) relative(b2);
      break;
    }
      CASE_R(0xD8) : {  // DJNZ Rn,rel
        const std::uint8_t value = static_cast<std::uint8_t>(reg(op & 7) - 1);
        setReg(op & 7, value);
        if (value != 0) relative(b1);
        break;
      }
    case 0xA5:  // reserved: a one-cycle no-op
      break;
  }
#undef CASE_R
#undef CASE_I
  return cycles;
}

}  // namespace sim::fx2
