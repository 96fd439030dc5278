// The PCMCIA slot of an emulated adapter, as the adapter program's command handling sees it
// through its hardware layer: card detect, reset and ready, attribute memory with the
// configuration option register, and the card's I/O space, which reaches the four registers
// of the card in it (a simulated CI module in the tests).
//
// Like a real PC card, the module answers in I/O space only once its configuration option
// register holds a configuration index; a reset returns it to memory-only operation.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "bus_card.h"
#include "clock.h"

namespace firmware {

class CiSlot {
 public:
  // One bus cycle, as a test sees it.
  struct Cycle {
    enum Kind : std::uint8_t { kAttributeRead, kAttributeWrite, kIoRead, kIoWrite } kind;
    std::uint16_t address;
    std::uint8_t value;
  };

  // Where the configuration option register stands in attribute memory.
  static constexpr std::uint16_t kCorAddress = 0x1FE;

  // `module` may be null: the slot is empty.
  CiSlot(platform::Clock& clock, BusCard* module);

  // --- What the adapter's hardware layer does ---
  bool CardPresent() const;
  void ResetCard();
  bool CardReady();
  std::uint8_t ReadAttribute(std::uint16_t address);
  void WriteAttribute(std::uint16_t address, std::uint8_t value);
  std::uint8_t ReadIo(std::uint16_t address);
  void WriteIo(std::uint16_t address, std::uint8_t value);

  // --- Fault knobs ---
  void SetModule(BusCard* module) { module_ = module; }
  // The card keeps READY low this long after each reset; `never` keeps it low for good.
  void SetReadyDelayMs(std::uint32_t milliseconds) { readyDelayMs_ = milliseconds; }
  void SetNeverReady(bool never) { neverReady_ = never; }
  // The configuration option register ignores writes (its read-back then differs).
  void SetCorStuck(bool stuck) { corStuck_ = stuck; }

  // --- What happened ---
  const std::vector<Cycle>& Cycles() const { return cycles_; }
  void ClearCycles() { cycles_.clear(); }
  int Resets() const { return resets_; }
  std::uint8_t Cor() const { return attribute_[kCorAddress]; }
  bool IoEnabled() const { return (attribute_[kCorAddress] & 0x3F) != 0; }
  // Keeps only the first cycles; whole updates would otherwise record millions.
  void SetCycleLimit(std::size_t limit) { cycleLimit_ = limit; }

 private:
  void Record(Cycle::Kind kind, std::uint16_t address, std::uint8_t value);

  platform::Clock& clock_;
  BusCard* module_;
  std::array<std::uint8_t, 0x1000> attribute_{};
  std::uint32_t resetAtMs_ = 0;
  std::uint32_t readyDelayMs_ = 0;
  bool neverReady_ = false;
  bool corStuck_ = false;
  int resets_ = 0;
  std::vector<Cycle> cycles_;
  std::size_t cycleLimit_ = 4096;
};

}  // namespace firmware
