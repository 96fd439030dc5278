// cibridge.dll's SetupAPI/WinUSB back end under Wine, end to end: loader-cli.exe (x86_64) runs
// whole updates against the stand-ins of setupapi.dll and winusb.dll over the emulated adapter.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "wine_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace windows_test;

// A whole update from a cold adapter: cibridge.dll finds it through SetupAPI, downloads the
// adapter program, finds it again after its re-enumeration and sends the whole image.
TEST_F(UnderWine, CibridgeUpdatesAColdAdapterThroughSetupApiAndWinUsb) {
  const auto run = windows_test::RunUnderWine({(bin / "loader-cli.exe").string()}, {"--standins"},
                                              {"MORVANE_STANDIN_EVENTS=1"});
  EXPECT_EQ(run.status, kCliReady) << run.output;
  EXPECT_TRUE(Contains(run.output, "off the bus for re-enumeration")) << run.output;
  EXPECT_TRUE(Contains(run.output, "[stand-in adapter] module: 1532 messages, image intact"))
      << run.output;
  EXPECT_TRUE(Contains(run.output, "Ready\nFortschritt: 100 %\n")) << run.output;
}

// The console's Ctrl-C during an update (SIGINT, which Wine hands to the program's console
// handler): taken before the next message, with the link closed and the stop told; once the
// message that makes the module program itself has gone (it takes 3 s here), the verdict is
// waited for first.
struct CtrlCCase {
  const char* name;
  CtrlC press;
  int status;
  const char* errorText;  // what the console handler answers
  const char* ending;     // the run's last words
};

TEST_F(UnderWine, LoaderCliTakesTheConsolesCtrlCAtASafePoint) {
  constexpr const char* kStopped =
      "[Information] Das Update wurde abgebrochen, bevor das Modul programmiert wurde.";
  const CtrlCCase cases[] = {
      {"while the adapter comes up",
       {"Suche CI Modul...", "loader-cli.exe"},
       kCliStopped,
       "Abbruch angefordert",
       kStopped},
      {"in the preparation",
       {"Vorbereitung...", "loader-cli.exe", 1, 1000},
       kCliStopped,
       "Abbruch angefordert",
       kStopped},
      {"twice",
       {"Vorbereitung...", "loader-cli.exe", 2, 1000},
       kCliStopped,
       "Das Update wird gerade beendet, bitte warten.",
       kStopped},
      {"while the module programs itself",
       {"Modul wird programmiert...", "loader-cli.exe", 1, 200},
       kCliReady,
       "Das Modul programmiert sich gerade",
       "Ready\nFortschritt: 100 %\n"},
  };
  // Under qemu-i386 the 32-bit Wine's Ctrl-C thread does not come to a clean end: the handler
  // answers and the run stops as here, then the emulated process crashes at its exit (status
  // 139) or stays behind as a zombie.
  if (Architecture() == "i686") GTEST_SKIP() << "the console's Ctrl-C is not run under qemu-i386";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto run = RunUnderWine(
        {(bin / "loader-cli.exe").string()}, {"--standins"},
        {"MORVANE_STANDIN_EVENTS=1", "MORVANE_STANDIN_PROGRAMMING_MS=3000"}, "", &c.press);
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_TRUE(Contains(run.output, c.errorText)) << run.output;
    EXPECT_TRUE(Contains(run.output, c.ending)) << run.output;
    EXPECT_EQ(Contains(run.output, "image intact"), c.status == kCliReady) << run.output;
  }
}

// The adapter takes its program and never comes back: the retry dialog, which nobody can answer
// without a terminal, ends the open as cancelled.
TEST_F(UnderWine, CibridgeGivesUpOnAnAdapterThatDoesNotComeBack) {
  const auto run =
      windows_test::RunUnderWine({(bin / "loader-cli.exe").string()}, {"--standins"},
                                 {"MORVANE_STANDIN_EVENTS=1", "MORVANE_STANDIN_NEVER_RETURNS=1"});
  EXPECT_EQ(run.status, kCliNotOpened) << run.output;
  EXPECT_TRUE(Contains(run.output, "off the bus for re-enumeration")) << run.output;
  EXPECT_TRUE(Contains(run.output, kRetryDialog)) << run.output;
  EXPECT_FALSE(Contains(run.output, "Ready")) << run.output;
  EXPECT_FALSE(Contains(run.output, kAdapterNotReady)) << run.output;
}

// The module falls silent at a preparation step's second message: the reply pipe's read ends
// at the 4000 ms time-out the update set through SetTimeout (WinUSB's ERROR_SEM_TIMEOUT), and
// the update ends with its communication error instead of waiting on.
TEST_F(UnderWine, CibridgeEndsAReadAtThePipesTimeOut) {
  const auto run =
      RunUnderWine({(bin / "loader-cli.exe").string()}, {"--standins"},
                   {"MORVANE_STANDIN_EVENTS=1", "MORVANE_STANDIN_MODULE_SILENT_AT=100"});
  EXPECT_EQ(run.status, kCliFailed) << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "pipe 0x88: transfer failed, ERROR_SEM_TIMEOUT after its 4000 "
                       "ms time-out"))
      << run.output;
  EXPECT_TRUE(Contains(run.output,
                       "[Fehler] Es ist ein Fehler während der Kommunikation mit "
                       "dem CI-Modul aufgetreten !"))
      << run.output;
  EXPECT_TRUE(Contains(run.output, "[stand-in adapter] module: 100 messages")) << run.output;
}

// The system has no WinUSB, but a winusb.dll (with a setupapi.dll) lies beside the program: the
// program must not take it for the system's, so it never tries the adapter and goes on to the
// driver. Had it loaded the planted pair, the update would have run through them.
TEST_F(UnderWine, LoaderCliLooksForWinUsbInTheSystemFolderOnly) {
  const fs::path folder = windows_test::WinePrefix() / "drive_c" / "planted";
  fs::remove_all(folder);
  fs::create_directories(folder);
  for (const fs::path& file :
       {bin / "loader-cli.exe", bin / "cibridge.dll", windows_test::StandIns() / "winusb.dll",
        windows_test::StandIns() / "setupapi.dll"}) {
    fs::copy_file(file, folder / file.filename());
  }
  const auto run = windows_test::RunUnderWine(
      {(folder / "loader-cli.exe").string()}, {},
      {"MORVANE_STANDIN_EVENTS=1", "WINEDLLOVERRIDES=setupapi,winusb=n"});
  fs::remove_all(folder);
  EXPECT_EQ(run.status, kCliNotOpened) << run.output;
  EXPECT_TRUE(Contains(run.output, kDeviceMissing)) << run.output;
  EXPECT_FALSE(Contains(run.output, "[stand-in")) << run.output;
}

}  // namespace
