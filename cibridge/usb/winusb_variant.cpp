// The Windows library's back end: SetupAPI and WinUSB.
#include "winusb_backend.h"

namespace cibridge {

std::unique_ptr<UsbBackend> CreateUsbBackend() {
  return std::make_unique<WinUsbBackend>();
}

}  // namespace cibridge
