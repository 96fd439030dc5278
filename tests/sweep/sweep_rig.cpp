#include "sweep_rig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "cicard.h"
#include "device_object.h"
#include "kernel_devices.h"
#include "link_rig.h"
#include "loader_cli.h"
#include "usb_rig.h"

namespace sweep {
namespace {

constexpr const char* kWrongAnswer = "2101029000B3";
constexpr std::uint32_t kReleasePauseMs = 1500;

// --- The settings loader-cli reads, held in memory. ---
class MemoryProfile final : public platform::PrivateProfile {
 public:
  explicit MemoryProfile(std::map<std::string, std::string> options)
      : options_(std::move(options)) {}
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue, std::size_t bufferSize) override {
    const auto it = options_.find(key);
    const std::string value =
        section == "Options" && it != options_.end() ? it->second : defaultValue;
    return value.substr(0, bufferSize == 0 ? 0 : bufferSize - 1);
  }
  bool WriteString(const std::string&, const std::string&, const std::string&) override {
    return true;
  }

 private:
  std::map<std::string, std::string> options_;
};

// The clock the link sees: counts ModuleClose by its release pause once messages have flowed
// (the bring-up pauses as long, but before the first message).
class CloseCountingClock final : public platform::Clock {
 public:
  CloseCountingClock(sim::VirtualClock& clock, const sim::CiModule& module)
      : clock_(clock), module_(module) {}
  std::uint32_t TickCount() override { return clock_.TickCount(); }
  void Sleep(std::uint32_t milliseconds) override {
    if (milliseconds == kReleasePauseMs && module_.MessageCount() > 0) ++closes;
    clock_.Sleep(milliseconds);
  }
  void Nap(std::uint32_t microseconds) override { clock_.Nap(microseconds); }
  int closes = 0;

 private:
  sim::VirtualClock& clock_;
  const sim::CiModule& module_;
};

// The emulated adapter with faults of its own: once the module holds message `point`, the
// next reply read from the adapter fails with the adapter gone, arrives short, or garbled.
class FaultyAdapter final : public cibridge::UsbBackend {
 public:
  FaultyAdapter(sim::EmulatedAdapter& adapter, const sim::CiModule& module, Fault fault, int point)
      : a_(adapter), module_(module), fault_(fault), point_(point) {}

  bool ReadPipe(cibridge::UsbHandle handle, std::uint8_t pipeId, std::uint8_t* buffer,
                std::uint32_t length, std::uint32_t* transferred) override {
    const bool result = a_.ReadPipe(handle, pipeId, buffer, length, transferred);
    if (fired_ || module_.MessageCount() < point_) return result;
    switch (fault_) {
      case Fault::kAdapterGone:
        fired_ = true;
        a_.Unplug();
        return false;
      case Fault::kShortReply:
        // Only two bytes came: the rest of the caller's buffer was never written.
        fired_ = result;
        if (result && *transferred > 2) {
          std::memset(buffer + 2, 0, *transferred - 2);
          *transferred = 2;
        }
        return result;
      case Fault::kGarbledReply:
        fired_ = result;
        for (std::uint32_t i = 0; result && i < *transferred; ++i) buffer[i] ^= 0xA5;
        return result;
      default:
        return result;
    }
  }

  // Everything else passes through.
  cibridge::UsbHandle GetClassDevices(const cibridge::Guid& c) override {
    return a_.GetClassDevices(c);
  }
  bool EnumDeviceInfo(cibridge::UsbHandle s, std::uint32_t i) override {
    return a_.EnumDeviceInfo(s, i);
  }
  bool EnumDeviceInterfaces(cibridge::UsbHandle s, const cibridge::Guid& c, std::uint32_t i,
                            cibridge::DeviceInterfaceData* d) override {
    return a_.EnumDeviceInterfaces(s, c, i, d);
  }
  bool GetDeviceInterfaceDetail(cibridge::UsbHandle s, const cibridge::DeviceInterfaceData& d,
                                char* p, std::uint32_t n, std::uint32_t* r) override {
    return a_.GetDeviceInterfaceDetail(s, d, p, n, r);
  }
  bool DestroyDeviceInfoList(cibridge::UsbHandle s) override { return a_.DestroyDeviceInfoList(s); }
  cibridge::UsbHandle CreateDeviceFile(const char* p) override { return a_.CreateDeviceFile(p); }
  bool CloseDeviceFile(cibridge::UsbHandle f) override { return a_.CloseDeviceFile(f); }
  bool Initialize(cibridge::UsbHandle f, cibridge::UsbHandle* i) override {
    return a_.Initialize(f, i);
  }
  bool Free(cibridge::UsbHandle i) override { return a_.Free(i); }
  bool QueryInterfaceSettings(cibridge::UsbHandle i, std::uint8_t s,
                              cibridge::UsbInterfaceDescriptor* d) override {
    return a_.QueryInterfaceSettings(i, s, d);
  }
  bool SetCurrentAlternateSetting(cibridge::UsbHandle i, std::uint8_t s) override {
    return a_.SetCurrentAlternateSetting(i, s);
  }
  bool QueryPipe(cibridge::UsbHandle i, std::uint8_t s, std::uint8_t p,
                 cibridge::PipeInformation* info) override {
    return a_.QueryPipe(i, s, p, info);
  }
  bool SetPipePolicy(cibridge::UsbHandle i, std::uint8_t p, std::uint32_t policy, std::uint32_t n,
                     const void* v) override {
    return a_.SetPipePolicy(i, p, policy, n, v);
  }
  bool ResetPipe(cibridge::UsbHandle i, std::uint8_t p) override { return a_.ResetPipe(i, p); }
  bool FlushPipe(cibridge::UsbHandle i, std::uint8_t p) override { return a_.FlushPipe(i, p); }
  bool WritePipe(cibridge::UsbHandle i, std::uint8_t p, const std::uint8_t* d, std::uint32_t n,
                 std::uint32_t* t) override {
    return a_.WritePipe(i, p, d, n, t);
  }
  bool ControlTransfer(cibridge::UsbHandle i, const cibridge::SetupPacket& s, std::uint8_t* b,
                       std::uint32_t n, std::uint32_t* t) override {
    return a_.ControlTransfer(i, s, b, n, t);
  }

 private:
  sim::EmulatedAdapter& a_;
  const sim::CiModule& module_;
  Fault fault_;
  int point_;
  bool fired_ = false;
};

// The register driver in the kernel stand-in, the module in the adapter's port window.
struct DriverMachine {
  DriverMachine() {
    kernel.RecordAccesses(false);  // a whole update's accesses, never asked for
    kernel.AddPortWindow(0x1F0, 4, module.get());
    kernel.LoadDriver(DriverEntry);
    adapter = kernel.PlugAdapter();
    kernel.Start(adapter, {{sim::ResourceDescriptor::Port(0x1F0, 4)}});
    ports.DenyAccess(true);  // the driver transport never touches ports itself
  }
  std::vector<std::string> Finish() {
    if (kernel.FunctionDevice(adapter) != nullptr) kernel.Remove(adapter);
    kernel.Shutdown();
    return kernel.Violations();
  }

  UpdateImage image = BuiltInImage();
  sim::VirtualClock clock;
  std::unique_ptr<sim::CiModule> module = std::make_unique<sim::CiModule>(
      clock,
      sim::ModuleImage::FromUpdate(image.InitData, image.InitDataLength, image.InitDataSize,
                                   image.MainData, image.MainDataLength, image.MainDataSize));
  sim::Kernel kernel;
  sim::Kernel::AdapterId adapter = 0;
  sim::KernelDevices devices{kernel};
  sim::SimPortSpace ports;
  test::NoLibraries libraries;
};

// --- What the run must show. ---

enum class Answer { kNone, kWrong };

struct Dialog {
  std::string title;
  std::string text;
};

std::string HotlineMessage() {
  return "Das Update ist mit diesem Modul nicht möglich.\r\nBitte rufen Sie die Brivon Hotline an "
         "unter " +
         std::string(MakerSupportPhone) + " .";
}

// The procedure's message when the answer at `point` is missing or wrong (nullopt: none).
std::optional<std::string> ProcedureMessage(int point, Answer answer) {
  const bool preparation = point <= 130;
  const bool firstOfStep = preparation && point % 2 == 1;
  if (answer == Answer::kNone) {
    if (point == 1)
      return "Möglicherweise wurde ein falsches Modul gesteckt !\r\nBeachten Sie bitte, dass mit "
             "diesem Programm nur Morvane Module upgedatet werden können !";
    if (firstOfStep) return std::nullopt;
    if (preparation)
      return "Es ist ein Fehler während der Kommunikation mit dem CI-Modul aufgetreten !\r\n"
             "Versuchen Sie es noch einmal.";
  } else {
    if (firstOfStep) return "Fehler während der Modul-Initialisierung aufgetreten";
    if (point == 2)
      return "Fehler beim Einlesen der Daten aufgetreten, möglicherweise wurde ein falsches Modul "
             "gesteckt.\r\nBeachten Sie bitte, dass für jede Modulausführung wie Granit,\r\nFeder "
             "und QX ein eigenes Update verwendet werden muß. ";
    if (point < 130)
      return "Fehler beim Einlesen der Daten aufgetreten,\r\nwiederholen Sie den Vorgang.";
    if (point == 130) return HotlineMessage();
  }
  if (point <= 1530) return "Fehler beim Einlesen der Daten aufgetreten";
  if (point == 1531) return "Integritätstest fehlgeschlagen";
  return "Modulprogrammierung fehlgeschlagen";
}

std::vector<Dialog> ExpectedDialogs(Transport transport, Fault fault, int point) {
  // On the register transports a removed module reads as all ones: a long answer of 0xFF
  // bytes, which is a wrong answer. Over USB every fault but a wrong answer empties it.
  const bool registers = transport != Transport::kUsb;
  const Answer answer =
      fault == Fault::kWrongAnswer || (registers && fault == Fault::kModuleRemoved) ? Answer::kWrong
                                                                                    : Answer::kNone;
  std::vector<Dialog> dialogs;
  // The register transports announce a time-out themselves, except with the silent 1999 ms of
  // the first message of each preparation step.
  const bool silentTimeout = point <= 130 && point % 2 == 1;
  if (registers && answer == Answer::kNone && !silentTimeout)
    dialogs.push_back({"Fehler", "Timeout, keine Antwort vom Modul"});
  if (const auto message = ProcedureMessage(point, answer)) dialogs.push_back({"Fehler", *message});
  return dialogs;
}

std::string Printed(const Dialog& dialog) {
  return "[" + dialog.title + "] " + TerminalText(dialog.text) + "\n";
}

int CountDialogs(const std::string& output) {
  int count = 0;
  for (const char* title : {"[Fehler] ", "[Information] "})
    for (auto at = output.find(title); at != std::string::npos; at = output.find(title, at + 1))
      count += (at == 0 || output[at - 1] == '\n') ? 1 : 0;
  return count;
}

void ApplyModuleFault(sim::CiModule& module, Fault fault, int point) {
  switch (fault) {
    case Fault::kNoAnswer:
      module.SilenceAt(point);
      break;
    case Fault::kWrongAnswer:
      module.AnswerAt(point, kWrongAnswer);
      break;
    case Fault::kModuleRemoved:
      module.RemoveAt(point);
      break;
    default:
      break;  // the adapter's faults
  }
}

struct CliRun {
  int status = -1;
  std::string output;
  int closes = 0;
};

CliRun RunCli(sim::VirtualClock& clock, const sim::CiModule& module, platform::PortIo& ports,
              platform::DeviceIo& devices, platform::LibraryLoader& libraries, bool useDriver) {
  MemoryProfile settings({{"IO_Base", "800"},
                          {"IO_Auto", "1"},
                          {"SCM_Swap", "0"},
                          {"UseDevice", useDriver ? "1" : "0"}});
  CloseCountingClock countingClock(clock, module);
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&buffer, &length);
  CliRun run;
  run.status = RunLoaderCli({}, TerminalStreams{out, stdin, false, false},
                            {countingClock, ports, devices, libraries}, settings);
  std::fclose(out);
  run.output.assign(buffer, length);
  std::free(buffer);
  run.closes = countingClock.closes;
  return run;
}

}  // namespace

const char* TransportName(Transport transport) {
  switch (transport) {
    case Transport::kPorts:
      return "ports";
    case Transport::kDriver:
      return "driver";
    default:
      return "usb";
  }
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kNoAnswer:
      return "no answer";
    case Fault::kWrongAnswer:
      return "wrong answer";
    case Fault::kModuleRemoved:
      return "module removed";
    case Fault::kAdapterGone:
      return "adapter gone";
    case Fault::kShortReply:
      return "short reply";
    default:
      return "garbled reply";
  }
}

bool AppliesTo(Fault fault, Transport transport) {
  const bool adapterFault =
      fault == Fault::kAdapterGone || fault == Fault::kShortReply || fault == Fault::kGarbledReply;
  return !adapterFault || transport == Transport::kUsb;
}

std::string RunFaultCase(Transport transport, Fault fault, int point) {
  CliRun run;
  int messages = 0;
  std::vector<std::string> violations;
  switch (transport) {
    case Transport::kPorts: {
      test::LinkRig rig;
      ApplyModuleFault(*rig.module, fault, point);
      run = RunCli(rig.clock, *rig.module, rig.ports, rig.devices, rig.libraries, false);
      messages = rig.module->MessageCount();
      break;
    }
    case Transport::kDriver: {
      DriverMachine machine;
      ApplyModuleFault(*machine.module, fault, point);
      run = RunCli(machine.clock, *machine.module, machine.ports, machine.devices,
                   machine.libraries, true);
      messages = machine.module->MessageCount();
      violations = machine.Finish();
      break;
    }
    case Transport::kUsb: {
      usb_test::UsbRig rig;
      FaultyAdapter adapter(*rig.adapter, *rig.module, fault, point);
      cibridge::InstallDevice(adapter, rig.clock);
      ApplyModuleFault(*rig.module, fault, point);
      run = RunCli(rig.clock, *rig.module, rig.ports, rig.devices, rig.libraries, false);
      messages = rig.module->MessageCount();
      cibridge::InstallNoDevice();
      break;
    }
  }

  std::ostringstream problems;
  if (run.status != kCliFailed) problems << " exit status " << run.status << ";";
  if (run.closes != 1) problems << " ModuleClose " << run.closes << " times;";
  if (messages != point) problems << " the module received " << messages << " messages;";
  const auto dialogs = ExpectedDialogs(transport, fault, point);
  std::size_t at = 0;
  for (const auto& dialog : dialogs) {
    at = run.output.find(Printed(dialog), at);
    if (at == std::string::npos) {
      problems << " missing \"" << dialog.text.substr(0, 40) << "\";";
      break;
    }
  }
  if (CountDialogs(run.output) != static_cast<int>(dialogs.size()))
    problems << " " << CountDialogs(run.output) << " dialogs instead of " << dialogs.size() << ";";
  for (const auto& violation : violations) problems << " verifier: " << violation << ";";
  const std::string text = problems.str();
  if (text.empty()) return text;
  return std::string(TransportName(transport)) + ", " + FaultName(fault) + " at " +
         std::to_string(point) + ":" + text + "\n--- output:\n" +
         run.output.substr(run.output.size() > 1500 ? run.output.size() - 1500 : 0);
}

}  // namespace sweep
