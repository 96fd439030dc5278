// loader-cli.exe (x86_64) under Wine on the system's own DLLs: the driver transport's missing
// device, the refused port access, and its settings read by the real private-profile functions
// from "Morvane.ini" in the Windows folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "wine_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace windows_test;

struct SettingsCase {
  const char* name;
  std::optional<const char*> file;  // "Morvane.ini" in Wine's Windows folder, or none
  const char* message;              // the line the run ends with
};

// loader-cli.exe beside its cibridge.dll, on Wine's own SetupAPI and WinUSB: no adapter is
// found, so the settings decide between the driver (no cicard device under Wine) and the ports
// (the processor refuses them to a program). "UseDevice" is read as an integer like every key.
TEST_F(UnderWine, LoaderCliTakesItsTransportFromTheSettingsFile) {
  const SettingsCase cases[] = {
      {"no file: the driver", std::nullopt, kDeviceMissing},
      {"ports", "[Options]\nUseDevice=0\n", kPortRefused},
      {"ports at a fixed base", "[Options]\nUseDevice=0\nIO_Auto=0\nIO_Base=0x340\n", kPortRefused},
      {"0x hexadecimal", "[Options]\nUseDevice=0x0\nIO_Base=$340\n", kPortRefused},
      {"$ hexadecimal", "[Options]\nUseDevice=$0\n", kPortRefused},
      {"0x alone is no number", "[Options]\nUseDevice=0x\n", kDeviceMissing},
      {"garbage gives the default", "[Options]\nUseDevice=nein\n", kDeviceMissing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(settings);
    if (c.file) WriteSettings(*c.file);
    const auto run = windows_test::RunUnderWine({(bin / "loader-cli.exe").string()});
    EXPECT_EQ(run.status, kCliNotOpened) << run.output;
    EXPECT_TRUE(Contains(run.output, c.message)) << run.output;
    EXPECT_TRUE(Contains(run.output, "Suche CI Modul...")) << run.output;
  }
}

}  // namespace
