// Calls into code the program does not trust (the adapter library) made so that a processor
// fault or an abort inside them ends the call instead of the program.
//
// GuardedCall runs a function and returns false when it was cut off by a fault: on Linux one of
// SIGSEGV, SIGBUS, SIGILL, SIGFPE or SIGABRT raised while the call ran, on Windows an access
// violation, an illegal or privileged instruction, a division by zero, a stack overflow, a page
// that could not be read in, or an abort. Outside a guarded call these keep their usual effect.
// A C++ exception passes through unchanged. Code cut off by a fault does not finish: whatever
// it had begun (locks, allocations) stays as it was, so the caller must not call into it again.
//
// FencedBuffer is memory whose last byte is followed by a page that cannot be touched, so a
// callee that writes past the end faults at once, inside its guarded call, instead of
// overwriting the caller's memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using GuardedBody = void (*)(void* context);
bool GuardedCall(GuardedBody body, void* context);

template <typename Body>
bool GuardedCall(Body& body) {
  return GuardedCall([](void* context) { (*static_cast<Body*>(context))(); }, &body);
}

class FencedBuffer {
 public:
  explicit FencedBuffer(std::size_t size);
  ~FencedBuffer();
  FencedBuffer(const FencedBuffer&) = delete;
  FencedBuffer& operator=(const FencedBuffer&) = delete;

  // nullptr when the system gave no memory.
  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
