// The 8051 core's timers and interrupts: timers 0 and 1 counted up to date on demand, the next
// overflow scheduled, and the interrupt sources with their enables, priorities and entry.
#include <algorithm>
#include <cstdint>

#include "cpu8051_core.h"

namespace sim::fx2 {
namespace {

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

}  // namespace

// Between runs the chip model may have raised interrupt flags or changed the timers through
// SfrStorage: everything is looked at again.
void Cpu8051::Resume() {
  ScheduleTimers();
  attention_ = true;
  Poll();
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

}  // namespace sim::fx2
