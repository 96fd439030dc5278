#include "pcmcia_slot.h"

namespace sim::fx2 {
namespace {

// Port A bits.
constexpr int kCe1 = 0, kOe = 1, kWe = 2, kIord = 3, kIowr = 4, kReg = 5, kReset = 6, kVccEn = 7;
// Port E bits the slot drives.
constexpr std::uint8_t kCd1 = 0x01, kCd2 = 0x02, kReady = 0x04, kWait = 0x08;

std::uint16_t Address(const PortOutputs& pins) {
  std::uint16_t address = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (pins.Level(PcmciaSlot::kPortD, bit)) address |= static_cast<std::uint16_t>(1u << bit);
    if (pins.Level(PcmciaSlot::kPortC, bit)) address |= static_cast<std::uint16_t>(0x100u << bit);
  }
  return address;
}

std::uint8_t Data(const PortOutputs& pins) {
  std::uint8_t data = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (pins.Level(PcmciaSlot::kPortB, bit)) data |= static_cast<std::uint8_t>(1u << bit);
  return data;
}

}  // namespace

PcmciaSlot::PcmciaSlot(std::function<std::uint64_t()> nowUs, CiModule* module)
    : nowUs_(std::move(nowUs)), module_(module) {
  attribute_.fill(0xFF);
  attribute_[kCorAddress] = 0;
  pins_.latch.fill(0xFF);
}

void PcmciaSlot::Record(Cycle::Kind kind, std::uint16_t address, std::uint8_t value) {
  if (cycles_.size() < cycleLimit_) cycles_.push_back({kind, address, value});
}

bool PcmciaSlot::CardPresent() {
  NoticePresence(nowUs_());
  return seated_;
}

bool PcmciaSlot::VccValid(std::uint64_t now) const {
  return vccOn_ && now - vccOnAtUs_ >= kVccRampUs;
}

void PcmciaSlot::NoticePresence(std::uint64_t now) {
  const bool seated = module_ != nullptr && module_->Present();
  if (seated == seated_) return;
  seated_ = seated;
  // A card that leaves takes its configuration with it; one that arrives under power is not
  // started by it.
  resetDone_ = false;
  attribute_[kCorAddress] = 0;
  driving_ = false;
  hotInserted_ = seated && VccValid(now);
  if (hotInserted_) ++hotInsertions_;
}

bool PcmciaSlot::CardRunning(std::uint64_t now) {
  NoticePresence(now);
  if (!seated_ || !VccValid(now) || resetHigh_ || !resetDone_ || hotInserted_) return false;
  return now - releasedAtUs_ >= std::uint64_t{readyDelayMs_} * 1000u;
}

bool PcmciaSlot::ReadyLevel(std::uint64_t now) {
  NoticePresence(now);
  if (!seated_) return true;         // nothing drives it: the pull-up
  if (!VccValid(now)) return false;  // an unpowered card clamps its outputs low
  if (resetHigh_) return true;       // in reset the card leaves READY undriven
  if (now - releasedAtUs_ < std::uint64_t{kReadyUndrivenMs} * 1000u) return true;
  return !neverReady_ && CardRunning(now);
}

void PcmciaSlot::PortsChanged(const PortOutputs& outputs) {
  const std::uint64_t now = nowUs_();
  NoticePresence(now);
  const PortOutputs before = pins_;
  pins_ = outputs;

  const bool vccOn = !pins_.Level(kPortA, kVccEn);
  if (vccOn != vccOn_) {
    vccOn_ = vccOn;
    vccOnAtUs_ = now;
    // Power lost: the card forgets everything; power back: a card seated now starts clean.
    resetDone_ = false;
    hotInserted_ = false;
    attribute_[kCorAddress] = 0;
  }
  const bool resetHigh = pins_.Level(kPortA, kReset);
  if (resetHigh != resetHigh_) {
    resetHigh_ = resetHigh;
    if (resetHigh) {
      resetDone_ = false;
      attribute_[kCorAddress] = 0;  // back to memory-only operation
    } else if (seated_ && vccOn_) {
      releasedAtUs_ = now;
      // Vcc must have been valid for the reset set-up time when RESET is released.
      const bool settled = VccValid(now) && now - vccOnAtUs_ >= kVccRampUs + kResetSetupMs * 1000u;
      resetDone_ = settled && !hotInserted_;
      if (resetDone_)
        ++resets_;
      else
        ++lostResets_;
    }
  }

  const bool wasSelected = !before.Level(kPortA, kCe1) && !before.Level(kPortA, kReg);
  const bool selected = !pins_.Level(kPortA, kCe1) && !pins_.Level(kPortA, kReg);
  const auto strobeWas = [&](int bit) { return wasSelected && !before.Level(kPortA, bit); };
  const auto strobeIs = [&](int bit) { return selected && !pins_.Level(kPortA, bit); };

  // Writes are taken when the strobe (or the selection) ends.
  if (strobeWas(kWe) && !strobeIs(kWe)) CardWrite(false, Address(before), Data(before), now);
  if (strobeWas(kIowr) && !strobeIs(kIowr)) CardWrite(true, Address(before), Data(before), now);
  // Reads: the card drives the data lines from the strobe's start to its end.
  const bool readAttr = strobeIs(kOe), readIo = strobeIs(kIord);
  if ((readAttr && !strobeWas(kOe)) || (readIo && !strobeWas(kIord))) {
    driving_ = true;
    driven_ = CardRead(readIo, Address(pins_), now);
  } else if (!readAttr && !readIo) {
    driving_ = false;
  }
}

std::uint8_t PcmciaSlot::CardRead(bool io, std::uint16_t address, std::uint64_t now) {
  std::uint8_t value = 0xFF;
  const bool running = CardRunning(now);
  if (io) {
    if (running && (attribute_[kCorAddress] & 0x3F) != 0)
      value = module_->ReadRegister(address & 3);
    Record(Cycle::kIoRead, address, value);
  } else {
    if (running) value = attribute_[address % attribute_.size()];
    Record(Cycle::kAttributeRead, address, value);
  }
  return value;
}

void PcmciaSlot::CardWrite(bool io, std::uint16_t address, std::uint8_t value, std::uint64_t now) {
  const bool running = CardRunning(now);
  if (io) {
    Record(Cycle::kIoWrite, address, value);
    if (running && (attribute_[kCorAddress] & 0x3F) != 0)
      module_->WriteRegister(address & 3, value);
  } else {
    Record(Cycle::kAttributeWrite, address, value);
    // Only the configuration option register is writable in this card's attribute memory.
    if (running && address == kCorAddress && !corStuck_) attribute_[kCorAddress] = value;
  }
}

std::uint8_t PcmciaSlot::PinLevels(Port port) {
  const std::uint64_t now = nowUs_();
  switch (port) {
    case kPortB: {
      // A write strobe may be low while the FX2 drives; the card drives only on reads, and
      // pins the FX2 drives show its own levels anyway.
      if (!driving_) return 0xFF;
      // A card that left while driving stops driving.
      NoticePresence(now);
      return seated_ ? driven_ : 0xFF;
    }
    case kPortE: {
      NoticePresence(now);
      std::uint8_t levels = 0xFF;
      if (seated_) levels &= static_cast<std::uint8_t>(~(kCd1 | kCd2));
      if (!ReadyLevel(now)) levels &= static_cast<std::uint8_t>(~kReady);
      (void)kWait;  // this card never extends a cycle: WAIT# stays high
      return levels;
    }
    default:
      return 0xFF;
  }
}

}  // namespace sim::fx2
