// The image file reader of the build tool: any text, parsed and checked. It either throws
// ImageError or yields an image that the checks accept and whose areas hold what the update reads.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // `file:` areas resolve in an empty folder: the reader is fuzzed, not the file system.
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() / "morvane-fuzz-image";
    std::filesystem::create_directories(path);
    return path;
  }();
  try {
    const image::ImageFile file =
        image::ParseImage(std::string(reinterpret_cast<const char*>(data), size), folder);
    image::CheckImage(file);
    if (file.InitData.size() < image::RequiredPreparationBytes(file.InitDataSize)) std::abort();
    if (file.MainData.size() < image::RequiredMainBytes(file.MainDataSize)) std::abort();
  } catch (const image::ImageError&) {
  }
  return 0;
}
