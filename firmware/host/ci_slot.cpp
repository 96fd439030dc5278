#include "ci_slot.h"

namespace firmware {

CiSlot::CiSlot(platform::Clock& clock, BusCard* module) : clock_(clock), module_(module) {
  attribute_.fill(0xFF);
  attribute_[kCorAddress] = 0;
}

void CiSlot::Record(Cycle::Kind kind, std::uint16_t address, std::uint8_t value) {
  if (cycles_.size() < cycleLimit_) cycles_.push_back({kind, address, value});
}

bool CiSlot::CardPresent() const {
  return module_ != nullptr && module_->Present();
}

void CiSlot::ResetCard() {
  ++resets_;
  resetAtMs_ = clock_.TickCount();
  attribute_[kCorAddress] = 0;  // back to memory-only operation
}

bool CiSlot::CardReady() {
  if (!CardPresent() || neverReady_) return false;
  return clock_.TickCount() - resetAtMs_ >= readyDelayMs_;
}

std::uint8_t CiSlot::ReadAttribute(std::uint16_t address) {
  const std::uint8_t value = CardPresent() ? attribute_[address % attribute_.size()] : 0xFF;
  Record(Cycle::kAttributeRead, address, value);
  return value;
}

void CiSlot::WriteAttribute(std::uint16_t address, std::uint8_t value) {
  Record(Cycle::kAttributeWrite, address, value);
  if (!CardPresent()) return;
  // Only the configuration option register is writable in this card's attribute memory.
  if (address == kCorAddress && !corStuck_) attribute_[kCorAddress] = value;
}

std::uint8_t CiSlot::ReadIo(std::uint16_t address) {
  // The module decodes the two low address lines; the adapter places the window.
  const std::uint8_t value =
      CardPresent() && IoEnabled() ? module_->ReadRegister(address & 3) : 0xFF;
  Record(Cycle::kIoRead, address, value);
  return value;
}

void CiSlot::WriteIo(std::uint16_t address, std::uint8_t value) {
  Record(Cycle::kIoWrite, address, value);
  if (CardPresent() && IoEnabled()) module_->WriteRegister(address & 3, value);
}

}  // namespace firmware
