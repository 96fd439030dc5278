// Guarded calls on Windows. A vectored exception handler, like the one that turns a refused
// port instruction into PortAccessDenied, sees a processor fault before any handler of the
// faulting code. While a guarded call runs in the thread, it takes the faults listed below and
// lets the thread go on at a small routine on a stretch of stack the guarded call set aside
// before it called (so a call that overflowed its stack still has room to leave); that routine
// jumps back to the recovery point. An abort of the C runtime raises SIGABRT first, whose
// handler jumps back the same way. Every other exception (a C++ exception among them) goes on
// to the process's other handlers untouched.
#include <malloc.h>
#include <windows.h>

#include <csignal>
#include <cstring>

#include "fault_guard.h"

namespace platform {
namespace {

constexpr std::size_t kResumeStackSize = 2048;

struct GuardState {
  void* recovery[5] = {};  // the recovery point (__builtin_setjmp)
  char* resumeStack = nullptr;
  bool active = false;
  DWORD code = 0;
};
thread_local GuardState t_guard;

GuardState& Guard() {
  return t_guard;
}

[[noreturn]] void ReturnToRecoveryPoint() {
  __builtin_longjmp(Guard().recovery, 1);
}

bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_STACK_CHECK:
      return true;
    default:
      return false;
  }
}

LONG CALLBACK CutOffFaultingCall(EXCEPTION_POINTERS* exception) {
  GuardState& guard = Guard();
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (!guard.active || !IsFault(code)) return EXCEPTION_CONTINUE_SEARCH;
  guard.active = false;
  guard.code = code;
  // Aligned as a routine's stack is just after its call.
  auto stack = reinterpret_cast<std::uintptr_t>(guard.resumeStack);
  stack = (stack & ~std::uintptr_t{15}) - sizeof(void*);
  CONTEXT& context = *exception->ContextRecord;
#if defined(__x86_64__) || defined(_M_X64)
  context.Rsp = stack;
  context.Rip = reinterpret_cast<DWORD64>(&ReturnToRecoveryPoint);
#else
  context.Esp = static_cast<DWORD>(stack);
  context.Eip = reinterpret_cast<DWORD>(&ReturnToRecoveryPoint);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

void CutOffAbortingCall(int) {
  GuardState& guard = Guard();
  if (!guard.active) {
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
    return;
  }
  guard.active = false;
  ReturnToRecoveryPoint();
}

void InstallHandlerOnce() {
  static const PVOID handler = ::AddVectoredExceptionHandler(0, CutOffFaultingCall);
  (void)handler;
}

// Nothing with a destructor lives here: the jump back skips nothing that must be undone.
__attribute__((noinline)) bool RunWithRecoveryPoint(GuardedBody body, void* context) {
  GuardState& guard = Guard();
  // Stack set aside above everything the call will use, touched so that it is committed.
  auto* resume = static_cast<char*>(alloca(kResumeStackSize));
  std::memset(resume, 0, kResumeStackSize);
  guard.resumeStack = resume + kResumeStackSize;
  if (__builtin_setjmp(guard.recovery) != 0) return false;
  guard.active = true;
  try {
    body(context);
  } catch (...) {
    Guard().active = false;
    throw;
  }
  Guard().active = false;
  return true;
}

}  // namespace

bool GuardedCall(GuardedBody body, void* context) {
  if (Guard().active) {
    // Already inside a guarded call: the outer recovery point covers this one too.
    body(context);
    return true;
  }
  InstallHandlerOnce();
  const auto previousAbort = std::signal(SIGABRT, CutOffAbortingCall);
  Guard().code = 0;
  const bool finished = RunWithRecoveryPoint(body, context);
  std::signal(SIGABRT, previousAbort == SIG_ERR ? SIG_DFL : previousAbort);
  // The overflow used up the stack's guard page; without a new one the next overflow could not
  // be noticed.
  if (!finished && Guard().code == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
  return finished;
}

FencedBuffer::FencedBuffer(std::size_t size) {
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  const std::size_t page = system.dwPageSize;
  const std::size_t usable = (size + page - 1) / page * page;
  mappingSize_ = usable + page;
  void* mapping = ::VirtualAlloc(nullptr, mappingSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (mapping == nullptr) return;
  auto* bytes = static_cast<std::uint8_t*>(mapping);
  DWORD old = 0;
  if (!::VirtualProtect(bytes + usable, page, PAGE_NOACCESS, &old)) {
    ::VirtualFree(mapping, 0, MEM_RELEASE);
    return;
  }
  mapping_ = mapping;
  size_ = size;
  data_ = bytes + usable - size;
}

FencedBuffer::~FencedBuffer() {
  if (mapping_ != nullptr) ::VirtualFree(mapping_, 0, MEM_RELEASE);
}

}  // namespace platform
