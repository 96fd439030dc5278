#include "loader_cli.h"

#include <cstdio>
#include <memory>

#include "Datas.h"
#include "Update.h"
#include "build_settings.h"
#include "json_report.h"
#include "pcmcia.h"
#include "settings.h"
#include "stop_requests.h"

namespace {

constexpr const char* kUsage =
    "Aufruf: loader-cli [--json] | --help | --version\n"
    "\n"
    "Aktualisiert die Software eines Morvane CI-Moduls mit dem eingebauten Update.\n"
    "Die Verbindung zum Modul (USB-CI Adapter, Gerätetreiber oder PCMCIA IO-Adresse)\n"
    "kommt aus den Einstellungen der Datei \"Morvane.ini\", wie im Fensterprogramm loader.\n"
    "\n"
    "  --json     jeder Schritt als ein JSON-Objekt in einer eigenen Zeile\n"
    "  --help     diese Hilfe\n"
    "  --version  Programmversion und Update\n"
    "\n"
    "Rückgabewerte:\n"
    "  0   Update erfolgreich (\"Ready\")\n"
    "  1   keine Verbindung zum Modul (auch: Adapter-Dialog abgebrochen)\n"
    "  2   Update vom Modul abgelehnt oder fehlgeschlagen\n"
    "  3   die Software im Modul war bereits identisch\n"
    "  5   abgebrochen (Strg-C, SIGTERM, SIGHUP), bevor das Modul programmiert wurde\n"
    "  6   Update beendet, aber die Ausgabe ging verloren (Ergebnis auf der Fehlerausgabe)\n"
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
    case UpdateOutcome::kStopped:
      return kCliStopped;
    case UpdateOutcome::kFailed:
      break;
  }
  return kCliFailed;
}

struct Ending {
  std::string result;  // as the last JSON line names it
  int status;
};

Ending RunOnce(const std::vector<std::string>& arguments, const TerminalStreams& streams,
               const CliHardware& hardware, platform::PrivateProfile& settings,
               StopRequests& stops);

}  // namespace

std::string ResultName(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::kReady:
      return "ready";
    case UpdateOutcome::kNotOpened:
      return "not-opened";
    case UpdateOutcome::kCancelled:
      return "cancelled";
    case UpdateOutcome::kAlreadyCurrent:
      return "identical";
    case UpdateOutcome::kStopped:
      return "stopped";
    case UpdateOutcome::kFailed:
      break;
  }
  return "failed";
}

int RunLoaderCli(const std::vector<std::string>& arguments, const TerminalStreams& streams,
                 const CliHardware& hardware, platform::PrivateProfile& settings) {
  StopRequests stops(streams.err);
  const Ending ending = RunOnce(arguments, streams, hardware, settings, stops);
  // A write that failed on the way (a closed pipe, a full disk, a closed output) left its mark
  // on the stream; the update went on regardless, and only now says what became of it.
  if (std::fflush(streams.out) != 0 || std::ferror(streams.out) != 0) {
    std::fprintf(streams.err,
                 "loader-cli: Die Ausgabe ging verloren; das Update endete mit \"%s\" (%d).\n",
                 ending.result.c_str(), ending.status);
    std::fflush(streams.err);
    return kCliOutputLost;
  }
  return ending.status;
}

namespace {

Ending RunOnce(const std::vector<std::string>& arguments, const TerminalStreams& streams,
               const CliHardware& hardware, platform::PrivateProfile& settings,
               StopRequests& stops) {
  const auto header =
      MainWindowHeader(ImageTitle, ImageVendor, ImageNote, PublicBuild, "Morvane Update");
  bool json = false;
  for (const auto& argument : arguments) json = json || argument == "--json";
  for (const auto& argument : arguments) {
    if (argument == "--json") continue;
    if (argument == "--help") {
      std::fputs(kUsage, streams.out);
      return {"help", kCliReady};
    }
    if (argument == "--version") {
      std::fprintf(streams.out, "loader-cli %s, Update %s\n", kProgramVersion,
                   header.title.c_str());
      return {"version", kCliReady};
    }
    std::fprintf(json ? streams.err : streams.out, "Unbekannte Angabe: %s\n\n%s", argument.c_str(),
                 kUsage);
    if (json) JsonReport(streams).ShowResult("usage", kCliUsage);
    return {"usage", kCliUsage};
  }

  std::unique_ptr<CliReport> report;
  if (json)
    report = std::make_unique<JsonReport>(streams);
  else
    report = std::make_unique<TextReport>(streams);
  std::unique_ptr<ModuleLink> link;
  TerminalHost host(
      *report, hardware.clock, [&link] { link->TimeoutTick(); }, &stops);
  link = std::make_unique<ModuleLink>(
      LinkServices{hardware.clock, hardware.ports, hardware.devices, hardware.libraries, host});
  link->IOBase = 800;
  LoadLinkSettings(*link, settings);

  report->ShowHeader(header.title, header.cornerVisible ? header.cornerLabel : std::string());
  UpdateProcedure procedure(*link, *report, host, BuiltInImage());
  const UpdateOutcome outcome = procedure.Run();
  link->AnswerText.clear();
  const int status = StatusOf(outcome);
  report->ShowResult(ResultName(outcome), status);
  return {ResultName(outcome), status};
}

}  // namespace
