// The access layer's binding of the adapter library and its USB bring-up, on virtual time,
// against a test build of the library: ten exports whose answers each test sets.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "library_loader.h"
#include "link_rig.h"
#include "pcmcia.h"
#include "platform_names.h"
#include "sim_host.h"
#include "sim_port_space.h"
#include "virtual_clock.h"

namespace {

// What the test build of the library answers, and what it was asked.
struct FakeLibrary {
  std::string path = "\\\\?\\usb#vid_1234&pid_5678#6&1&0#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}";
  std::deque<std::int32_t> resetStatuses;  // then 2
  std::int32_t corResult = 1;
  int failedSearchesAfterClose = 0;       // -1: never found again
  std::deque<std::int32_t> closeResults;  // then 1
  std::int32_t loadResult = 1;
  bool noAdapter = false;                       // every search finds nothing
  std::set<std::string> throwing;               // exports that raise an exception on every call
  std::map<std::string, std::string> faulting;  // export -> how it faults on its first call
  int entries = 0;                              // calls into the library, all exports
  int entriesAtFault = -1;                      // ... when the fault happened

  std::vector<std::string> calls;
  std::vector<std::int32_t> timeouts;
  std::vector<std::int32_t> loadArguments;
  int closes = 0;
  int searchesAfterClose = 0;
};
FakeLibrary fake;

struct LibraryFault : std::runtime_error {
  LibraryFault() : std::runtime_error("fault inside the adapter library") {}
};
volatile int* volatile nowhere = nullptr;
volatile int zero = 0;
volatile int one = 1;

// Ends the call by the fault asked for: a wild write, abort, an illegal instruction, a
// division by zero, a bus error, a stack overflow.
volatile bool deeper = true;
[[gnu::noinline]] int Overflow(int depth) {
  volatile char frame[512];
  frame[depth % 512] = static_cast<char>(depth);
  return (deeper ? Overflow(depth + 1) : 0) + frame[0];
}
// Undefined behaviour on purpose: the sanitizers are told to let it happen.
[[gnu::no_sanitize("undefined")]] void Fault(const std::string& how) {
  if (how == "segv") *nowhere = 1;
  if (how == "abort") std::abort();
  if (how == "ill") __builtin_trap();
  if (how == "fpe") zero = one / zero;
  if (how == "bus") std::raise(SIGBUS);
  if (how == "stack") zero = Overflow(0);
}

void MaybeThrow(const char* entry) {
  ++fake.entries;
  if (fake.throwing.count(entry) != 0) throw LibraryFault();
  const auto fault = fake.faulting.find(entry);
  if (fault != fake.faulting.end() && fake.entriesAtFault < 0) {
    fake.entriesAtFault = fake.entries;
    Fault(fault->second);
  }
}

std::int32_t Search(char* buffer) {
  fake.calls.push_back("SearchUSBAdapter");
  MaybeThrow("SearchUSBAdapter");
  if (fake.noAdapter) return 0;
  if (fake.closes > 0) {
    ++fake.searchesAfterClose;
    if (fake.failedSearchesAfterClose < 0 ||
        fake.searchesAfterClose <= fake.failedSearchesAfterClose)
      return 0;
  }
  std::snprintf(buffer, 512, "%s", fake.path.c_str());
  return 1;
}
std::int32_t Open(const char*) {
  fake.calls.push_back("USBAdapterOpen");
  MaybeThrow("USBAdapterOpen");
  return 1;
}
std::int32_t Close() {
  fake.calls.push_back("USBAdapterClose");
  ++fake.closes;
  MaybeThrow("USBAdapterClose");
  if (fake.closeResults.empty()) return 1;
  const auto result = fake.closeResults.front();
  fake.closeResults.pop_front();
  return result;
}
std::int32_t Reset() {
  fake.calls.push_back("USBAdapterCIReset");
  MaybeThrow("USBAdapterCIReset");
  if (fake.resetStatuses.empty()) return 2;
  const auto status = fake.resetStatuses.front();
  fake.resetStatuses.pop_front();
  return status;
}
std::int32_t Status() {
  return 0;
}
std::int32_t Cor(std::int32_t address, std::int32_t value, std::int32_t base) {
  fake.calls.push_back("WriteCOR " + std::to_string(address) + " " + std::to_string(value) + " " +
                       std::to_string(base));
  MaybeThrow("WriteCOR");
  return fake.corResult;
}
std::int32_t Negotiate(std::int32_t size, std::int32_t* answered) {
  fake.calls.push_back("NegociateCI " + std::to_string(size));
  MaybeThrow("NegociateCI");
  *answered = size;
  return 1;
}
std::int32_t Timeout(std::int32_t milliseconds) {
  fake.timeouts.push_back(milliseconds);
  MaybeThrow("SetTimeout");
  return 1;
}
std::int32_t Exchange(const std::uint8_t*, std::int32_t, std::uint8_t* answer,
                      std::int32_t* length) {
  fake.calls.push_back("WriteExchange");
  if (fake.faulting.count("WriteExchange") != 0 && fake.faulting["WriteExchange"] == "overrun") {
    ++fake.entries;
    fake.entriesAtFault = fake.entries;
    std::memset(answer, 0x5A, 4096);  // far beyond the 256 bytes offered
  }
  MaybeThrow("WriteExchange");
  *length = 0;
  return 1;
}
std::int32_t LoadProgram(std::int32_t ids) {
  fake.calls.push_back("LoadFirmware");
  fake.loadArguments.push_back(ids);
  MaybeThrow("LoadFirmware");
  return fake.loadResult;
}

// Loads the test build when asked for the adapter library in the program folder.
class TestLibraries final : public platform::LibraryLoader {
 public:
  platform::LibraryHandle Load(const std::string& name) override {
    loads.push_back(name);
    if (name == platform::kUsbRuntimeLibrary) return runtimePresent ? kRuntime : nullptr;
    if (name == ProgramFolder() + platform::kAdapterLibraryFile)
      return libraryPresent ? kLibrary : nullptr;
    return nullptr;
  }
  void* Find(platform::LibraryHandle library, const char* name) override {
    if (library != kLibrary || missing.count(name)) return nullptr;
    if (faultingLookup == name) Fault("segv");
    const std::string n = name;
    if (n == "SearchUSBAdapter") return reinterpret_cast<void*>(&Search);
    if (n == "USBAdapterOpen") return reinterpret_cast<void*>(&Open);
    if (n == "USBAdapterClose") return reinterpret_cast<void*>(&Close);
    if (n == "USBAdapterCIReset") return reinterpret_cast<void*>(&Reset);
    if (n == "GetCIStatus") return reinterpret_cast<void*>(&Status);
    if (n == "WriteCOR") return reinterpret_cast<void*>(&Cor);
    if (n == "NegociateCI") return reinterpret_cast<void*>(&Negotiate);
    if (n == "SetTimeout") return reinterpret_cast<void*>(&Timeout);
    if (n == "WriteExchange") return reinterpret_cast<void*>(&Exchange);
    if (n == "LoadFirmware") return reinterpret_cast<void*>(&LoadProgram);
    return nullptr;
  }
  void Unload(platform::LibraryHandle library) override {
    if (library == kLibrary) ++libraryUnloads;
  }
  std::string ProgramFolder() override { return "/opt/morvane/"; }

  static inline platform::LibraryHandle const kRuntime =
      reinterpret_cast<platform::LibraryHandle>(0x11);
  static inline platform::LibraryHandle const kLibrary =
      reinterpret_cast<platform::LibraryHandle>(0x22);
  bool runtimePresent = true;
  bool libraryPresent = true;
  std::set<std::string> missing;
  std::string faultingLookup;
  std::vector<std::string> loads;
  int libraryUnloads = 0;
};

class Binding : public ::testing::Test {
 protected:
  Binding() {
    fake = {};
    host = std::make_unique<sim::SimHost>(clock, [this] { link->TimeoutTick(); });
    ports.SetLogging(false);
    link = std::make_unique<ModuleLink>(LinkServices{clock, ports, devices, libraries, *host});
    link->AutoProbe = true;
  }
  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : fake.calls) n += c == call ? 1 : 0;
    return n;
  }

  sim::VirtualClock clock{1000};
  std::unique_ptr<sim::SimHost> host;
  sim::SimPortSpace ports;
  test::RecordingDevices devices;
  TestLibraries libraries;
  std::unique_ptr<ModuleLink> link;
};

using Pauses = std::vector<std::uint32_t>;

TEST_F(Binding, WithoutTheUsbRuntimeNothingIsLoadedAndNothingWaits) {
  libraries.runtimePresent = false;
  EXPECT_FALSE(link->BindAdapterLibrary());
  EXPECT_EQ(libraries.loads, std::vector<std::string>{platform::kUsbRuntimeLibrary});
  EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(Binding, MissingLibraryCostsOnePause) {
  libraries.libraryPresent = false;
  EXPECT_FALSE(link->BindAdapterLibrary());
  EXPECT_EQ(libraries.loads.back(), "/opt/morvane/" + std::string(platform::kAdapterLibraryFile));
  EXPECT_EQ(clock.Sleeps(), Pauses{1500});
  EXPECT_FALSE(link->AdapterBound);
}

class MissingExport : public Binding, public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingExport, UnloadsTheLibraryAfterTwoPauses) {
  libraries.missing.insert(GetParam());
  EXPECT_FALSE(link->BindAdapterLibrary());
  EXPECT_EQ(clock.Sleeps(), (Pauses{1500, 1500}));
  EXPECT_EQ(libraries.libraryUnloads, 1);
  EXPECT_FALSE(link->AdapterBound);
  EXPECT_EQ(link->Adapter.SearchUSBAdapter, nullptr);
}

INSTANTIATE_TEST_SUITE_P(RequiredExports, MissingExport,
                         ::testing::Values("SearchUSBAdapter", "USBAdapterOpen", "USBAdapterClose",
                                           "USBAdapterCIReset", "GetCIStatus", "WriteCOR",
                                           "NegociateCI", "WriteExchange", "SetTimeout"));

TEST_F(Binding, LibraryWithoutLoadFirmwareBinds) {
  libraries.missing.insert("LoadFirmware");
  EXPECT_TRUE(link->BindAdapterLibrary());
  EXPECT_EQ(clock.Sleeps(), Pauses{1500});
  EXPECT_EQ(link->Adapter.LoadFirmware, nullptr);
}

TEST_F(Binding, ReadyModuleOpensWithTheFixedPausesOnly) {
  EXPECT_EQ(link->ModuleOpen(host.get(), true), 0);
  EXPECT_TRUE(link->AdapterBound);
  // Binding, configuration, before the close, configuration again, before the negotiation.
  EXPECT_EQ(clock.Sleeps(), (Pauses{1500, 300, 1000, 300, 300}));
  EXPECT_EQ(Count("WriteCOR 510 9 800"), 2);
  EXPECT_EQ(Count("LoadFirmware"), 0);
  EXPECT_EQ(fake.timeouts, (std::vector<std::int32_t>{2000, 2000}));
  EXPECT_EQ(link->LibraryTimeout, 2000);
  EXPECT_EQ(link->IOBase, 0);
}

TEST_F(Binding, AdapterWithoutProgramIsDownloadedWithItsIds) {
  fake.resetStatuses = {0};
  EXPECT_EQ(link->ModuleOpen(host.get(), true), 0);
  EXPECT_EQ(fake.loadArguments, (std::vector<std::int32_t>{0x12345678}));
}

TEST_F(Binding, RefusedDownloadEndsTheOpenWithResultOne) {
  fake.resetStatuses = {0};
  fake.loadResult = 0;
  EXPECT_EQ(link->ModuleOpen(host.get(), true), 1);
  EXPECT_FALSE(link->AdapterBound);
  EXPECT_EQ(fake.calls.back(), "USBAdapterClose");
}

TEST_F(Binding, StatusZeroTwiceWithoutLoadFirmwareLeavesResultOnePending) {
  libraries.missing.insert("LoadFirmware");
  fake.resetStatuses = {0, 0};
  EXPECT_EQ(link->ModuleOpen(host.get(), true), 1);
  EXPECT_EQ(Count("USBAdapterCIReset"), 2);
  EXPECT_EQ(Count("NegociateCI 128"), 0);
  EXPECT_FALSE(link->AdapterBound);
}

TEST_F(Binding, FailingConfigurationWriteGivesMinusTwoAndNoDownload) {
  fake.corResult = 0;
  ASSERT_TRUE(link->BindAdapterLibrary());
  EXPECT_EQ(link->ResetUsbModule(), -2);
  EXPECT_EQ(link->IOBase, 0x320);

  fake = {};
  fake.corResult = 0;
  link->ReleaseAdapterLibrary();
  EXPECT_EQ(link->ModuleOpen(host.get(), true), 1);
  EXPECT_EQ(Count("LoadFirmware"), 0);
  EXPECT_EQ(Count("WriteCOR 510 9 800"), 2);
  EXPECT_FALSE(link->AdapterBound);
}

TEST_F(Binding, ResetWithoutTheEntryGivesMinusOne) {
  EXPECT_EQ(link->ResetUsbModule(), -1);
}

// The retry loop after the re-enumeration: the dialog after the sixth failed attempt and after
// every fifth one from then on.
struct RetryCase {
  int failedSearches;  // -1: never found
  std::vector<bool> answers;
  int openResult;
  std::size_t dialogs;
  friend void PrintTo(const RetryCase& c, std::ostream* out) { *out << c.failedSearches; }
};

class RetryLoop : public Binding, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryLoop, AsksAfterSixThenEveryFiveFailures) {
  const auto& c = GetParam();
  fake.failedSearchesAfterClose = c.failedSearches;
  host->QueueRetryAnswers(c.answers);
  EXPECT_EQ(link->ModuleOpen(host.get(), true), c.openResult);
  EXPECT_EQ(host->RetryDialogs().size(), c.dialogs);
}

INSTANTIATE_TEST_SUITE_P(Adapter, RetryLoop,
                         ::testing::Values(RetryCase{5, {}, 0, 0}, RetryCase{6, {true}, 0, 1},
                                           RetryCase{10, {true}, 0, 1},
                                           RetryCase{11, {true, true}, 0, 2},
                                           RetryCase{-1, {false}, 10, 1},
                                           RetryCase{-1, {true, false}, 10, 2},
                                           RetryCase{-1, {true, true, false}, 10, 3}));

TEST_F(Binding, CancelReleasesTheLibraryBeforeReturningTen) {
  fake.failedSearchesAfterClose = -1;
  host->QueueRetryAnswers({true, false});
  EXPECT_EQ(link->ModuleOpen(host.get(), true), 10);
  // Eleven failed attempts, each followed by a second's pause.
  EXPECT_EQ(fake.searchesAfterClose, 11);
  EXPECT_EQ(fake.calls.back(), "USBAdapterClose");
  EXPECT_EQ(libraries.libraryUnloads, 1);
  EXPECT_EQ(clock.Sleeps().back(), 1500u);
  EXPECT_FALSE(link->AdapterBound);
}

TEST_F(Binding, CloseThatNeverReleasesIsTriedThreeTimes) {
  ASSERT_TRUE(link->BindAdapterLibrary());
  fake.closeResults = {0, 0, 0};
  link->ReleaseAdapterLibrary();
  EXPECT_EQ(fake.closes, 3);
  EXPECT_EQ(clock.Sleeps(), (Pauses{1500, 300, 300, 300, 1500}));
  EXPECT_EQ(libraries.libraryUnloads, 1);
  EXPECT_FALSE(link->AdapterBound);
}

TEST_F(Binding, ReleaseWithNothingBoundOnlyPauses) {
  link->ReleaseAdapterLibrary();
  EXPECT_EQ(clock.Sleeps(), Pauses{1500});
  EXPECT_EQ(libraries.libraryUnloads, 0);
}

struct IdCase {
  const char* path;
  std::int32_t id;
};

TEST(AdapterId, VendorAndProductFromTheDevicePath) {
  const IdCase cases[] = {
      {"\\\\?\\usb#vid_1234&pid_5678#6&1&0#{f4d5a772}", 0x12345678},
      {"\\\\?\\usb#vid_1b0d&pid_5f10#6&1&0#{f4d5a772}", 0x1B0D5F10},
      {"\\\\?\\usb#vid_1234&pid_567", -1},  // shorter than 25 characters
      {"\\\\?\\usb#vid_12g4&pid_5678#6&1&0", -1},
      {"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(ModuleLink::AdapterId(c.path), c.id) << c.path;
}

TEST_F(Binding, SetTimeoutOnlyWhenTheTimeOutChanges) {
  ASSERT_TRUE(link->BindAdapterLibrary());
  link->LibraryTimeout = 2000;
  for (std::int32_t timeout : {4000, 4000, 4000, 50000, 50000, 1999})
    link->ModuleExchange("00", timeout);
  EXPECT_EQ(fake.timeouts, (std::vector<std::int32_t>{4000, 50000, 1999}));
  EXPECT_EQ(Count("WriteExchange"), 6);
}

// An exception from a library call ends where the access layer guards it; a USB failure that
// is not final falls back to the next transport (here the driver, which is missing: 2).
struct GuardCase {
  const char* name;
  const char* throwingExport;  // nullptr: none throws
  bool noAdapter;
  std::deque<std::int32_t> resetStatuses;
  int openResult;
  bool bound;        // the library still bound after the open
  int downloads;     // LoadFirmware calls
  bool driverTried;  // the fall back reached the driver transport
};

class ExceptionGuard : public Binding, public ::testing::WithParamInterface<GuardCase> {};

TEST_P(ExceptionGuard, EndsWhereTheLayerGuardsIt) {
  const GuardCase& c = GetParam();
  link->UseDriver = true;
  if (c.throwingExport != nullptr) fake.throwing.insert(c.throwingExport);
  fake.noAdapter = c.noAdapter;
  fake.resetStatuses = c.resetStatuses;
  EXPECT_EQ(link->ModuleOpen(host.get(), true), c.openResult);
  EXPECT_EQ(link->AdapterBound, c.bound);
  EXPECT_EQ(libraries.libraryUnloads, c.bound ? 0 : 1);
  EXPECT_EQ(Count("LoadFirmware"), c.downloads);
  EXPECT_EQ(devices.opened.size(), c.driverTried ? 1u : 0u);
  if (!c.bound) {
    EXPECT_EQ(clock.Sleeps().back(), 1500u) << "released with its pause";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, ExceptionGuard,
    ::testing::Values(GuardCase{"NoAdapterAtTheFirstSearch", nullptr, true, {}, 2, false, 0, true},
                      GuardCase{"SearchThrows", "SearchUSBAdapter", false, {}, 2, false, 0, true},
                      GuardCase{"OpenThrows", "USBAdapterOpen", false, {}, 2, false, 0, true},
                      // A reset that throws reads as status 0: the program is downloaded, and after
                      // the re-enumeration the module is still not ready.
                      GuardCase{"ResetThrows", "USBAdapterCIReset", false, {}, 1, false, 1, true},
                      GuardCase{
                          "ConfigurationWriteThrows", "WriteCOR", false, {}, 1, false, 0, true},
                      GuardCase{"SetTimeoutThrows", "SetTimeout", false, {}, 0, true, 0, false},
                      GuardCase{"DownloadThrows", "LoadFirmware", false, {0}, 2, false, 1, true},
                      GuardCase{"CloseThrows", "USBAdapterClose", false, {}, 2, false, 0, true},
                      GuardCase{"NegotiationThrows", "NegociateCI", false, {}, 4, false, 0, false}),
    [](const auto& info) { return info.param.name; });

// A processor fault or an abort inside a library call ends as an exception at that step would,
// and nothing calls into the library after it: the open falls back to the next transport (the
// driver, missing here: 2) or ends as its step says, and the release unloads the library without
// asking it to close.
struct FaultCase {
  const char* name;
  const char* faultingExport;
  const char* how;
  std::deque<std::int32_t> resetStatuses;
  int openResult;
};

class FaultGuard : public Binding, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultGuard, EndsTheStepAndNeverCallsTheLibraryAgain) {
  const FaultCase& c = GetParam();
  link->UseDriver = true;
  fake.faulting[c.faultingExport] = c.how;
  fake.resetStatuses = c.resetStatuses;
  EXPECT_EQ(link->ModuleOpen(host.get(), true), c.openResult);
  EXPECT_EQ(fake.entries, fake.entriesAtFault) << "a call after the fault";
  EXPECT_FALSE(link->AdapterBound);
  EXPECT_EQ(libraries.libraryUnloads, 1);
  EXPECT_EQ(devices.opened.size(), c.openResult == 2 ? 1u : 0u);
  EXPECT_EQ(clock.Sleeps().back(), 1500u) << "released with its pause";
}

INSTANTIATE_TEST_SUITE_P(
    Exports, FaultGuard,
    ::testing::Values(FaultCase{"SearchWritesNowhere", "SearchUSBAdapter", "segv", {}, 2},
                      FaultCase{"SearchAborts", "SearchUSBAdapter", "abort", {}, 2},
                      FaultCase{"OpenOverflowsItsStack", "USBAdapterOpen", "stack", {}, 2},
                      FaultCase{"ResetHitsAnIllegalInstruction", "USBAdapterCIReset", "ill", {}, 2},
                      FaultCase{"ConfigurationWriteDividesByZero", "WriteCOR", "fpe", {}, 2},
                      FaultCase{"SetTimeoutBusError", "SetTimeout", "bus", {}, 2},
                      FaultCase{"DownloadWritesNowhere", "LoadFirmware", "segv", {0}, 2},
                      FaultCase{"CloseAborts", "USBAdapterClose", "abort", {}, 2},
                      FaultCase{"NegotiationWritesNowhere", "NegociateCI", "segv", {}, 4}),
    [](const auto& info) { return info.param.name; });

TEST_F(Binding, ALookupThatFaultsLeavesTheLibraryUnbound) {
  libraries.faultingLookup = "WriteCOR";
  EXPECT_FALSE(link->BindAdapterLibrary());
  EXPECT_EQ(libraries.libraryUnloads, 1);
  EXPECT_EQ(clock.Sleeps(), (Pauses{1500, 1500}));
}

// A faulting exchange (an overrun of the answer buffer among them) is a failed exchange; the
// library is not called again and is unloaded without its close.
TEST_F(Binding, AFaultingExchangeIsAFailedOneAndTheLastCall) {
  for (const char* how : {"overrun", "segv", "abort"}) {
    fake = {};
    libraries.libraryUnloads = 0;
    ASSERT_EQ(link->ModuleOpen(host.get(), true), 0) << how;
    const int closesBefore = fake.closes;
    fake.faulting["WriteExchange"] = how;
    link->TimeoutCountdown = 500;
    link->ModuleExchange("00", 4000);
    EXPECT_EQ(link->AnswerText, "") << how;
    EXPECT_EQ(link->TimeoutCountdown, 0) << how;
    link->ModuleExchange("00", 4000);
    link->ModuleClose();
    EXPECT_EQ(fake.entries, fake.entriesAtFault) << how;
    EXPECT_EQ(fake.closes, closesBefore) << how;
    EXPECT_EQ(libraries.libraryUnloads, 1) << how;
  }
}

TEST_F(Binding, ASetTimeoutThatThrowsEndsTheCountdownAndKeepsTheOldTimeOut) {
  fake.throwing.insert("SetTimeout");
  ASSERT_EQ(link->ModuleOpen(host.get(), true), 0);
  EXPECT_EQ(link->LibraryTimeout, 60000);
  link->TimeoutCountdown = 500;
  link->ModuleExchange("00", 4000);
  EXPECT_EQ(link->TimeoutCountdown, 0);
  EXPECT_EQ(link->AnswerText, "");
  EXPECT_EQ(link->LibraryTimeout, 60000);
}

TEST_F(Binding, ACloseThatThrowsIsTriedThreeTimesAndTheLibraryStillGoes) {
  ASSERT_TRUE(link->BindAdapterLibrary());
  fake.throwing.insert("USBAdapterClose");
  link->ReleaseAdapterLibrary();
  EXPECT_EQ(fake.closes, 3);
  EXPECT_EQ(clock.Sleeps(), (Pauses{1500, 300, 300, 300, 1500}));
  EXPECT_EQ(libraries.libraryUnloads, 1);
}

}  // namespace
