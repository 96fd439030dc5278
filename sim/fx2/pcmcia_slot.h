// The adapter board's PC Card slot at pin level, carrying a simulated CI module.
//
// The board wires the slot to the FX2's ports (100-pin package; A16..A25 tied low, 8-bit
// access):
//
//   PD0..PD7 A0..A7, PC0..PC7 A8..A15, PB0..PB7 D0..D7,
//   PA0 CE1#, PA1 OE#, PA2 WE#, PA3 IORD#, PA4 IOWR#, PA5 REG#, PA6 RESET (high active),
//   PA7 VCCEN# (low switches the slot's Vcc on),
//   PE0 CD1#, PE1 CD2#, PE2 READY, PE3 WAIT#, PE4 CE2#.
//
// Cycles are decoded from the pins as a card decodes them: an attribute read when CE1#, REG#
// and OE# are low, an attribute write when WE# rises under CE1# and REG# low, I/O reads and
// writes the same with IORD# and IOWR#. The card drives D0..D7 while its read strobe is low,
// and the value is taken when the strobe falls (a register read has side effects once per
// strobe). Undriven lines are pulled up on the board.
//
// The card behaves as a PC card does:
//   - CD1#/CD2# are low while it is seated, powered or not;
//   - Vcc is valid kVccRampUs after VCCEN# falls; the card needs Vcc valid for
//     kResetSetupMs before RESET is released, else that reset is lost and the card stays
//     busy until it is reset properly;
//   - after RESET falls the card leaves READY undriven (the pull-up reads high) for up to
//     kReadyUndrivenMs, then holds it low while it starts up (SetReadyDelayMs), then high;
//   - a card put into a slot whose Vcc is on does not start until the slot's power has been
//     switched off and on again; a card that leaves loses its configuration;
//   - attribute memory holds the configuration option register at 0x1FE; the card answers in
//     I/O space only while that register holds a configuration index, and its I/O space is
//     the module's four registers (the two low address lines).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "ci_module.h"

namespace sim::fx2 {

// The five ports of the FX2 as their output latches and direction registers stand.
struct PortOutputs {
  std::array<std::uint8_t, 5> latch{};  // IOA..IOE
  std::array<std::uint8_t, 5> oe{};     // OEA..OEE, 1 = output
  // The level on pin `bit` of `port` (0 = A) where the FX2 drives it, pulled up otherwise.
  bool Level(int port, int bit) const {
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << bit);
    return (oe[port] & mask) == 0 || (latch[port] & mask) != 0;
  }
};

class PcmciaSlot {
 public:
  enum Port { kPortA, kPortB, kPortC, kPortD, kPortE };
  struct Cycle {
    enum Kind : std::uint8_t { kAttributeRead, kAttributeWrite, kIoRead, kIoWrite } kind;
    std::uint16_t address;
    std::uint8_t value;
    friend bool operator==(const Cycle&, const Cycle&) = default;
  };

  static constexpr std::uint16_t kCorAddress = 0x1FE;
  static constexpr std::uint32_t kVccRampUs = 1000;
  static constexpr std::uint32_t kResetSetupMs = 20;
  static constexpr std::uint32_t kReadyUndrivenMs = 20;

  // `nowUs` is the time of the board (the FX2's own time); `module` may be null.
  PcmciaSlot(std::function<std::uint64_t()> nowUs, CiModule* module);

  // The FX2 changed a port latch or direction.
  void PortsChanged(const PortOutputs& outputs);
  // What the slot drives on a port's pins, with the board's pull-ups where it drives nothing.
  std::uint8_t PinLevels(Port port);

  // --- Fault knobs ---
  void SetModule(CiModule* module) { module_ = module; }
  // How long the card keeps READY low after a proper reset; `never` keeps it low for good.
  void SetReadyDelayMs(std::uint32_t milliseconds) { readyDelayMs_ = milliseconds; }
  void SetNeverReady(bool never) { neverReady_ = never; }
  // The configuration option register ignores writes (its read-back then differs).
  void SetCorStuck(bool stuck) { corStuck_ = stuck; }

  // --- What happened ---
  bool CardPresent();
  bool Powered() const { return vccOn_; }
  // Resets the card took as proper ones (RESET released with Vcc settled).
  int Resets() const { return resets_; }
  // Resets released before Vcc had settled, and cards put into a powered slot.
  int LostResets() const { return lostResets_; }
  int HotInsertions() const { return hotInsertions_; }
  std::uint8_t Cor() const { return attribute_[kCorAddress]; }
  const std::vector<Cycle>& Cycles() const { return cycles_; }
  void ClearCycles() { cycles_.clear(); }
  void SetCycleLimit(std::size_t limit) { cycleLimit_ = limit; }

 private:
  bool VccValid(std::uint64_t now) const;
  bool CardRunning(std::uint64_t now);  // powered, reset properly, started up
  bool ReadyLevel(std::uint64_t now);
  void NoticePresence(std::uint64_t now);
  void Record(Cycle::Kind kind, std::uint16_t address, std::uint8_t value);
  std::uint8_t CardRead(bool io, std::uint16_t address, std::uint64_t now);
  void CardWrite(bool io, std::uint16_t address, std::uint8_t value, std::uint64_t now);

  std::function<std::uint64_t()> nowUs_;
  CiModule* module_;
  std::array<std::uint8_t, 0x1000> attribute_{};

  PortOutputs pins_;
  bool driving_ = false;  // the card drives D0..D7
  std::uint8_t driven_ = 0xFF;

  bool seated_ = false;
  bool vccOn_ = false;
  std::uint64_t vccOnAtUs_ = 0;
  bool resetHigh_ = false;
  bool hotInserted_ = false;  // needs a power cycle before it starts
  bool resetDone_ = false;    // released properly since power-up
  std::uint64_t releasedAtUs_ = 0;

  std::uint32_t readyDelayMs_ = 100;
  bool neverReady_ = false;
  bool corStuck_ = false;
  int resets_ = 0;
  int lostResets_ = 0;
  int hotInsertions_ = 0;
  std::vector<Cycle> cycles_;
  std::size_t cycleLimit_ = 4096;
};

}  // namespace sim::fx2
