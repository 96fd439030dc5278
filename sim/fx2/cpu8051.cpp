// The 8051 core's state and its bus: memory, internal RAM and SFR storage, the hooks that hand
// xdata pages and SFRs to the chip model, reset, the architectural state for traces, and the
// slow paths of SFR reads and writes.
#include <algorithm>

#include "cpu8051_core.h"

namespace sim::fx2 {
namespace {

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
  cycleTable_ = InstructionCycles(variant_);
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

}  // namespace sim::fx2
