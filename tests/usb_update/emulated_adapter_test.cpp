// The emulated adapter through the library's exports: its cold life, the download and the
// return under the patched IDs, a download that is not the program, and the pipe semantics the
// library relies on.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "device_object.h"
#include "usb_rig.h"

namespace usb_test {
namespace {

bool Reopen(UsbRig& rig, std::uint32_t waitMs) {
  USBAdapterClose();
  rig.clock.AdvanceMs(waitMs);
  const std::string path = SearchAdapter();
  return !path.empty() && USBAdapterOpen(path.c_str()) == 1;
}

TEST(EmulatedAdapter, ColdAdapterAnswersOnlyTheDownload) {
  UsbRig rig(0x1234, 0x5678);
  const std::string path = SearchAdapter();
  EXPECT_EQ(path.substr(0, 25), "\\\\?\\usb#vid_1234&pid_5678");
  ASSERT_EQ(USBAdapterOpen(path.c_str()), 1);
  SetTimeout(2000);
  EXPECT_EQ(USBAdapterCIReset(), 0);  // no interrupt IN pipe before the program runs
  EXPECT_EQ(GetCIStatus(), -1);
  EXPECT_EQ(ModuleLink::AdapterId(path.c_str()), 0x12345678);
}

struct DownloadCase {
  std::string name;
  std::int32_t ids;
  std::uint16_t vendor;
  std::uint16_t product;
  friend void PrintTo(const DownloadCase& c, std::ostream* out) { *out << c.name; }
};

class Download : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(Download, AdapterComesBackUnderTheIdsInItsDescriptor) {
  const auto& c = GetParam();
  UsbRig rig(0x1234, 0x5678);
  ASSERT_EQ(USBAdapterOpen(SearchAdapter().c_str()), 1);
  ASSERT_EQ(LoadFirmware(c.ids), 1);
  EXPECT_TRUE(rig.adapter->ProgramRunning());
  USBAdapterClose();
  rig.clock.AdvanceMs(100);
  EXPECT_EQ(SearchAdapter(), "");  // off the bus while it re-enumerates
  ASSERT_TRUE(Reopen(rig, 1500));
  EXPECT_EQ(rig.adapter->VendorId(), c.vendor);
  EXPECT_EQ(rig.adapter->ProductId(), c.product);
  SetTimeout(2000);
  EXPECT_EQ(USBAdapterCIReset(), 2);
  EXPECT_EQ(WriteCOR(0x1FE, 9, 0x320), 1);
  std::int32_t size = 0;
  EXPECT_EQ(NegociateCI(128, &size), 1);
  EXPECT_EQ(size, 128);
  EXPECT_EQ(GetCIStatus(), 0x40);  // FR
}

INSTANTIATE_TEST_SUITE_P(Adapter, Download,
                         ::testing::Values(DownloadCase{"IdsKept", 0x12345678, 0x1234, 0x5678},
                                           DownloadCase{"Unchanged", 0x100, 0x1B0D, 0x5F10},
                                           DownloadCase{"LowIds", 0x101, 0x0000, 0x0101}),
                         [](const auto& info) { return info.param.name; });

// What is downloaded is what runs: code that never gets to the program's start-up leaves the
// adapter as it was, cold, with the chip's own descriptors and no reply pipe.
struct ForeignCodeCase {
  std::string name;
  std::vector<std::uint8_t> code;  // at address 0, the rest of code memory 0xFF
  friend void PrintTo(const ForeignCodeCase& c, std::ostream* out) { *out << c.name; }
};

class ForeignCode : public ::testing::TestWithParam<ForeignCodeCase> {};

TEST_P(ForeignCode, LeavesTheAdapterCold) {
  UsbRig rig(0x1234, 0x5678);
  const std::string path = SearchAdapter();
  ASSERT_EQ(USBAdapterOpen(path.c_str()), 1);
  const auto handle = cibridge::g_pDevice->InterfaceHandle();
  std::uint8_t one = 1;
  std::uint8_t zero = 0;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> memory(0x2000, 0xFF);
  std::copy(GetParam().code.begin(), GetParam().code.end(), memory.begin());
  ASSERT_TRUE(rig.adapter->ControlTransfer(handle, {0x40, 0xA0, 0xE600, 0, 1}, &one, 1, &count));
  for (std::uint16_t address = 0; address < 0x2000; address += 16)
    rig.adapter->ControlTransfer(handle, {0x40, 0xA0, address, 0, 16}, memory.data() + address, 16,
                                 &count);
  ASSERT_TRUE(rig.adapter->ControlTransfer(handle, {0x40, 0xA0, 0xE600, 0, 1}, &zero, 1, &count));
  EXPECT_TRUE(rig.adapter->ProgramRunning());
  ASSERT_TRUE(Reopen(rig, 3000));
  EXPECT_EQ(SearchAdapter(), path);
  SetTimeout(2000);
  EXPECT_EQ(USBAdapterCIReset(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Adapter, ForeignCode,
    ::testing::Values(ForeignCodeCase{"EndlessLoopFirst", {0x80, 0xFE}},  // SJMP $
                      ForeignCodeCase{"Zeros", std::vector<std::uint8_t>(0x2000, 0x00)}),
    [](const auto& info) { return info.param.name; });

// A reply the host stopped waiting for is dropped by the pipe reset before the next command:
// the module answers after the library's read timed out, and the next exchange still gets the
// right answer, fetched under the keep-the-answer rule instead of a stale frame.
TEST(EmulatedAdapter, LateAnswerIsKeptNotMistakenForTheNextReply) {
  UsbRig rig;
  ASSERT_TRUE(OpenWarmLink(rig));
  rig.module->DelayAt(1, 3'000'000);
  std::vector<std::uint8_t> first(73, 0x00);
  const std::uint8_t prefix[] = {0x13, 0x01, 0x00, 0x80, 0xFF, 0x00, 0x00, 0x86, 0x00};
  std::copy(std::begin(prefix), std::end(prefix), first.begin());
  for (int i = 0; i < 64; ++i) first[9 + i] = rig.image.InitData[i];
  std::array<std::uint8_t, 256> answer{};
  std::int32_t length = 256;
  SetTimeout(1000);
  EXPECT_EQ(WriteExchange(first.data(), 73, answer.data(), &length), 1);
  EXPECT_EQ(length, 0);  // the read timed out: no answer
  rig.clock.AdvanceMs(3000);
  length = 256;
  EXPECT_EQ(WriteExchange(first.data(), 73, answer.data(), &length), 1);
  ASSERT_EQ(length, 6);
  EXPECT_EQ(std::vector<std::uint8_t>(answer.begin(), answer.begin() + 6),
            sim::CiModule::Bytes("2101029000B2"));
  EXPECT_EQ(rig.module->MessageCount(), 1);  // the repeated message was not written again
}

// On a full-speed port the program presents its other-speed configuration, which has no
// endpoints: the library finds no pipes to open.
TEST(EmulatedAdapter, AtFullSpeedTheProgramOffersNoPipes) {
  UsbRig rig;
  rig.adapter->SetFullSpeed(true);
  rig.adapter->StartWarm();
  EXPECT_FALSE(rig.adapter->Chip().HighSpeed());
  const std::string path = SearchAdapter();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(USBAdapterOpen(path.c_str()), 0);
}

TEST(EmulatedAdapter, UnpluggedAdapterFailsEveryCall) {
  UsbRig rig;
  rig.adapter->StartWarm();
  ASSERT_EQ(USBAdapterOpen(SearchAdapter().c_str()), 1);
  rig.adapter->Unplug();
  SetTimeout(2000);
  EXPECT_EQ(USBAdapterCIReset(), 0);
  EXPECT_EQ(WriteCOR(0x1FE, 9, 0x320), 0);
  EXPECT_EQ(SearchAdapter(), "");
}

}  // namespace
}  // namespace usb_test
