// The library's entry point: the device object is created when the library is attached to a
// process. Compiled into each shared-library variant, not into the core, so tests that link the
// core install their own device object instead.
#include "device_object.h"

namespace {

void AttachProcess() noexcept {
  std::unique_ptr<cibridge::UsbBackend> usb;
  try {
    usb = cibridge::CreateUsbBackend();
  } catch (...) {
    return;  // no device object: every export reports its failure value
  }
  cibridge::CreateDeviceObject(std::move(usb), platform::SystemClock());
}

}  // namespace

#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) AttachProcess();
  return TRUE;  // other notifications do nothing; the entry point always reports success
}
#else
__attribute__((constructor)) static void OnProcessAttach() {
  AttachProcess();
}
#endif
