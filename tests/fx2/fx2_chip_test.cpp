// The FX2 chip model as the program reaches it (register window, SFRs) and as the host reaches
// it (setup packets, bulk packets), and the PC Card slot on its port pins. The whole program
// runs on the model in tests/usb_update; these pin down the documented behaviour it relies on.
#include <gtest/gtest.h>

#include <vector>

#include "fx2_chip.h"
#include "pcmcia_slot.h"
#include "virtual_clock.h"

namespace {

using sim::fx2::Fx2Chip;
using sim::fx2::PcmciaSlot;
using Handshake = Fx2Chip::Handshake;

constexpr std::uint16_t kEp4Bcl = 0xE695, kEp8Bch = 0xE69C, kEp8Bcl = 0xE69D, kEp2468Stat = 0xE6A8,
                        kEp0Cs = 0xE6A0, kEp0Bcl = 0xE68B, kUsbIe = 0xE65C, kUsbIrq = 0xE65D,
                        kTogCtl = 0xE683, kFifoReset = 0xE604, kUsbCs = 0xE680, kSudPtrH = 0xE6B3,
                        kSudPtrL = 0xE6B4;

TEST(Fx2Chip, CommandEndpointIsDoubleBuffered) {
  Fx2Chip chip(0x1B0D, 0x5F10);
  const std::vector<std::uint8_t> a{1, 2, 3}, b{4, 5}, c{6};
  EXPECT_EQ(chip.ReadXdata(kEp2468Stat) & 0x0C, 0x04);  // EP4 empty
  EXPECT_EQ(chip.OutPacket(0x04, a, false), Handshake::kAck);
  EXPECT_EQ(chip.OutPacket(0x04, b, true), Handshake::kAck);
  EXPECT_EQ(chip.OutPacket(0x04, c, false), Handshake::kNak);  // both buffers full
  EXPECT_EQ(chip.ReadXdata(kEp2468Stat) & 0x0C, 0x08);
  EXPECT_EQ(chip.ReadXdata(kEp4Bcl), 3);
  EXPECT_EQ(chip.Cpu().Memory()[0xF402], 3);
  chip.WriteXdata(kEp4Bcl, 0x80);  // skip: the buffer goes back to the USB core
  EXPECT_EQ(chip.ReadXdata(kEp4Bcl), 2);
  EXPECT_EQ(chip.Cpu().Memory()[0xF400], 4);
  // A packet with the toggle the endpoint saw last is a repeat: acknowledged, dropped.
  EXPECT_EQ(chip.OutPacket(0x04, c, true), Handshake::kRepeat);
  chip.WriteXdata(kFifoReset, 0x80);
  EXPECT_EQ(chip.OutPacket(0x04, c, false), Handshake::kNak);  // NAK-all
  chip.WriteXdata(kFifoReset, 0x04);
  EXPECT_EQ(chip.ReadXdata(kEp2468Stat) & 0x0C, 0x04);
}

TEST(Fx2Chip, ReplyEndpointSendsCommittedPacketsWithItsToggle) {
  Fx2Chip chip(0x1B0D, 0x5F10);
  Handshake handshake;
  EXPECT_FALSE(chip.InPacket(0x88, false, &handshake));
  EXPECT_EQ(handshake, Handshake::kNak);
  for (std::uint8_t i = 0; i < 3; ++i) {
    chip.Cpu().Memory()[0xFC00] = i;
    chip.WriteXdata(kEp8Bch, 0);
    chip.WriteXdata(kEp8Bcl, 4);
  }
  EXPECT_EQ(chip.ReadXdata(kEp2468Stat) & 0xC0, 0x80);  // full; the third commit was lost
  auto first = chip.InPacket(0x88, false, &handshake);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->size(), 4u);
  EXPECT_EQ((*first)[0], 0);
  // The host reset its toggle, the program did not: the next packet is taken as a repeat.
  EXPECT_FALSE(chip.InPacket(0x88, false, &handshake));
  EXPECT_EQ(handshake, Handshake::kRepeat);
  chip.WriteXdata(kTogCtl, 0x18);
  chip.WriteXdata(kTogCtl, 0x38);  // reset EP8 IN's toggle
  EXPECT_EQ(chip.ReadXdata(kTogCtl) & 0x80, 0);
}

TEST(Fx2Chip, SetupPacketsGoToTheProgramOnlyAfterRenumeration) {
  Fx2Chip chip(0x1234, 0x5678);
  chip.StartControl({0x80, 0x06, 0x0100, 0, 18}, {});  // the USB core answers
  ASSERT_EQ(chip.Control(), Fx2Chip::ControlState::kDone);
  EXPECT_EQ(chip.ControlInData()[8], 0x34);

  chip.WriteXdata(kUsbIe, 0x01);
  chip.WriteXdata(kUsbCs, Fx2Chip::kUsbcsRenum);
  chip.StartControl({0x80, 0x06, 0x0100, 0, 64}, {});
  EXPECT_EQ(chip.Control(), Fx2Chip::ControlState::kPending);
  EXPECT_EQ(chip.ReadXdata(0xE6BB), 0x01);  // SETUPDAT[3]
  EXPECT_EQ(chip.ReadXdata(kUsbIrq) & 0x01, 0x01);
  EXPECT_NE(chip.Cpu().SfrStorage(0x91) & 0x10, 0);  // INT2 requested
  EXPECT_EQ(chip.ReadXdata(kEp0Cs) & 0x80, 0x80);    // HSNAK
  chip.WriteXdata(kUsbIrq, 0x01);
  EXPECT_EQ(chip.ReadXdata(kUsbIrq) & 0x01, 0);
  // Served through SUDPTR from a descriptor in code memory; the handshake ends it.
  const std::uint8_t descriptor[18] = {18, 1, 0, 2, 0, 0, 0, 64, 0x0D, 0x1B};
  std::copy(std::begin(descriptor), std::end(descriptor), chip.Cpu().Memory() + 0x100);
  chip.WriteXdata(kSudPtrH, 0x01);
  chip.WriteXdata(kSudPtrL, 0x00);
  EXPECT_EQ(chip.Control(), Fx2Chip::ControlState::kPending);
  chip.WriteXdata(kEp0Cs, 0x80);
  ASSERT_EQ(chip.Control(), Fx2Chip::ControlState::kDone);
  EXPECT_EQ(chip.ControlInData().size(), 18u);
  EXPECT_EQ(chip.ControlInData()[8], 0x0D);

  chip.StartControl({0x40, 0x33, 0, 0, 0}, {});
  chip.WriteXdata(kEp0Cs, 0x81);  // stall
  EXPECT_EQ(chip.Control(), Fx2Chip::ControlState::kStalled);
  chip.StartControl({0x80, 0x00, 0, 0, 2}, {});  // the next setup clears the stall
  chip.Cpu().Memory()[0xE740] = 0;
  chip.WriteXdata(kEp0Bcl, 2);
  chip.WriteXdata(kEp0Cs, 0x80);
  EXPECT_EQ(chip.Control(), Fx2Chip::ControlState::kDone);
}

TEST(Fx2Chip, FirmwareLoadReachesMemoryAndCpucsOnly) {
  Fx2Chip chip(0x1B0D, 0x5F10);
  EXPECT_TRUE(chip.CpuHeld());
  const std::uint8_t bytes[] = {0xAA, 0xBB};
  chip.StartControl({0x40, 0xA0, 0x1FFF, 0, 2}, bytes);  // 0x2000 lies outside the 8 KB
  EXPECT_EQ(chip.Cpu().Memory()[0x1FFF], 0xAA);
  EXPECT_NE(chip.Cpu().Memory()[0x2000], 0xBB);
  chip.StartControl({0x40, 0xA0, 0xE000, 0, 1}, bytes);  // scratch RAM
  EXPECT_EQ(chip.Cpu().Memory()[0xE000], 0xAA);
  const std::uint8_t release = 0;
  chip.StartControl({0x40, 0xA0, Fx2Chip::kCpuCs, 0, 1}, {&release, 1});
  EXPECT_FALSE(chip.CpuHeld());
  EXPECT_EQ(chip.CpuReleases(), 1);
}

TEST(Fx2Chip, DisconnectIsSeenByTheHost) {
  Fx2Chip chip(0x1B0D, 0x5F10);
  EXPECT_TRUE(chip.Connected());
  chip.WriteXdata(kUsbCs, Fx2Chip::kUsbcsDiscon | Fx2Chip::kUsbcsRenum);
  EXPECT_FALSE(chip.Connected());
  EXPECT_EQ(chip.Disconnects(), 1);
  chip.WriteXdata(kUsbCs, Fx2Chip::kUsbcsRenum);
  EXPECT_TRUE(chip.Connected());
  EXPECT_TRUE(chip.Renumerated());
}

// --- The slot on the port pins ---

struct SlotRig {
  SlotRig() {
    sim::ModuleImage image;
    module = std::make_unique<sim::CiModule>(clock, image);
    slot = std::make_unique<PcmciaSlot>([this] { return nowUs; }, module.get());
    ports.oe = {0xFF, 0x00, 0xFF, 0xFF, 0x10};
    ports.latch = {0xBF, 0, 0, 0, 0x10};  // strobes high, RESET low, Vcc off
    slot->PortsChanged(ports);
  }
  void SetA(std::uint8_t bits, bool high) {
    ports.latch[0] = high ? (ports.latch[0] | bits) : (ports.latch[0] & ~bits);
    slot->PortsChanged(ports);
  }
  void Wait(std::uint32_t ms) { nowUs += ms * 1000u; }
  void PowerUpAndReset(std::uint32_t settleMs) {
    SetA(0x40, true);   // RESET
    SetA(0x80, false);  // Vcc on
    Wait(settleMs);
    SetA(0x40, false);
  }
  std::uint8_t AttributeRead(std::uint16_t address) {
    ports.latch[3] = static_cast<std::uint8_t>(address);
    ports.latch[2] = static_cast<std::uint8_t>(address >> 8);
    SetA(0x21, false);  // REG#, CE1#
    SetA(0x02, false);  // OE#
    const std::uint8_t value = slot->PinLevels(PcmciaSlot::kPortB);
    SetA(0x23, true);
    return value;
  }
  void AttributeWrite(std::uint16_t address, std::uint8_t value) {
    ports.latch[3] = static_cast<std::uint8_t>(address);
    ports.latch[2] = static_cast<std::uint8_t>(address >> 8);
    ports.latch[1] = value;
    ports.oe[1] = 0xFF;
    SetA(0x21, false);
    SetA(0x04, false);  // WE#
    SetA(0x25, true);
    ports.oe[1] = 0x00;
    slot->PortsChanged(ports);
  }
  bool Ready() { return (slot->PinLevels(PcmciaSlot::kPortE) & 0x04) != 0; }

  sim::VirtualClock clock;
  std::uint64_t nowUs = 0;
  std::unique_ptr<sim::CiModule> module;
  std::unique_ptr<PcmciaSlot> slot;
  sim::fx2::PortOutputs ports;
};

TEST(PcmciaSlot, CardStartsOnlyAfterAProperPowerUpReset) {
  SlotRig rig;
  EXPECT_EQ(rig.slot->PinLevels(PcmciaSlot::kPortE) & 0x03, 0);  // both card detects low
  rig.PowerUpAndReset(5);  // RESET released before Vcc settled
  EXPECT_EQ(rig.slot->LostResets(), 1);
  EXPECT_TRUE(rig.Ready());  // undriven at first: the pull-up
  rig.Wait(500);
  EXPECT_FALSE(rig.Ready());
  EXPECT_EQ(rig.AttributeRead(PcmciaSlot::kCorAddress), 0xFF);

  rig.SetA(0x40, true);  // a proper reset with Vcc settled by now
  rig.Wait(1);
  rig.SetA(0x40, false);
  EXPECT_EQ(rig.slot->Resets(), 1);
  rig.Wait(50);
  EXPECT_FALSE(rig.Ready());  // starting up
  rig.Wait(100);
  EXPECT_TRUE(rig.Ready());
  rig.AttributeWrite(PcmciaSlot::kCorAddress, 0x09);
  EXPECT_EQ(rig.AttributeRead(PcmciaSlot::kCorAddress), 0x09);
  EXPECT_EQ(rig.slot->Cor(), 0x09);
}

TEST(PcmciaSlot, CardPutIntoAPoweredSlotWaitsForAPowerCycle) {
  SlotRig rig;
  rig.PowerUpAndReset(50);
  rig.module->Remove();
  EXPECT_FALSE(rig.slot->CardPresent());
  rig.module->Insert();
  EXPECT_TRUE(rig.slot->CardPresent());
  EXPECT_EQ(rig.slot->HotInsertions(), 1);
  rig.SetA(0x40, true);
  rig.Wait(50);
  rig.SetA(0x40, false);
  rig.Wait(200);
  EXPECT_FALSE(rig.Ready());
  rig.SetA(0x80, true);  // power off, then the proper sequence
  rig.PowerUpAndReset(50);
  rig.Wait(200);
  EXPECT_TRUE(rig.Ready());
}

}  // namespace
