// Direct port I/O on Windows: the in and out instructions themselves. Windows grants no I/O
// privilege to a program, unless a driver or an older system has opened the ports to it, so a
// refused access does not return an error: the processor faults and the program receives a
// privileged-instruction exception.
//
// A vectored exception handler (AddVectoredExceptionHandler) turns that fault into
// PortAccessDenied. It is called first for every exception in the process and acts only when
// all of these hold:
//   - the exception is a privileged instruction (or an access violation, which some systems
//     report for the same fault; the port instructions touch no memory, so nothing else can
//     cause it there);
//   - this thread is inside one of the two wrappers below (`tPortAccess` is set);
//   - the faulting instruction is the one-byte "in al, dx" (0xEC) or "out dx, al" (0xEE).
// It then marks the refusal and moves the instruction pointer past the instruction, so the
// wrapper continues as if the access had happened and throws PortAccessDenied itself. Every
// other exception goes on to the process's other handlers untouched.
#include <windows.h>

#include "port_io.h"

namespace platform {
namespace {

constexpr unsigned char kInByte = 0xEC;   // in al, dx
constexpr unsigned char kOutByte = 0xEE;  // out dx, al

// Set while this thread executes a port instruction, and whether the system refused it.
thread_local volatile bool tPortAccess = false;
thread_local volatile bool tRefused = false;

LONG CALLBACK SkipRefusedPortInstruction(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (!tPortAccess || (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION))
    return EXCEPTION_CONTINUE_SEARCH;
  const auto* instruction =
      static_cast<const unsigned char*>(exception->ExceptionRecord->ExceptionAddress);
  if (instruction == nullptr || (*instruction != kInByte && *instruction != kOutByte))
    return EXCEPTION_CONTINUE_SEARCH;
  tRefused = true;
#if defined(__x86_64__) || defined(_M_X64)
  exception->ContextRecord->Rip += 1;
#else
  exception->ContextRecord->Eip += 1;
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Marks this thread inside a port instruction for as long as it lives.
class PortAccess {
 public:
  PortAccess() {
    tRefused = false;
    tPortAccess = true;
  }
  ~PortAccess() { tPortAccess = false; }
  PortAccess(const PortAccess&) = delete;
  PortAccess& operator=(const PortAccess&) = delete;
};

class WindowsPorts final : public PortIo {
 public:
  WindowsPorts() { handler_ = ::AddVectoredExceptionHandler(1, SkipRefusedPortInstruction); }
  ~WindowsPorts() override {
    if (handler_ != nullptr) ::RemoveVectoredExceptionHandler(handler_);
  }
  WindowsPorts(const WindowsPorts&) = delete;
  WindowsPorts& operator=(const WindowsPorts&) = delete;

  std::uint8_t In(std::uint16_t port) override {
    std::uint8_t value = 0xFF;
    {
      PortAccess access;
      // The port in DX, so that the instruction is the one-byte form the handler skips.
      __asm__ __volatile__("inb %w1, %b0" : "+a"(value) : "d"(port) : "memory");
    }
    if (tRefused) Refuse("in", port);
    return value;
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    {
      PortAccess access;
      __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "d"(port) : "memory");
    }
    if (tRefused) Refuse("out", port);
  }

 private:
  [[noreturn]] static void Refuse(const char* instruction, std::uint16_t port) {
    throw PortAccessDenied(std::string(instruction) + " refused at port " + std::to_string(port) +
                           ": the program has no I/O privilege");
  }

  PVOID handler_ = nullptr;
};

}  // namespace

PortIo& SystemPorts() {
  static WindowsPorts ports;
  return ports;
}

}  // namespace platform
