// Inside the 8051 core, shared by its files (cpu8051.cpp: state and bus; cpu8051_interrupts.cpp:
// timers and interrupts; cpu8051_instructions.cpp: the instruction set): the SFR addresses the
// core gives meaning to, how each SFR is reached, and the accesses to internal RAM, SFRs, bits
// and xdata that instructions and interrupt entries make, inline so that the instruction loop
// stays one tight function.
#pragma once

#include "cpu8051.h"

namespace sim::fx2 {

// SFR addresses the core itself gives meaning to.
inline constexpr std::uint8_t kSp = 0x81, kDpl = 0x82, kDph = 0x83, kDps = 0x86, kPcon = 0x87;
inline constexpr std::uint8_t kTcon = 0x88, kTmod = 0x89, kTl0 = 0x8A, kTl1 = 0x8B, kTh0 = 0x8C,
                              kTh1 = 0x8D, kCkcon = 0x8E;
inline constexpr std::uint8_t kExif = 0x91, kMpage = 0x92, kScon0 = 0x98, kP0 = 0x80, kP1 = 0x90,
                              kP2 = 0xA0, kP3 = 0xB0;
inline constexpr std::uint8_t kIe = 0xA8, kIp = 0xB8, kScon1 = 0xC0, kT2con = 0xC8, kPsw = 0xD0,
                              kEicon = 0xD8, kAcc = 0xE0, kEie = 0xE8, kB = 0xF0, kEip = 0xF8;

inline constexpr std::uint8_t kCy = 0x80, kAc = 0x40, kOv = 0x04;

// How an SFR is reached; anything but plain storage takes the slow path.
enum SfrKind : std::uint8_t {
  kHooked = 1,     // the chip model's
  kTimer = 2,      // the timers are brought up to date first
  kInterrupt = 4,  // a write may raise or enable an interrupt
  kHoldOff = 8,    // a write delays interrupts by one instruction (IE, IP, EIE, EIP)
  kParity = 16,    // PSW: P is computed from A
  kIdle = 32,      // PCON: setting IDL stops the CPU until an interrupt
};
inline constexpr std::uint8_t kSlowRead = kHooked | kTimer | kParity;
inline constexpr std::uint8_t kSlowWrite =
    kHooked | kTimer | kInterrupt | kHoldOff | kParity | kIdle;

inline bool Parity(std::uint8_t value) {
  return __builtin_parity(value) != 0;
}

// Machine cycles of each opcode in the variant's timing (MOVX adds CKCON's stretch on the FX2).
const std::uint8_t* InstructionCycles(Cpu8051::Variant variant);

[[gnu::always_inline]] inline std::uint8_t Cpu8051::ReadSfr(std::uint8_t address) {
  if ((sfrKinds_[address] & kSlowRead) != 0) return ReadSfrSlow(address);
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

}  // namespace sim::fx2
