// The settings file reader: "Morvane.ini" with any content. The four transport settings and
// the window position are read from it; any other section and key may be asked for. Where the
// input asks for it, they are written back and must read back unchanged (every write rewrites
// the file, so the round trip is most of a run's time).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "link_rig.h"
#include "settings.h"

namespace {

struct LinkSettings {
  std::uint16_t ioBase;
  bool autoProbe, swapbox, useDriver;
  bool operator==(const LinkSettings&) const = default;
};

LinkSettings Load(ModuleLink& link, platform::PrivateProfile& profile) {
  link.IOBaseSetting = 0x5555;
  link.AutoProbe = link.SwapboxMode = link.UseDriver = false;
  LoadLinkSettings(link, profile);
  return {link.IOBaseSetting, link.AutoProbe, link.SwapboxMode, link.UseDriver};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // In memory where there is a memory file system: every write of the profile syncs the file.
  static const std::string path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  std::string("/morvane-fuzz-") + std::to_string(getpid()) + ".ini";
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(24);
  const std::string key = input.ConsumeRandomLengthString(24);
  const auto bufferSize = input.ConsumeIntegralInRange<std::size_t>(0, 1100);
  const bool roundTrip = input.ConsumeBool();
  const std::string content = input.ConsumeRemainingBytesAsString();
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;

  const auto profile = platform::ProfileAtPath(path);
  const std::string value = profile->ReadString(section, key, "default", bufferSize);
  if (bufferSize > 0 && value.size() >= bufferSize) std::abort();
  (void)ParseSettingsInteger(value, 7);

  static test::LinkRig rig;
  ModuleLink& link = rig.Link();
  const LinkSettings loaded = Load(link, *profile);
  const WindowPosition position = LoadWindowPosition(*profile, {12, 34});

  if (roundTrip && SaveSettings(*profile, position, link)) {
    if (Load(link, *profile) != loaded) std::abort();
    if (LoadWindowPosition(*profile, {56, 78}) != position) std::abort();
  }
  std::remove(path.c_str());
  return 0;
}
