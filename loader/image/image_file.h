// Reading and checking an update image file before it is built into the program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "update_sizes.h"

namespace image {

struct ImageFile {
  std::string ImageNote;
  std::string ImageVendor;
  std::string ImageTitle;
  std::int32_t InitDataSize = 0;
  std::int32_t MainDataSize = 0;
  std::vector<std::uint8_t> InitData;
  std::vector<std::uint8_t> MainData;
};

// Raised with a message that names the broken rule.
class ImageError : public std::runtime_error {
 public:
  explicit ImageError(const std::string& what) : std::runtime_error(what) {}
};

// The transfer offset grows in 128-byte steps up to the size rounded up to a whole step; it is
// a signed 32-bit number, so the size may not exceed the last whole step below 2^31.
inline constexpr std::int32_t kLargestMainSize = 0x7FFFFFFF / kStep * kStep;

// Parses the text of an image file; `folder` resolves `file:` areas.
ImageFile ParseImage(const std::string& text, const std::filesystem::path& folder);
ImageFile ReadImage(const std::filesystem::path& path);
// Throws ImageError when the image breaks an invariant the update procedure relies on.
void CheckImage(const ImageFile& image);
// Bytes of the preparation area that the update can reach with this block size.
std::size_t RequiredPreparationBytes(std::int32_t initDataSize);
// Bytes of the main area that the update sends from it.
std::size_t RequiredMainBytes(std::int32_t mainDataSize);
// A deterministic pseudo-random area (xorshift32).
std::vector<std::uint8_t> GeneratedArea(std::size_t length, std::uint32_t seed);

}  // namespace image
