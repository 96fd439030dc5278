// The 8051 core of the EZ-USB FX2, as an instruction-set simulator.
//
// The core owns the FX2's unified code/data memory (one 64 KiB array: the program is fetched from
// it and MOVX reaches it), its internal RAM and the storage of its special function registers.
// Whatever lies outside the core (the USB core's register window, endpoint buffers, the ports'
// pins) is reached through Cpu8051Bus, for the xdata pages and SFR addresses that the chip model
// hooks. Unhooked memory and SFRs are plain storage, read and written at full speed.
//
//   FX2Chip chip;                            // implements Cpu8051Bus
//   Cpu8051 cpu(chip);
//   std::copy(program.begin(), program.end(), cpu.Memory());
//   cpu.HookXdataPage(0xE6);                 // the register window goes to the chip
//   cpu.HookSfr(0x80);                       // port A's pins
//   cpu.Reset();
//   cpu.Run(48'000'000 / 4 / 1000);          // one millisecond of machine cycles
//
// Interrupts: the core evaluates the enable (IE, EIE), flag (TCON, EXIF, ...) and priority (IP,
// EIP) registers itself, in SFR storage. A chip model raises the USB interrupt by setting EXIF's
// USBINT bit in SfrStorage(0x91); the program clears it as on the chip.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace sim::fx2 {

class Cpu8051Bus {
 public:
  virtual ~Cpu8051Bus() = default;
  // MOVX reads and writes of addresses in hooked pages.
  virtual std::uint8_t ReadXdata(std::uint16_t address) = 0;
  virtual void WriteXdata(std::uint16_t address, std::uint8_t value) = 0;
  // Reads and writes of hooked SFRs (0x80..0xFF), including bit instructions on them; a
  // read-modify-write instruction reads, then writes the whole byte.
  virtual std::uint8_t ReadSfr(std::uint8_t address) = 0;
  virtual void WriteSfr(std::uint8_t address, std::uint8_t value) = 0;
};

// The architectural state after an instruction, for traces.
struct Cpu8051State {
  std::uint16_t pc = 0;
  std::uint8_t a = 0, b = 0, psw = 0, sp = 0;
  std::uint16_t dptr = 0;
  std::array<std::uint8_t, 8> r{};  // R0..R7 of the selected bank
};

class Cpu8051Tracer {
 public:
  virtual ~Cpu8051Tracer() = default;
  virtual void InstructionDone(const Cpu8051State& state) = 0;
  virtual void InternalWrite(std::uint8_t address, std::uint8_t value) = 0;  // direct/indirect RAM
  virtual void XdataWrite(std::uint16_t address, std::uint8_t value) = 0;
};

class Cpu8051 {
 public:
  explicit Cpu8051(Cpu8051Bus& bus);

  std::uint8_t* Memory();                          // 65536 bytes of code and xdata
  std::uint8_t* InternalRam();                     // 256 bytes (upper 128 reached indirectly)
  std::uint8_t& SfrStorage(std::uint8_t address);  // 0x80..0xFF, storage of unhooked SFRs

  void HookXdataPage(std::uint8_t page);  // accesses to page << 8 .. page << 8 | 0xFF
  void HookSfr(std::uint8_t address);

  void Reset();  // registers to their reset values, PC 0; memory kept
  // Runs instructions and interrupt entries until at least `cycles` machine cycles have passed
  // (4 clocks each); returns the machine cycles actually run.
  std::uint64_t Run(std::uint64_t cycles);
  int Step();  // one instruction (or interrupt entry); returns its machine cycles
  std::uint64_t Cycles() const;

  std::uint16_t Pc() const;
  void SetPc(std::uint16_t pc);
  Cpu8051State State() const;
  void SetTracer(Cpu8051Tracer* tracer);  // nullptr: no tracing, no cost

  // The FX2's autovectors (INTSETUP's AV2EN, AV4EN): while on, the entry to INT2 (USB, 0x43)
  // or INT4 (FIFOs and GPIF, 0x53) finds `offset` (INT2IVEC, INT4IVEC) in place of the low
  // address byte of the jump at the vector. The chip model sets them as the program writes
  // INTSETUP and as its interrupt requests change.
  void SetAutovector(std::uint8_t vector, bool enabled, std::uint8_t offset);

  // The core whose timing and addressing to follow. kFx2 (the default): 4 clocks a machine
  // cycle, the FX2's table of instruction cycles, MOVX stretched by CKCON, MOVX @Ri's high address
  // byte from MPAGE. kClassic: the original 12-clock 8051 (its cycle table, MOVX @Ri's high byte
  // from P2), for comparing runs with simulators of that core. Takes effect at Reset().
  enum class Variant { kFx2, kClassic };
  void SetVariant(Variant variant);

 private:
  template <bool kTraced>
  int Execute();
  template <bool kTraced>
  int StepAs();
  void Resume();
  int Attend();
  int EnterInterrupt();
  void SyncTimers(std::uint64_t cycle);  // counts the timers up to `cycle`
  void ScheduleTimers();
  void Poll() { eventAt_ = attention_ || idle_ ? 0 : timerAt_; }

  std::uint8_t ReadSfr(std::uint8_t address);
  std::uint8_t ReadSfrSlow(std::uint8_t address);
  template <bool kTraced>
  void WriteSfr(std::uint8_t address, std::uint8_t value);
  void WriteSfrSlow(std::uint8_t address, std::uint8_t value);
  std::uint8_t ReadDirect(std::uint8_t address);
  template <bool kTraced>
  void WriteDirect(std::uint8_t address, std::uint8_t value);
  template <bool kTraced>
  void WriteIndirect(std::uint8_t address, std::uint8_t value);
  bool ReadBit(std::uint8_t bit);
  template <bool kTraced>
  void WriteBit(std::uint8_t bit, bool value);
  std::uint8_t ReadXdata(std::uint16_t address);
  template <bool kTraced>
  void WriteXdata(std::uint16_t address, std::uint8_t value);
  template <bool kTraced>
  void Push(std::uint8_t value);
  std::uint8_t Pop();
  std::uint16_t Dptr() const;
  void SetDptr(std::uint16_t value);
  void Add(std::uint8_t value, unsigned carry);
  void Subtract(std::uint8_t value);

  Cpu8051Bus& bus_;
  Cpu8051Tracer* tracer_ = nullptr;
  std::unique_ptr<std::uint8_t[]> memory_;
  std::array<std::uint8_t, 256> iram_{};
  std::array<std::uint8_t, 256> sfr_{};       // indexed by address; 0x80..0xFF used
  std::array<std::uint8_t, 256> sfrKinds_{};  // how each SFR is reached (Cpu8051::SfrKind)
  std::array<bool, 256> hookedPages_{};
  Variant variant_ = Variant::kFx2;
  const std::uint8_t* cycleTable_ = nullptr;
  unsigned clocksPerCycle_ = 4;
  std::uint8_t mpage_ = 0x92;  // the SFR giving MOVX @Ri its high address byte
  unsigned movxStretch_ = 0;
  unsigned instructionCycles_ = 0;  // of the instruction running
  std::uint16_t pc_ = 0;
  std::uint64_t cycles_ = 0;
  std::uint64_t eventAt_ = 0;     // the cycle at which Attend() next has work
  std::uint64_t timerAt_ = 0;     // the cycle of the next timer overflow
  std::uint64_t timerClock_ = 0;  // the clock up to which the timers are counted
  bool attention_ = true;         // interrupt state may have changed
  bool idle_ = false;             // PCON's IDL was set: no instructions until an interrupt
  bool holdOff_ = false;          // the last instruction was RETI or wrote IE/IP/EIE/EIP
  std::uint8_t inService_ = 0;    // bit 0: a low-priority handler runs; bit 1: a high one
  std::array<std::int16_t, 2> autovector_{-1, -1};  // INT2's, INT4's offset; -1: off
  std::uint16_t autovectorJump_ = 0xFFFF;           // the vector whose jump takes the offset
};

}  // namespace sim::fx2
