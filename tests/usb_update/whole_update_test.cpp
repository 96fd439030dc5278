// Whole updates over the emulated USB adapter: from a cold adapter (the program downloaded, the
// adapter back under its own IDs) and from a warm one, and the adapter faults the updater has
// to survive.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "usb_rig.h"

namespace usb_test {
namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(UsbUpdate, ColdAdapterGetsItsProgramAndCarriesTheWholeUpdate) {
  UsbRig rig(0x1234, 0x5678);
  std::vector<std::string> events;
  rig.adapter->SetEventSink([&](const std::string& event) { events.push_back(event); });
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  EXPECT_EQ(events, (std::vector<std::string>{
                        "CPU held for the program download",
                        "program started (8192 bytes downloaded)", "off the bus for re-enumeration",
                        "back on the bus with its own descriptors as vid_1234&pid_5678",
                        "module reset, ready", "configuration option register written",
                        "buffer size negotiated: 128 bytes"}));
  EXPECT_EQ(rig.lastOpenResult, 0);
  EXPECT_TRUE(rig.module->ReceivedImageIntact());
  EXPECT_TRUE(rig.module->Programmed());
  EXPECT_EQ(rig.module->NegotiatedSize(), 128);
  // Downloaded once, and back on the bus under the IDs it had before.
  EXPECT_EQ(rig.adapter->ProgramStarts(), 1);
  EXPECT_EQ(rig.adapter->VendorId(), 0x1234);
  EXPECT_EQ(rig.adapter->ProductId(), 0x5678);
  EXPECT_TRUE(rig.host->RetryDialogs().empty());
  EXPECT_TRUE(rig.view.messages.empty());
  EXPECT_EQ(rig.view.statusLines.back(), "Ready");
  EXPECT_TRUE(Contains(rig.view.statusLines, "Integritätstest..."));
  EXPECT_EQ(rig.view.lastGauge, 100);
  EXPECT_FALSE(rig.link->AdapterBound);  // closed and released at the end
}

TEST(UsbUpdate, WarmAdapterIsNotDownloadedAgain) {
  UsbRig rig;
  rig.adapter->StartWarm();
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  EXPECT_TRUE(rig.module->ReceivedImageIntact());
  EXPECT_TRUE(rig.module->Programmed());
  EXPECT_EQ(rig.adapter->ProgramStarts(), 1);  // the start before the run only
  EXPECT_EQ(rig.view.statusLines.back(), "Ready");
}

TEST(UsbUpdate, SecondRunOverTheSameAdapterFindsItWarm) {
  UsbRig rig;
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  rig.module = rig.NewModule();
  rig.adapter->Slot().SetModule(rig.module.get());
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  EXPECT_TRUE(rig.module->ReceivedImageIntact());
  EXPECT_EQ(rig.adapter->ProgramStarts(), 1);
}

struct FaultCase {
  std::string name;
  std::function<void(UsbRig&)> arrange;
  UpdateOutcome outcome;
  int openResult;
  std::string message;  // the message dialog's text, or empty for none
  std::size_t retryDialogs;
  friend void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }
};

const std::string kUsbModuleMessage =
    "Modul im USB-CI Adapter konnte nicht initialisiert werden oder wurde nicht gefunden\r\n"
    "Bitte stecken Sie das Modul erneut hinein oder stecken Sie den Adapter ggf. erneut in den "
    "USB-Port.";

class AdapterFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(AdapterFaults, EndAsTheUpdaterTellsThem) {
  const auto& c = GetParam();
  UsbRig rig;
  c.arrange(rig);
  EXPECT_EQ(rig.RunUpdate(), c.outcome);
  EXPECT_EQ(rig.lastOpenResult, c.openResult);
  if (c.message.empty()) {
    EXPECT_TRUE(rig.view.messages.empty());
  } else {
    ASSERT_EQ(rig.view.messages.size(), 1u);
    EXPECT_EQ(rig.view.messages[0].text, c.message);
  }
  EXPECT_EQ(rig.host->RetryDialogs().size(), c.retryDialogs);
  EXPECT_FALSE(rig.link->AdapterBound);
  EXPECT_TRUE(rig.view.buttonsEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Usb, AdapterFaults,
    ::testing::Values(
        // The adapter answers 0x30 after its download: the module is not ready.
        FaultCase{"NoModuleInTheSlot", [](UsbRig& r) { r.adapter->Slot().SetModule(nullptr); },
                  UpdateOutcome::kNotOpened, 1, kUsbModuleMessage, 0},
        FaultCase{"ModuleRemovedDuringTheTransfer", [](UsbRig& r) { r.module->RemoveAt(200); },
                  UpdateOutcome::kFailed, 0, "Fehler beim Einlesen der Daten aufgetreten", 0},
        FaultCase{"ModuleRemovedDuringPreparation", [](UsbRig& r) { r.module->RemoveAt(40); },
                  UpdateOutcome::kFailed, 0,
                  "Es ist ein Fehler während der Kommunikation mit dem CI-Modul aufgetreten !"
                  "\r\nVersuchen Sie es noch einmal.",
                  0},
        // Six attempts, the dialog, and the user gives up.
        FaultCase{"AdapterNeverComesBack",
                  [](UsbRig& r) {
                    r.adapter->SetNeverReturns(true);
                    r.host->QueueRetryAnswers({false});
                  },
                  UpdateOutcome::kCancelled, 10, "", 1},
        // Invisible to eight searches: the dialog after six, OK, found at the ninth.
        FaultCase{"AdapterBackAfterNineSearches",
                  [](UsbRig& r) {
                    r.adapter->SetReenumerationMs(0);
                    r.adapter->SetReturnAfterSearches(8);
                    r.host->QueueRetryAnswers({true});
                  },
                  UpdateOutcome::kReady, 0, "", 1},
        FaultCase{"AdapterBackAfterTwoSearches",
                  [](UsbRig& r) {
                    r.adapter->SetReenumerationMs(0);
                    r.adapter->SetReturnAfterSearches(2);
                  },
                  UpdateOutcome::kReady, 0, "", 0},
        // The library carries a program whose first instruction is an endless loop: the
        // adapter stays cold and cannot carry the update.
        FaultCase{"ProgramNeverStarts",
                  [](UsbRig& r) {
                    r.adapter->SetDownloadPatch(0, {0x80, 0xFE});
                  },
                  UpdateOutcome::kNotOpened, 1, kUsbModuleMessage, 0},
        FaultCase{"ModuleNeverReady", [](UsbRig& r) { r.adapter->Slot().SetNeverReady(true); },
                  UpdateOutcome::kNotOpened, 1, kUsbModuleMessage, 0},
        FaultCase{"ConfigurationRegisterStuck",
                  [](UsbRig& r) { r.adapter->Slot().SetCorStuck(true); }, UpdateOutcome::kNotOpened,
                  3,
                  "Common Interface Modul nicht gefunden oder nicht bereit.\r\nStellen Sie "
                  "sicher, dass die PCMCIA Hardware richtig installiert ist.\r\nBeachten Sie "
                  "bitte, dass mit diesem Programm nur Morvane Module getestet werden können !",
                  0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace usb_test

namespace usb_test {
namespace {

// Module faults end an update over the adapter program's binary exactly as over the register
// transport: module time-outs, a module that answers after the host gave up on the message
// (the host sends its next command while the adapter still waits), a module removed mid-update.
struct ModuleFaultCase {
  std::string name;
  std::function<void(sim::CiModule&)> fault;
  friend void PrintTo(const ModuleFaultCase& c, std::ostream* out) { *out << c.name; }
};

class ModuleFaultsOverTheBinary : public ::testing::TestWithParam<ModuleFaultCase> {};

TEST_P(ModuleFaultsOverTheBinary, EndAsOverTheRegisters) {
  test::LinkRig registers;
  GetParam().fault(*registers.module);
  const UpdateOutcome expected = registers.RunUpdate();

  UsbRig usb;
  GetParam().fault(*usb.module);
  EXPECT_EQ(usb.RunUpdate(), expected);
  EXPECT_EQ(usb.lastOpenResult, 0);
  ASSERT_EQ(usb.view.messages.size(), registers.view.messages.size());
  for (std::size_t i = 0; i < usb.view.messages.size(); ++i)
    EXPECT_EQ(usb.view.messages[i].text, registers.view.messages[i].text);
  EXPECT_EQ(usb.module->ReceivedImageIntact(), registers.module->ReceivedImageIntact());
  EXPECT_EQ(usb.module->Programmed(), registers.module->Programmed());
}

INSTANTIATE_TEST_SUITE_P(
    Usb, ModuleFaultsOverTheBinary,
    ::testing::Values(
        ModuleFaultCase{"SilentAtTheFirstMessage", [](sim::CiModule& m) { m.SilenceAt(1); }},
        ModuleFaultCase{"SilentAtASecondMessage", [](sim::CiModule& m) { m.SilenceAt(2); }},
        ModuleFaultCase{"SilentAtAChunk", [](sim::CiModule& m) { m.SilenceAt(400); }},
        ModuleFaultCase{"AnswerAfterTheHostGaveUp",
                        [](sim::CiModule& m) { m.DelayAt(2, 6'000'000); }},
        ModuleFaultCase{"ChunkAnswerAfterTheHostGaveUp",
                        [](sim::CiModule& m) { m.DelayAt(300, 6'000'000); }},
        ModuleFaultCase{"SlowButInTime", [](sim::CiModule& m) { m.DelayAt(300, 3'000'000); }},
        ModuleFaultCase{"RemovedMidUpdate", [](sim::CiModule& m) { m.RemoveAt(700); }}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace usb_test
