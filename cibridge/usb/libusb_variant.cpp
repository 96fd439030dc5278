// The Linux library's back end: libusb-1.0.
#include "libusb_backend.h"

namespace cibridge {

std::unique_ptr<UsbBackend> CreateUsbBackend() {
  return std::make_unique<LibusbBackend>();
}

}  // namespace cibridge
