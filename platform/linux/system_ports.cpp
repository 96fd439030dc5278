// Direct port I/O on Linux: the program asks the kernel for each port with ioperm (iopl for
// ports above 0x3FF) before its first access. A refusal raises PortAccessDenied, which the
// access layer turns into "IO-Zugriff verweigert".
#include <sys/io.h>

#include <bitset>
#include <cerrno>
#include <cstring>

#include "port_io.h"

namespace platform {
namespace {

class LinuxPorts final : public PortIo {
 public:
  std::uint8_t In(std::uint16_t port) override {
    Grant(port);
    return inb(port);
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    Grant(port);
    outb(value, port);
  }

 private:
  static constexpr unsigned kIopermPorts = 0x400;

  void Grant(std::uint16_t port) {
    if (port < kIopermPorts) {
      if (granted_.test(port)) return;
      if (ioperm(port, 1, 1) != 0) Refuse("ioperm", port);
      granted_.set(port);
      return;
    }
    if (allPorts_) return;
    if (iopl(3) != 0) Refuse("iopl", port);
    allPorts_ = true;
  }

  [[noreturn]] static void Refuse(const char* call, std::uint16_t port) {
    throw PortAccessDenied(std::string(call) + " refused port " + std::to_string(port) + ": " +
                           std::strerror(errno));
  }

  std::bitset<kIopermPorts> granted_;
  bool allPorts_ = false;
};

}  // namespace

PortIo& SystemPorts() {
  static LinuxPorts ports;
  return ports;
}

}  // namespace platform
