// The library's entry point: the device object is created when the library is attached to a
// process. Compiled into each shared-library variant, not into the core, so tests that link the
// core install their own device object instead.
#include "device_object.h"

#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) cibridge::AttachProcess();
  return TRUE;  // other notifications do nothing; the entry point always reports success
}
#else
namespace {
__attribute__((constructor)) void OnProcessAttach() {
  cibridge::AttachProcess();
}
}  // namespace
#endif
