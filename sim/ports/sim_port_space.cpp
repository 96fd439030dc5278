#include "sim_port_space.h"

#include <string>

namespace sim {

void SimPortSpace::AttachModule(CiModule* module, std::uint16_t base) {
  module_ = module;
  base_ = base;
}

std::optional<int> SimPortSpace::ModuleOffset(std::uint16_t port) const {
  if (module_ == nullptr || port < base_ || port > base_ + 3) return std::nullopt;
  return port - base_;
}

std::uint8_t SimPortSpace::In(std::uint16_t port) {
  if (deny_) throw platform::PortAccessDenied("port " + std::to_string(port) + " denied");
  std::uint8_t value = 0xFF;
  if (auto it = fixed_.find(port); it != fixed_.end()) {
    value = it->second;
  } else if (auto offset = ModuleOffset(port)) {
    value = module_->ReadRegister(*offset);
  }
  if (logging_) log_.push_back({false, port, value});
  return value;
}

void SimPortSpace::Out(std::uint16_t port, std::uint8_t value) {
  if (deny_) throw platform::PortAccessDenied("port " + std::to_string(port) + " denied");
  if (logging_) log_.push_back({true, port, value});
  const auto offset = ModuleOffset(port);
  if (!offset) return;
  if (swapbox_ && *offset == 3) {
    nibble_ = value & 0x0F;
    return;
  }
  if (swapbox_ && *offset == 0) {
    module_->WriteRegister(0, static_cast<std::uint8_t>((value & 0xF0) | nibble_));
    nibble_ = 0;
    return;
  }
  module_->WriteRegister(*offset, value);
}

}  // namespace sim
