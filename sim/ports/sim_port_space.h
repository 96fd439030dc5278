// An I/O port space with an ISA PCMCIA adapter at one base: four ports that reach a simulated
// CI module, or fixed values standing for other hardware. Empty ports read 0xFF, as an idle
// ISA bus does.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "ci_module.h"
#include "port_io.h"

namespace sim {

struct PortAccess {
  bool write;
  std::uint16_t port;
  std::uint8_t value;
  bool operator==(const PortAccess&) const = default;
};

class SimPortSpace final : public platform::PortIo {
 public:
  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;

  // Puts the module's four registers at `base`.
  void AttachModule(CiModule* module, std::uint16_t base);
  // Models the SCM ISA swapbox: a write to base+3 latches the low nibble of the next data byte,
  // which the following write to base+0 completes with its high nibble.
  void SetSwapboxAdapter(bool swapbox) { swapbox_ = swapbox; }
  // A port that always reads `value` (other hardware on the bus).
  void SetFixedPort(std::uint16_t port, std::uint8_t value) { fixed_[port] = value; }
  // Every access from now on raises PortAccessDenied, as a process without I/O privilege sees.
  void DenyAccess(bool deny) { deny_ = deny; }

  const std::vector<PortAccess>& Log() const { return log_; }
  void SetLogging(bool logging) { logging_ = logging; }

 private:
  std::optional<int> ModuleOffset(std::uint16_t port) const;

  CiModule* module_ = nullptr;
  std::uint16_t base_ = 0;
  bool swapbox_ = false;
  std::uint8_t nibble_ = 0;
  bool deny_ = false;
  bool logging_ = true;
  std::map<std::uint16_t, std::uint8_t> fixed_;
  std::vector<PortAccess> log_;
};

}  // namespace sim
