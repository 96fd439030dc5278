#include "loader_cli.h"

#include <memory>

#include "Datas.h"
#include "Update.h"
#include "build_settings.h"
#include "pcmcia.h"
#include "settings.h"

namespace {

constexpr const char* kUsage =
    "Aufruf: loader-cli [--help | --version]\n"
    "\n"
    "Aktualisiert die Software eines Morvane CI-Moduls mit dem eingebauten Update.\n"
    "Die Verbindung zum Modul (USB-CI Adapter, Gerätetreiber oder PCMCIA IO-Adresse)\n"
    "kommt aus den Einstellungen der Datei \"Morvane.ini\", wie im Fensterprogramm loader.\n"
    "\n"
    "Rückgabewerte:\n"
    "  0   Update erfolgreich (\"Ready\")\n"
    "  1   keine Verbindung zum Modul (auch: Adapter-Dialog abgebrochen)\n"
    "  2   Update vom Modul abgelehnt oder fehlgeschlagen\n"
    "  3   die Software im Modul war bereits identisch\n"
    "  64  falscher Aufruf\n";

int StatusOf(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::kReady:
      return kCliReady;
    case UpdateOutcome::kNotOpened:
    case UpdateOutcome::kCancelled:
      return kCliNotOpened;
    case UpdateOutcome::kAlreadyCurrent:
      return kCliAlreadyCurrent;
    case UpdateOutcome::kFailed:
      break;
  }
  return kCliFailed;
}

}  // namespace

int RunLoaderCli(const std::vector<std::string>& arguments, const TerminalStreams& streams,
                 const CliHardware& hardware, platform::PrivateProfile& settings) {
  const auto header =
      MainWindowHeader(ImageTitle, ImageVendor, ImageNote, PublicBuild, "Morvane Update");
  for (const auto& argument : arguments) {
    if (argument == "--help") {
      std::fputs(kUsage, streams.out);
      return kCliReady;
    }
    if (argument == "--version") {
      std::fprintf(streams.out, "loader-cli %s, Update %s\n", kProgramVersion,
                   header.title.c_str());
      return kCliReady;
    }
    std::fprintf(streams.out, "Unbekannte Angabe: %s\n\n%s", argument.c_str(), kUsage);
    return kCliUsage;
  }

  std::unique_ptr<ModuleLink> link;
  TerminalHost host(streams, hardware.clock, [&link] { link->TimeoutTick(); });
  link = std::make_unique<ModuleLink>(
      LinkServices{hardware.clock, hardware.ports, hardware.devices, hardware.libraries, host});
  link->IOBase = 800;
  LoadLinkSettings(*link, settings);

  std::fprintf(streams.out, "%s\n", header.title.c_str());
  if (header.cornerVisible) std::fprintf(streams.out, "%s\n", header.cornerLabel.c_str());
  std::fflush(streams.out);

  UpdateOutcome outcome;
  {
    TerminalView view(streams);
    UpdateProcedure procedure(*link, view, host, BuiltInImage());
    outcome = procedure.Run();
  }
  link->AnswerText.clear();
  return StatusOf(outcome);
}
