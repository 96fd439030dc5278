// The sizes of the update dialogue that the image tool checks an image against and the update
// procedure sends by: the preparation area is read in blocks of 8320 bytes, the main area holds
// at most 179328 bytes and goes to the module in chunks of 128.
#pragma once

#include <cstdint>

namespace image {

// Distance between the preparation blocks in InitData.
inline constexpr std::int32_t kPreparationStride = 8320;
// Bytes of MainData that the module can store.
inline constexpr std::int32_t kMainCapacity = 179328;
// One chunk of the main area, and the step of the preparation block size.
inline constexpr std::int32_t kStep = 128;

}  // namespace image
