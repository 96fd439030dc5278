// Faults of the adapter program that only show on the hardware, shown on the emulated FX2 running
// the program's binary: the download's last write, a reply that outlives its command, sizes the
// module reports, and the slot's power and reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "device_object.h"
#include "usb_rig.h"

namespace usb_test {
namespace {

// The first message of the update, with its command frame's header in front.
std::vector<std::uint8_t> FirstPreparationFrame(const UsbRig& rig) {
  const std::uint8_t head[] = {0x20, 0x00, 0xFF, 73,   0x13, 0x01, 0x00,
                               0x80, 0xFF, 0x00, 0x00, 0x86, 0x00};
  std::vector<std::uint8_t> frame(sizeof head + 64);
  std::copy(std::begin(head), std::end(head), frame.begin());
  std::copy(rig.image.InitData, rig.image.InitData + 64, frame.begin() + sizeof head);
  return frame;
}

// The release of the CPU is the download's last control write; the program must still be on
// the bus when its status stage comes, and the library must not take a release whose status
// stage was lost for a failed download.
struct ReleaseCase {
  std::string name;
  std::uint32_t statusStageUs;
  bool seamWriteSucceeds;  // the release write itself, as the device answers it
  friend void PrintTo(const ReleaseCase& c, std::ostream* out) { *out << c.name; }
};

class DownloadRelease : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(DownloadRelease, CountsAsDoneAndTheAdapterComesBack) {
  const auto& c = GetParam();
  {
    UsbRig rig;
    rig.adapter->SetStatusStageUs(c.statusStageUs);
    ASSERT_EQ(USBAdapterOpen(SearchAdapter().c_str()), 1);
    const auto handle = cibridge::g_pDevice->InterfaceHandle();
    std::uint8_t hold = 1, release = 0;
    std::uint32_t count = 0;
    ASSERT_TRUE(rig.adapter->ControlTransfer(handle, {0x40, 0xA0, 0xE600, 0, 1}, &hold, 1, &count));
    for (std::uint16_t address = 0; address < 0x1C90; address += 16)
      ASSERT_TRUE(rig.adapter->ControlTransfer(
          handle, {0x40, 0xA0, address, 0, 16},
          const_cast<std::uint8_t*>(cibridge::kAdapterProgram + address), 16, &count));
    EXPECT_EQ(rig.adapter->ControlTransfer(handle, {0x40, 0xA0, 0xE600, 0, 1}, &release, 1, &count),
              c.seamWriteSucceeds);
    USBAdapterClose();
  }
  UsbRig rig(0x1234, 0x5678);
  rig.adapter->SetStatusStageUs(c.statusStageUs);
  ASSERT_EQ(USBAdapterOpen(SearchAdapter().c_str()), 1);
  EXPECT_EQ(LoadFirmware(0x12345678), 1);
  USBAdapterClose();
  rig.clock.AdvanceMs(2000);
  ASSERT_EQ(USBAdapterOpen(SearchAdapter().c_str()), 1);
  SetTimeout(2000);
  EXPECT_EQ(USBAdapterCIReset(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Fx2, DownloadRelease,
    ::testing::Values(ReleaseCase{"StatusStageInTheNextMicroframe", 125, true},
                      // A busy bus: the status stage comes 2 ms later; the program waits.
                      ReleaseCase{"StatusStageLate", 2'000, true},
                      // Later than the program waits: the write fails, the library counts it.
                      ReleaseCase{"StatusStageAfterTheDisconnect", 30'000, false}),
    [](const auto& info) { return info.param.name; });

// The host gave up on a command (its read timed out) and resets the reply pipe before its next
// frame; the module answers the old command just then. The old command's reply must not answer
// the new one: the pipe reset abandons it, and the answer is fetched by the next command.
TEST(AdapterProgram, ReplyPipeResetAbandonsTheWaitingCommand) {
  UsbRig rig;
  ASSERT_TRUE(OpenWarmLink(rig));
  rig.module->DelayAt(1, 3'000'000);
  const auto frame = FirstPreparationFrame(rig);
  std::array<std::uint8_t, 256> answer{};
  std::int32_t length = 256;
  SetTimeout(1000);
  ASSERT_EQ(WriteExchange(frame.data() + 4, frame[3], answer.data(), &length), 1);
  ASSERT_EQ(length, 0);  // no answer within the pipe's time-out

  // The library's next exchange, step by step: both pipes reset, then the module answers, then
  // the frame of CMD_READ_DATA.
  auto& usb = *rig.adapter;
  const auto handle = cibridge::g_pDevice->InterfaceHandle();
  ASSERT_TRUE(usb.ResetPipe(handle, 0x04));
  ASSERT_TRUE(usb.ResetPipe(handle, 0x88));
  ASSERT_TRUE(usb.FlushPipe(handle, 0x88));
  rig.clock.AdvanceMs(3000);
  const std::uint8_t readData[] = {0x80, 0x00, 0xFF, 0x00};
  std::uint32_t count = 0;
  ASSERT_TRUE(usb.WritePipe(handle, 0x04, readData, 4, &count));
  std::array<std::uint8_t, 256> reply{};
  ASSERT_TRUE(usb.ReadPipe(handle, 0x88, reply.data(), 256, &count));
  ASSERT_GE(count, 4u);
  EXPECT_EQ(reply[2], 0x06);  // the data reply, not the stale 0x20 of the old command
  EXPECT_EQ(std::vector<std::uint8_t>(reply.begin() + 4, reply.begin() + count),
            sim::CiModule::Bytes("2101029000B2"));
}

// A module that reports an absurd answer size must not keep the program from its control
// endpoint for longer than USB allows a device to take for a request without data (50 ms).
TEST(AdapterProgram, BogusAnswerSizeDoesNotStallTheControlEndpoint) {
  UsbRig rig;
  ASSERT_TRUE(OpenWarmLink(rig));
  rig.module->AnswerAt(1, std::vector<std::uint8_t>(0xFFF0, 0x22));
  const auto frame = FirstPreparationFrame(rig);
  auto& usb = *rig.adapter;
  const auto handle = cibridge::g_pDevice->InterfaceHandle();
  std::uint32_t count = 0;
  ASSERT_TRUE(
      usb.WritePipe(handle, 0x04, frame.data(), static_cast<std::uint32_t>(frame.size()), &count));
  rig.clock.AdvanceMs(1);  // the program has taken the frame and reads the answer
  std::array<std::uint8_t, 2> status{};
  ASSERT_TRUE(usb.ControlTransfer(handle, {0x82, 0x00, 0, 0x88, 2}, status.data(), 2, &count));
  EXPECT_LT(usb.Chip().LongestSetupUs(), 50'000u);
}

// Slot power and reset as a PC card needs them.
TEST(AdapterProgram, ResetsTheCardOnlyWithSettledPower) {
  UsbRig rig;
  rig.adapter->StartWarm();
  ASSERT_EQ(USBAdapterOpen(SearchAdapter().c_str()), 1);
  SetTimeout(2000);
  EXPECT_EQ(USBAdapterCIReset(), 2);
  EXPECT_EQ(rig.adapter->Slot().LostResets(), 0);
  EXPECT_EQ(rig.adapter->Slot().Resets(), 1);
}

TEST(AdapterProgram, DoesNotTakeUndrivenReadyForReady) {
  UsbRig rig;
  rig.adapter->Slot().SetNeverReady(true);
  rig.adapter->StartWarm();
  ASSERT_EQ(USBAdapterOpen(SearchAdapter().c_str()), 1);
  SetTimeout(2000);
  EXPECT_EQ(USBAdapterCIReset(), 0x10);
}

TEST(AdapterProgram, SwitchesSlotPowerOffWhenTheCardLeaves) {
  UsbRig rig;
  ASSERT_TRUE(OpenWarmLink(rig));
  rig.module->Remove();
  rig.clock.AdvanceMs(10);
  EXPECT_EQ(GetCIStatus(), -1);  // answered 0x30
  EXPECT_FALSE(rig.adapter->Slot().Powered());
  rig.module->Insert();
  rig.clock.AdvanceMs(10);
  EXPECT_EQ(USBAdapterCIReset(), 2);
  EXPECT_EQ(rig.adapter->Slot().HotInsertions(), 0);
  EXPECT_EQ(WriteCOR(0x1FE, 9, 0x320), 1);
  std::int32_t size = 0;
  EXPECT_EQ(NegociateCI(128, &size), 1);
  EXPECT_EQ(size, 128);
}

}  // namespace
}  // namespace usb_test
