// Names that differ between the platforms the updater runs on.
#pragma once

namespace platform {

#ifdef _WIN32
// The platform's USB runtime; loadable exactly when WinUSB is installed.
inline constexpr const char* kUsbRuntimeLibrary = "winusb.dll";
// The adapter library, loaded from the program's own folder.
inline constexpr const char* kAdapterLibraryFile = "cibridge.dll";
#else
inline constexpr const char* kUsbRuntimeLibrary = "libusb-1.0.so.0";
inline constexpr const char* kAdapterLibraryFile = "libcibridge.so";
#endif

// The register driver's device.
inline constexpr const char* kDriverDevicePath = "\\\\.\\DOV_IDDev";

}  // namespace platform
