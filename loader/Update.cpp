// The update procedure: one run from "Start Update" to the verdict.
#include "Update.h"

#include "hex.h"
#include "update_sizes.h"

namespace {

constexpr const char* kErrorTitle = "Fehler";
constexpr const char* kInformationTitle = "Information";

constexpr const char* kPreparationPrefix = "13010080FF000086";
constexpr const char* kPreparationAccepted = "2101029000B2";
constexpr const char* kChunkAccepted = "2201029000B1";
constexpr const char* kIntegrityPassed = "2201029001B0";
constexpr const char* kModuleNewer = "22010290F948";
constexpr const char* kReadFailure = "22010290FE4C";
constexpr const char* kReady = "Ready";
constexpr const char* kSameSoftware = "OK   ";
constexpr const char* kFlashFailure = "Bad!!";

constexpr std::int32_t kFirstMessageTimeout = 1999;  // silent: the procedure speaks instead
constexpr std::int32_t kMessageTimeout = 4000;
constexpr std::int32_t kIntegrityTimeout = 50000;

using image::kMainCapacity;
using image::kStep;
constexpr std::int32_t kBlockStride = image::kPreparationStride;
constexpr std::int32_t kSlice = 64;
constexpr std::int32_t kIntegrityMask = 0x7FF80;
constexpr std::int32_t kGaugeGranule = 0x7FFF;

constexpr const char* kStoppedText =
    "Das Update wurde abgebrochen, bevor das Modul programmiert wurde.";

constexpr const char* kEditionsNote =
    "Beachten Sie bitte, dass für jede Modulausführung wie Granit,\r\n"
    "Feder und QX ein eigenes Update verwendet werden muß.";

}  // namespace

std::string OpenResultMessage(int result) {
  switch (result) {
    case kUsbModuleNotReady:
      return "Modul im USB-CI Adapter konnte nicht initialisiert werden oder wurde nicht "
             "gefunden\r\nBitte stecken Sie das Modul erneut hinein oder stecken Sie den Adapter "
             "ggf. erneut in den USB-Port.";
    case kDriverMissing:
      return "Gerät nicht vorhanden oder nicht bereit !\r\nStellen Sie sicher, dass der "
             "Gerätetreiber richtig installiert ist.\r\nBeachten Sie bitte, dass mit diesem "
             "Programm nur Morvane Module getestet werden können !";
    case kNoModule:
      return "Common Interface Modul nicht gefunden oder nicht bereit.\r\nStellen Sie sicher, "
             "dass die PCMCIA Hardware richtig installiert ist.\r\nBeachten Sie bitte, dass mit "
             "diesem Programm nur Morvane Module getestet werden können !";
    case kTransportException:
      return "IO-Zugriff verweigert !\r\nDer passende Gerätetreiber muß installiert und "
             "ausgewählt sein !\r\n(Nur unter Windows 95 und 98 ist die Benutzung des Programms "
             "ohne Gerätetreiber erlaubt)";
    default:
      return "Es ist ein unbekannter Fehler während der Modulinitialisierung oder USB-Adapter "
             "Initialisierung aufgetreten";
  }
}

namespace {

// Characters `first` to `first + count - 1` of an answer, counted from 1; empty when the answer
// is too short to hold them all, so a short answer matches no pattern.
std::string_view Characters(const std::string& answer, std::size_t first, std::size_t count) {
  if (answer.size() < first - 1 + count) return {};
  return std::string_view(answer).substr(first - 1, count);
}

// The gauge's share `scale` of `done` out of `size` bytes, truncated; 0 for an image size that
// is not positive, which no checked image has.
int GaugeShare(std::int64_t done, std::int32_t size, int scale) {
  return size > 0 ? static_cast<int>(done * scale / size) : 0;
}

// The five text characters carried as digit pairs at characters 7 to 16 of an answer.
std::string DecodedAnswer(const std::string& answer) {
  std::string text;
  for (std::size_t pair = 0; pair < 5; ++pair)
    text.push_back(static_cast<char>(HexValue(answer.substr(6 + 2 * pair, 2)) & 0xFF));
  return text;
}

}  // namespace

UpdateProcedure::UpdateProcedure(ModuleLink& link, UpdateView& view, platform::Host& application,
                                 const UpdateImage& image)
    : link_(link), view_(view), application_(application), image_(image) {}

UpdateOutcome UpdateProcedure::Run() {
  if (running_) return UpdateOutcome::kFailed;
  running_ = true;
  view_.SetGauge(0);
  view_.SetButtonsEnabled(false);
  view_.ClearLabel2();
  view_.SetStatusLine("Suche CI Modul...");

  if (application_.StopRequested()) {
    view_.ShowMessageForm(kStoppedText, kInformationTitle);
    IdleEnding();
    return UpdateOutcome::kStopped;
  }
  openResult_ = link_.ModuleOpen(&application_, true);
  if (openResult_ != kLinkOpen) {
    if (openResult_ != kCancelled)
      view_.ShowMessageForm(OpenResultMessage(openResult_), kErrorTitle);
    IdleEnding();
    return openResult_ == kCancelled ? UpdateOutcome::kCancelled : UpdateOutcome::kNotOpened;
  }

  view_.SetStatusLine("Vorbereitung...");
  failure_ = UpdateOutcome::kFailed;
  const bool ready = PreparationPhase() && TransferPhase();
  running_ = false;
  return ready ? UpdateOutcome::kReady : failure_;
}

void UpdateProcedure::IdleEnding() {
  view_.SetStatusLine("");
  view_.SetButtonsEnabled(true);
  running_ = false;
}

bool UpdateProcedure::StopBeforeMessage() {
  if (!application_.StopRequested()) return false;
  failure_ = UpdateOutcome::kStopped;
  FailureEnding(kStoppedText, kInformationTitle);
  return true;
}

void UpdateProcedure::FailureEnding(const std::string& message, const std::string& title) {
  view_.SetStatusLine("");
  view_.SetGauge(0);
  if (!message.empty()) view_.ShowMessageForm(message, title);
  view_.SetButtonsEnabled(true);
  link_.ModuleClose();
}

std::string UpdateProcedure::PreparationMessage(std::uint16_t block, std::int32_t offset,
                                                std::uint8_t sequence) const {
  std::string message = kPreparationPrefix;
  message += HexDigits(sequence, 2);
  const std::size_t start = std::size_t{block} * kBlockStride + static_cast<std::size_t>(offset);
  for (std::size_t i = start; i < start + kSlice; ++i)
    AppendHexByte(message, i < image_.InitDataLength ? image_.InitData[i] : 0);
  return message;
}

bool UpdateProcedure::PreparationPhase() {
  const std::int32_t blockSize = image_.InitDataSize;
  std::string& answer = link_.AnswerText;
  std::uint16_t block = 0;
  std::int32_t accumulated = 0;
  std::int32_t offset = 0;

  do {
    auto stepsLeft = static_cast<std::uint8_t>(blockSize / kStep);
    std::uint8_t sequence = 0;
    offset = 0;
    do {
      if (StopBeforeMessage()) return false;
      link_.ModuleExchange(PreparationMessage(block, offset, sequence), kFirstMessageTimeout);
      offset += kSlice;
      if (answer.empty()) {
        // Only the block's first message speaks of a wrong module; later ones end silently.
        FailureEnding(sequence == 0 ? "Möglicherweise wurde ein falsches Modul gesteckt !\r\n"
                                      "Beachten Sie bitte, dass mit diesem Programm nur Morvane "
                                      "Module upgedatet werden können !"
                                    : "");
        return false;
      }
      if (answer != kPreparationAccepted) {
        FailureEnding("Fehler während der Modul-Initialisierung aufgetreten");
        return false;
      }

      ++sequence;
      if (StopBeforeMessage()) return false;
      link_.ModuleExchange(PreparationMessage(block, offset, sequence), kMessageTimeout);
      offset += kSlice;
      if (answer.empty()) {
        FailureEnding(
            "Es ist ein Fehler während der Kommunikation mit dem CI-Modul aufgetreten !\r\n"
            "Versuchen Sie es noch einmal.");
        return false;
      }
      if (stepsLeft == 1) {
        // The block's last answer is the module's verdict on the preparation.
        if (answer.size() >= 16 && answer[6] != '9') answer = DecodedAnswer(answer);
      } else if (answer != kPreparationAccepted) {
        view_.SetGauge(0);
        if (sequence != 1) {
          FailureEnding(
              "Fehler beim Einlesen der Daten aufgetreten,\r\nwiederholen Sie den Vorgang.");
          return false;
        }
        // The module refused this block: try the next candidate block, if any is left.
        if (accumulated + blockSize >= kBlockStride) {
          FailureEnding(std::string("Fehler beim Einlesen der Daten aufgetreten, möglicherweise "
                                    "wurde ein falsches Modul gesteckt.\r\n") +
                        kEditionsNote + " ");
          return false;
        }
        accumulated += blockSize;
        ++block;
        stepsLeft = 1;
      }
      ++sequence;
      --stepsLeft;
      view_.SetGauge(GaugeShare(offset, blockSize, 60));
      application_.ProcessMessages();
    } while (accumulated < kBlockStride && offset < blockSize && stepsLeft != 0);
  } while (accumulated < kBlockStride && offset < blockSize);

  if (answer == kReady) return true;
  if (answer == kModuleNewer) {
    FailureEnding(
        "Das Update ist mit diesem Modul nicht möglich.\r\nDer Softwarestand im Modul "
        "ist aktueller als der des Updates .");
  } else if (Characters(answer, 7, 4) == "91FC") {
    const auto code = Characters(answer, 11, 4);
    if (Characters(answer, 5, 2) == "04" && !code.empty())
      FailureEnding("Das Update ist nicht für dieses Modul geeignet ! Fehlercode: " +
                    std::string(code) + "\r\n" + kEditionsNote);
    else
      FailureEnding(std::string("Das Update ist nicht für dieses Modul geeignet !\r\n") +
                    kEditionsNote);
  } else if (answer == kReadFailure) {
    FailureEnding("Fehler beim Einlesen der Daten aufgetreten,\r\nwiederholen Sie den Vorgang.");
  } else {
    FailureEnding(
        "Das Update ist mit diesem Modul nicht möglich.\r\nBitte rufen Sie die Brivon "
        "Hotline an unter " +
        std::string(MakerSupportPhone) + " .");
  }
  return false;
}

bool UpdateProcedure::TransferPhase() {
  const std::int32_t size = image_.MainDataSize;
  const std::int32_t threshold = (size - 127) & kIntegrityMask;
  std::string& answer = link_.AnswerText;
  std::int32_t offset = 0;
  bool integrityMode = false;
  std::string chunk;

  do {
    chunk.clear();
    for (std::int32_t k = 1; k <= kStep; ++k) {
      const auto position = static_cast<std::size_t>(offset) + static_cast<std::size_t>(k) - 1;
      const bool stored = offset + k <= kMainCapacity && position < image_.MainDataLength;
      AppendHexByte(chunk, stored ? image_.MainData[position] : 0);
    }
    offset += kStep;
    const bool integrityChunk = integrityMode;
    if (StopBeforeMessage()) return false;
    link_.ModuleExchange(chunk, integrityChunk ? kIntegrityTimeout : kMessageTimeout);
    if (!integrityChunk && answer != kChunkAccepted) {
      FailureEnding("Fehler beim Einlesen der Daten aufgetreten");
      return false;
    }
    view_.SetGauge(GaugeShare(offset & ~kGaugeGranule, size, 30) + 60);
    if (!integrityChunk && offset >= threshold) {
      view_.SetStatusLine("Integritätstest...");
      integrityMode = true;
    }
    application_.ProcessMessages();
  } while (offset < size);

  if (answer != kIntegrityPassed) {
    FailureEnding("Integritätstest fehlgeschlagen");
    return false;
  }

  view_.SetStatusLine("Modul wird programmiert...");
  application_.ProcessMessages();
  if (StopBeforeMessage()) return false;
  // From here the module programs itself: a request to end waits for its verdict.
  application_.ModuleProgramming(true);
  link_.ModuleExchange("", kIntegrityTimeout);
  application_.ModuleProgramming(false);
  if (answer.size() >= 16) answer = DecodedAnswer(answer);
  application_.Beep();
  if (answer != kReady) {
    if (answer == kSameSoftware) {
      failure_ = UpdateOutcome::kAlreadyCurrent;
      FailureEnding("Die Software im Modul war identisch !", kInformationTitle);
    } else if (answer == kFlashFailure) {
      FailureEnding("Flash-Schreibfehler aufgetreten.");
    } else {
      FailureEnding("Modulprogrammierung fehlgeschlagen");
    }
    return false;
  }

  view_.SetStatusLine(answer);
  view_.SetGauge(100);
  application_.ProcessMessages();
  link_.ModuleClose();
  view_.SetButtonsEnabled(true);
  return true;
}
