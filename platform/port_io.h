// Byte-wide processor port input and output.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

// Raised by a port access that the operating system withholds from the program.
class PortAccessDenied : public std::runtime_error {
 public:
  explicit PortAccessDenied(const std::string& what) : std::runtime_error(what) {}
};

class PortIo {
 public:
  virtual ~PortIo() = default;
  // One bus access each, no buffering. Both may raise PortAccessDenied.
  virtual std::uint8_t In(std::uint16_t port) = 0;
  virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
};

// Direct port instructions of this machine.
PortIo& SystemPorts();

}  // namespace platform
