// The adapter's 8051 program image carried inside the library.
#pragma once

#include <cstddef>

namespace cibridge {

// Bytes of program; code memory above it is filled with 0xFF when downloading.
inline constexpr std::size_t kAdapterProgramSize = 7312;
// Offset of the vendor/product ID marker inside the program's USB device descriptor.
inline constexpr std::size_t kAdapterIdMarkerOffset = 0x108;

extern const unsigned char kAdapterProgram[kAdapterProgramSize];

}  // namespace cibridge
