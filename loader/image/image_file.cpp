#include "image_file.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

namespace image {
namespace {

const char* const kKeys[] = {"ImageNote",    "ImageVendor", "ImageTitle", "InitDataSize",
                             "MainDataSize", "InitData",    "MainData"};

std::int32_t ParseSize(const std::string& key, const std::string& value) {
  std::int32_t number = 0;
  const auto* end = value.data() + value.size();
  const auto [rest, error] = std::from_chars(value.data(), end, number);
  if (error != std::errc() || rest != end || value.empty())
    throw ImageError(key + " is not an integer: \"" + value + "\"");
  return number;
}

// The most bytes the update can ever read from an area: the main area's capacity, and the
// preparation bytes of the smallest block size (the one that reaches the most blocks).
std::size_t AreaCapacity(const std::string& key) {
  return key == "MainData" ? static_cast<std::size_t>(kMainCapacity)
                           : RequiredPreparationBytes(kStep);
}

ImageError AreaTooLarge(const std::string& key, std::size_t capacity) {
  return ImageError(key + " holds more than its capacity of " + std::to_string(capacity) +
                    " bytes");
}

// An area's bytes; an area beyond its capacity is refused before it is read or generated, so a
// wrong length or a huge file cannot exhaust the memory of the build.
std::vector<std::uint8_t> ReadArea(const std::string& key, const std::string& value,
                                   const std::filesystem::path& folder) {
  const std::size_t capacity = AreaCapacity(key);
  if (value.rfind("file:", 0) == 0) {
    const auto path = folder / value.substr(5);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ImageError(key + ": cannot read " + path.string());
    std::vector<std::uint8_t> area(capacity + 1);
    in.read(reinterpret_cast<char*>(area.data()), static_cast<std::streamsize>(area.size()));
    if (in.bad()) throw ImageError(key + ": cannot read " + path.string());
    area.resize(static_cast<std::size_t>(in.gcount()));
    if (area.size() > capacity) throw AreaTooLarge(key, capacity);
    return area;
  }
  if (value.rfind("generate:", 0) == 0) {
    const std::string spec = value.substr(9);
    const auto colon = spec.find(':');
    if (colon == std::string::npos)
      throw ImageError(key + ": expected generate:<length>:<seed>, got \"" + value + "\"");
    const auto length = ParseSize(key + " length", spec.substr(0, colon));
    const auto seed = ParseSize(key + " seed", spec.substr(colon + 1));
    if (length < 0) throw ImageError(key + ": negative length");
    if (static_cast<std::size_t>(length) > capacity) throw AreaTooLarge(key, capacity);
    return GeneratedArea(static_cast<std::size_t>(length), static_cast<std::uint32_t>(seed));
  }
  throw ImageError(key + ": expected file:<path> or generate:<length>:<seed>, got \"" + value +
                   "\"");
}

}  // namespace

std::vector<std::uint8_t> GeneratedArea(std::size_t length, std::uint32_t seed) {
  std::vector<std::uint8_t> area(length);
  std::uint32_t state = seed != 0 ? seed : 0x9E3779B9u;
  for (auto& byte : area) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return area;
}

ImageFile ParseImage(const std::string& text, const std::filesystem::path& folder) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos)
      throw ImageError("line " + std::to_string(number) + " is not key=value: \"" + line + "\"");
    const std::string key = line.substr(0, equals);
    if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys))
      throw ImageError("unknown key \"" + key + "\" in line " + std::to_string(number));
    if (!values.emplace(key, line.substr(equals + 1)).second)
      throw ImageError("key \"" + key + "\" appears twice");
  }
  for (const char* key : kKeys)
    if (!values.count(key)) throw ImageError(std::string("key \"") + key + "\" is missing");

  ImageFile image;
  image.ImageNote = values["ImageNote"];
  image.ImageVendor = values["ImageVendor"];
  image.ImageTitle = values["ImageTitle"];
  image.InitDataSize = ParseSize("InitDataSize", values["InitDataSize"]);
  image.MainDataSize = ParseSize("MainDataSize", values["MainDataSize"]);
  image.InitData = ReadArea("InitData", values["InitData"], folder);
  image.MainData = ReadArea("MainData", values["MainData"], folder);
  return image;
}

ImageFile ReadImage(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ImageError("cannot read image file " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return ParseImage(text.str(), path.parent_path());
}

std::size_t RequiredPreparationBytes(std::int32_t initDataSize) {
  if (initDataSize <= 0) return 0;
  // A refused block i moves on to block i + 1 while (i + 1) × size stays below the stride.
  const std::int32_t lastBlock = (kPreparationStride + initDataSize - 1) / initDataSize - 1;
  return static_cast<std::size_t>(lastBlock) * kPreparationStride +
         static_cast<std::size_t>(initDataSize);
}

std::size_t RequiredMainBytes(std::int32_t mainDataSize) {
  if (mainDataSize <= 0) return 0;
  const std::int64_t rounded = (std::int64_t{mainDataSize} + kStep - 1) / kStep * kStep;
  return static_cast<std::size_t>(std::min<std::int64_t>(rounded, kMainCapacity));
}

void CheckImage(const ImageFile& image) {
  if (image.InitDataSize <= 0) throw ImageError("InitDataSize must be positive");
  if (image.InitDataSize % kStep != 0)
    throw ImageError("InitDataSize must be a multiple of " + std::to_string(kStep));
  if (image.InitDataSize > kPreparationStride)
    throw ImageError("InitDataSize must be at most " + std::to_string(kPreparationStride));
  if (image.MainDataSize <= 0) throw ImageError("MainDataSize must be positive");
  if (image.MainDataSize <= kStep)
    throw ImageError(
        "MainDataSize must be more than " + std::to_string(kStep) +
        ": a single chunk would have to be accepted both as a chunk and as the integrity test");
  if (image.MainDataSize > kLargestMainSize)
    throw ImageError("MainDataSize must be at most " + std::to_string(kLargestMainSize) +
                     ": the transfer offset would pass the signed 32-bit range");
  const auto preparation = RequiredPreparationBytes(image.InitDataSize);
  if (image.InitData.size() < preparation)
    throw ImageError("InitData holds " + std::to_string(image.InitData.size()) +
                     " bytes but the update can read " + std::to_string(preparation));
  if (image.MainData.size() > static_cast<std::size_t>(kMainCapacity))
    throw ImageError("MainData holds " + std::to_string(image.MainData.size()) +
                     " bytes, more than its capacity of " + std::to_string(kMainCapacity));
  const auto main = RequiredMainBytes(image.MainDataSize);
  if (image.MainData.size() < main)
    throw ImageError("MainData holds " + std::to_string(image.MainData.size()) +
                     " bytes but the update sends " + std::to_string(main));
}

}  // namespace image
