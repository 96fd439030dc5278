// Direct port I/O on Windows: the in and out instructions themselves. Windows grants no I/O
// privilege to a program, unless a driver or an older system has opened the ports to it, so a
// refused access does not return an error: the processor faults and the program receives a
// privileged-instruction exception.
//
// A vectored exception handler (AddVectoredExceptionHandler) turns that fault into
// PortAccessDenied. It is called first for every exception in the process and acts only when
// all of these hold:
//   - the exception is a privileged instruction (or an access violation or an illegal
//     instruction, which some systems and emulators report for the same fault: the 32-bit
//     program under an emulated Wine gets the latter; the port instructions touch no memory and
//     are valid everywhere, so nothing else can cause these there);
//   - the faulting instruction is the one-byte "in al, dx" (0xEC) or "out dx, al" (0xEE);
//   - ECX holds kPortMarker, which the wrappers below load just before their instruction.
// It then clears ECX, the sign of the refusal, and moves the instruction pointer past the
// instruction, so the wrapper goes on as if the access had happened, sees ECX cleared and throws
// PortAccessDenied itself. Every other exception goes on to the process's other handlers
// untouched. The marker travels in the faulting thread's own registers, so the handler needs
// no memory of its own and any number of threads may use the ports.
#include <windows.h>

#include "port_io.h"

namespace platform {
namespace {

constexpr unsigned char kInByte = 0xEC;   // in al, dx
constexpr unsigned char kOutByte = 0xEE;  // out dx, al
constexpr std::uint32_t kPortMarker = 0x504F5254;
constexpr std::uint32_t kRefused = 0;

LONG CALLBACK SkipRefusedPortInstruction(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION &&
      code != EXCEPTION_ILLEGAL_INSTRUCTION)
    return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT& context = *exception->ContextRecord;
#if defined(__x86_64__) || defined(_M_X64)
  DWORD64& marker = context.Rcx;
  DWORD64& instructionPointer = context.Rip;
#else
  DWORD& marker = context.Ecx;
  DWORD& instructionPointer = context.Eip;
#endif
  if ((marker & 0xFFFFFFFFu) != kPortMarker) return EXCEPTION_CONTINUE_SEARCH;
  const auto* instruction =
      static_cast<const unsigned char*>(exception->ExceptionRecord->ExceptionAddress);
  if (instruction == nullptr || (*instruction != kInByte && *instruction != kOutByte))
    return EXCEPTION_CONTINUE_SEARCH;
  marker = kRefused;
  instructionPointer += 1;
  return EXCEPTION_CONTINUE_EXECUTION;
}

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
    std::uint32_t marker = kPortMarker;
    // The port in DX, so that the instruction is the one-byte form the handler skips.
    __asm__ __volatile__("inb %w2, %b0" : "+a"(value), "+c"(marker) : "d"(port));
    if (marker != kPortMarker) Refuse("in", port);
    return value;
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    std::uint32_t marker = kPortMarker;
    __asm__ __volatile__("outb %b1, %w2" : "+c"(marker) : "a"(value), "d"(port));
    if (marker != kPortMarker) Refuse("out", port);
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
