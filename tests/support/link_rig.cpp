#include "link_rig.h"

#include <cstring>

#include "image_file.h"

namespace test {

platform::DeviceHandle RecordingDevices::Open(const std::string& path) {
  opened.push_back(path);
  for (const auto& candidate : openable)
    if (candidate == path) return 7;
  return platform::kInvalidDeviceHandle;
}

bool RecordingDevices::Control(platform::DeviceHandle, std::uint32_t code, const void* input,
                               std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                               std::uint32_t* bytesReturned) {
  const auto* bytes = static_cast<const std::uint8_t*>(input);
  requests.push_back({code, std::vector<std::uint8_t>(bytes, bytes + inputSize), outputSize});
  if (failRequests) return false;
  if (output != nullptr && outputSize > 0) {
    std::memset(output, 0, outputSize);
    static_cast<std::uint8_t*>(output)[0] = readValue;
  }
  if (bytesReturned != nullptr) *bytesReturned = output != nullptr ? 1 : 0;
  return true;
}

TestImage TestImage::Generated(std::int32_t initSize, std::size_t initLength, std::int32_t mainSize,
                               std::size_t mainLength) {
  return {image::GeneratedArea(initLength, 11), image::GeneratedArea(mainLength, 12), initSize,
          mainSize};
}

LinkRig::LinkRig(const UpdateImage& updateImage) : image(updateImage) {
  host = std::make_unique<sim::SimHost>(clock, [this] { link->TimeoutTick(); });
  module = std::make_unique<sim::CiModule>(
      clock,
      sim::ModuleImage::FromUpdate(image.InitData, image.InitDataLength, image.InitDataSize,
                                   image.MainData, image.MainDataLength, image.MainDataSize));
  ports.AttachModule(module.get(), 0x320);
  ports.SetLogging(false);
  link = std::make_unique<ModuleLink>(LinkServices{clock, ports, devices, libraries, *host});
  link->AutoProbe = true;
  link->IOBaseSetting = 0x320;
}

UpdateOutcome LinkRig::RunUpdate() {
  UpdateProcedure procedure(*link, view, *host, image);
  return procedure.Run();
}

int LinkRig::Closes() const {
  // With no adapter library, ModuleClose's 1.5 s pause is the only pause of a run.
  int closes = 0;
  for (auto pause : clock.Sleeps()) closes += pause == 1500 ? 1 : 0;
  return closes;
}

}  // namespace test
