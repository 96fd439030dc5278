// Guarded calls on Linux: the fault signals are caught for the duration of the call only, on a
// stack of their own (a call that overflows its stack leaves none to run a handler on), and the
// handler jumps back to the recovery point set before the call, restoring the signal mask.
#include "fault_guard.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <memory>

namespace platform {
namespace {

constexpr std::array<int, 5> kFaultSignals = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kSignalStackSize = 64 * 1024;

thread_local sigjmp_buf* t_recovery = nullptr;

void ReturnToRecoveryPoint(int signal, siginfo_t*, void*) {
  sigjmp_buf* recovery = t_recovery;
  if (recovery == nullptr) {
    // Not inside a guarded call of this thread: the signal has its usual effect.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  t_recovery = nullptr;
  siglongjmp(*recovery, signal);
}

// The handlers and the signal stack in place while a call runs; the previous ones come back
// when it has ended, whichever way.
class FaultHandlers {
 public:
  FaultHandlers() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
      static thread_local std::unique_ptr<char[]> stack(new char[kSignalStackSize]);
      stack_t own{};
      own.ss_sp = stack.get();
      own.ss_size = kSignalStackSize;
      ownStack_ = ::sigaltstack(&own, &previousStack_) == 0;
    }
    struct sigaction action {};
    action.sa_sigaction = ReturnToRecoveryPoint;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kFaultSignals.size(); ++i)
      ::sigaction(kFaultSignals[i], &action, &previous_[i]);
  }
  ~FaultHandlers() {
    for (std::size_t i = 0; i < kFaultSignals.size(); ++i)
      ::sigaction(kFaultSignals[i], &previous_[i], nullptr);
    if (ownStack_) ::sigaltstack(&previousStack_, nullptr);
  }
  FaultHandlers(const FaultHandlers&) = delete;
  FaultHandlers& operator=(const FaultHandlers&) = delete;

 private:
  std::array<struct sigaction, kFaultSignals.size()> previous_{};
  stack_t previousStack_{};
  bool ownStack_ = false;
};

// Only objects without destructors live here: the jump back from the handler skips nothing
// that has to be undone.
bool RunWithRecoveryPoint(GuardedBody body, void* context) {
  sigjmp_buf recovery;
  if (sigsetjmp(recovery, 1) != 0) return false;  // the handler has cleared t_recovery
  t_recovery = &recovery;
  try {
    body(context);
  } catch (...) {
    t_recovery = nullptr;
    throw;
  }
  t_recovery = nullptr;
  return true;
}

}  // namespace

bool GuardedCall(GuardedBody body, void* context) {
  if (t_recovery != nullptr) {
    // Already inside a guarded call: the outer recovery point covers this one too.
    body(context);
    return true;
  }
  FaultHandlers handlers;
  return RunWithRecoveryPoint(body, context);
}

FencedBuffer::FencedBuffer(std::size_t size) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t usable = (size + page - 1) / page * page;
  mappingSize_ = usable + page;
  void* mapping =
      ::mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return;
  auto* bytes = static_cast<std::uint8_t*>(mapping);
  if (::mprotect(bytes + usable, page, PROT_NONE) != 0) {
    ::munmap(mapping, mappingSize_);
    return;
  }
  mapping_ = mapping;
  size_ = size;
  data_ = bytes + usable - size;
}

FencedBuffer::~FencedBuffer() {
  if (mapping_ != nullptr) ::munmap(mapping_, mappingSize_);
}

}  // namespace platform
