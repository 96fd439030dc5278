// The FX2's own behaviour of the 8051 core, where s51 (the classic 8051) cannot be the
// reference: its cycle table, DPTR1, MPAGE, the extra interrupt sources, the timers' clock
// choice; and the core's seams: hooked pages and SFRs, the tracer, Run's cycle budget.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "cpu8051.h"

namespace {

using sim::fx2::Cpu8051;

class RecordingBus : public sim::fx2::Cpu8051Bus {
 public:
  std::uint8_t ReadXdata(std::uint16_t address) override {
    reads.push_back(address);
    return xdata[address];
  }
  void WriteXdata(std::uint16_t address, std::uint8_t value) override { xdata[address] = value; }
  std::uint8_t ReadSfr(std::uint8_t address) override {
    reads.push_back(address);
    return sfr[address];
  }
  void WriteSfr(std::uint8_t address, std::uint8_t value) override { sfr[address] = value; }
  std::map<std::uint16_t, std::uint8_t> xdata;
  std::map<std::uint8_t, std::uint8_t> sfr;
  std::vector<std::uint16_t> reads;
};

struct Fx2 : ::testing::Test {
  RecordingBus bus;
  Cpu8051 cpu{bus};
  // Puts `code` at `address` and the PC at the first.
  void Load(std::vector<std::uint8_t> code, std::uint16_t address = 0) {
    std::copy(code.begin(), code.end(), cpu.Memory() + address);
    cpu.SetPc(address);
  }
  std::uint8_t& Sfr(std::uint8_t address) { return cpu.SfrStorage(address); }
};

struct CycleCase {
  const char* name;
  std::vector<std::uint8_t> code;
  int cycles;
};

class Fx2Cycles : public Fx2, public ::testing::WithParamInterface<CycleCase> {};

// The FX2's instruction timing in 4-clock cycles (MOVX with CKCON's reset stretch of one).
TEST_P(Fx2Cycles, TakesItsCycles) {
  Load(GetParam().code);
  EXPECT_EQ(cpu.Step(), GetParam().cycles);
  EXPECT_EQ(cpu.Cycles(), static_cast<std::uint64_t>(GetParam().cycles));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Fx2Cycles,
    ::testing::Values(
        CycleCase{"Nop", {0x00}, 1}, CycleCase{"MovRnA", {0xF8}, 1},
        CycleCase{"MovAImmediate", {0x74, 0x12}, 2},
        CycleCase{"MovDirectDirect", {0x85, 0x30, 0x31}, 3}, CycleCase{"Ajmp", {0x01, 0x00}, 3},
        CycleCase{"Ljmp", {0x02, 0x10, 0x00}, 4}, CycleCase{"Lcall", {0x12, 0x10, 0x00}, 4},
        CycleCase{"Ret", {0x22}, 4}, CycleCase{"SjmpTaken", {0x80, 0x00}, 3},
        CycleCase{"JzNotTaken", {0x70, 0x00}, 3}, CycleCase{"Jb", {0x20, 0x00, 0x00}, 4},
        CycleCase{"Cjne", {0xB4, 0x01, 0x00}, 4}, CycleCase{"DjnzRn", {0xD8, 0x00}, 3},
        CycleCase{"DjnzDirect", {0xD5, 0x30, 0x00}, 4}, CycleCase{"IncDptr", {0xA3}, 3},
        CycleCase{"MovcDptr", {0x93}, 3}, CycleCase{"JmpAPlusDptr", {0x73}, 3},
        CycleCase{"Mul", {0xA4}, 5}, CycleCase{"Div", {0x84}, 5},
        CycleCase{"MovxStretchOne", {0xE0}, 3}, CycleCase{"MovxAtR0", {0xF2}, 3},
        CycleCase{"Push", {0xC0, 0xE0}, 2}, CycleCase{"ReservedA5IsANop", {0xA5}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Fx2, CkconStretchSetsMovxCycles) {
  Load({0x75, 0x8E, 0x00, 0xE0, 0x75, 0x8E, 0x07, 0xF0});  // CKCON=0; MOVX; CKCON=7; MOVX
  cpu.Step();
  EXPECT_EQ(cpu.Step(), 2);
  cpu.Step();
  EXPECT_EQ(cpu.Step(), 9);
}

TEST_F(Fx2, SecondDataPointerAndMpage) {
  // DPS=1; MOV DPTR,#0x1234; INC DPTR; MOVX @DPTR,A (A=0x5A); DPS=0; MOV DPTR,#0x4000;
  // MPAGE=0x21; P2=0x77; MOV R0,#0x10; MOVX @R0,A
  Load({0x74, 0x5A, 0x75, 0x86, 0x01, 0x90, 0x12, 0x34, 0xA3, 0xF0, 0x75, 0x86, 0x00,
        0x90, 0x40, 0x00, 0x75, 0x92, 0x21, 0x75, 0xA0, 0x77, 0x78, 0x10, 0xF2});
  for (int i = 0; i < 5; ++i) cpu.Step();
  EXPECT_EQ(cpu.State().dptr, 0x1235);
  EXPECT_EQ(cpu.Memory()[0x1235], 0x5A);
  EXPECT_EQ(Sfr(0x82), 0x00);
  for (int i = 0; i < 6; ++i) cpu.Step();
  EXPECT_EQ(cpu.State().dptr, 0x4000);
  EXPECT_EQ((Sfr(0x85) << 8) | Sfr(0x84), 0x1235);  // DPTR1 kept
  EXPECT_EQ(cpu.Memory()[0x2110], 0x5A);            // MPAGE, not P2, pages MOVX @Ri
}

TEST_F(Fx2, HookedPagesAndSfrsGoToTheChip) {
  cpu.HookXdataPage(0xE6);
  cpu.HookSfr(0x80);
  cpu.HookSfr(0xE0);  // the accumulator stays the core's
  bus.xdata[0xE680] = 0x42;
  bus.sfr[0x80] = 0xF0;
  // MOV DPTR,#0xE680; MOVX A,@DPTR; MOVX @DPTR,A (to 0xE680 again: via the bus); SETB 0x80
  // (P0.0: read-modify-write on the chip's byte); MOV DPTR,#0xE780; MOVX @DPTR,A (plain)
  Load({0x90, 0xE6, 0x80, 0xE0, 0x04, 0xF0, 0xD2, 0x80, 0x90, 0xE7, 0x80, 0xF0});
  for (int i = 0; i < 7; ++i) cpu.Step();
  EXPECT_EQ(cpu.State().a, 0x43);
  EXPECT_EQ(bus.xdata[0xE680], 0x43);
  EXPECT_EQ(cpu.Memory()[0xE680], 0x00);
  EXPECT_EQ(bus.sfr[0x80], 0xF1);
  EXPECT_EQ(cpu.Memory()[0xE780], 0x43);
}

// Interrupts: the USB interrupt (INT2, EXIF.4, EIE.0, vector 0x43) at high priority (EIP.0)
// preempts timer 0's handler; a low-priority request waits for RETI, after which one instruction
// of the interrupted program runs first.
TEST_F(Fx2, UsbInterruptPreemptsALowPriorityHandler) {
  Load({0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x0100);  // the main program: NOPs
  Load({0x00, 0x00, 0x32}, 0x000B);                    // timer 0: NOP; NOP; RETI
  Load({0x53, 0x91, 0xEF, 0x32}, 0x0043);              // USB: clear USBINT; RETI
  cpu.SetPc(0x0100);
  Sfr(0x81) = 0x80;  // stack in upper RAM
  Sfr(0xA8) = 0x82;  // EA, ET0
  Sfr(0xE8) = 0xE1;  // EUSB
  Sfr(0xF8) = 0xE1;  // USB at high priority
  Sfr(0x88) = 0x20;  // TF0 pending
  std::vector<std::uint16_t> pcs;
  for (int i = 0; i < 2; ++i) {
    cpu.Step();
    pcs.push_back(cpu.Pc());
  }
  Sfr(0x91) |= 0x10;  // USB interrupt
  for (int i = 0; i < 6; ++i) {
    cpu.Step();
    pcs.push_back(cpu.Pc());
  }
  // Timer entry, its NOP; USB entry, ANL, RETI; the timer's NOP, RETI; a main NOP.
  EXPECT_EQ(pcs, (std::vector<std::uint16_t>{0x000B, 0x000C, 0x0043, 0x0046, 0x000C, 0x000D, 0x0100,
                                             0x0101}));
  EXPECT_EQ(Sfr(0x88) & 0x20, 0);            // TF0 cleared by the entry
  EXPECT_EQ(Sfr(0x91), 0x08);                // USBINT cleared by the program, as on the chip
  EXPECT_EQ(cpu.InternalRam()[0x81], 0x00);  // the timer's return address on the upper RAM
  EXPECT_EQ(cpu.InternalRam()[0x82], 0x01);
}

// With INT2's autovector on, the jump at 0x43 goes to the page it names at INT2IVEC's offset.
TEST_F(Fx2, UsbAutovectorSubstitutesTheJumpsLowByte) {
  Load({0x02, 0x02, 0x00}, 0x0043);  // LJMP 0x0200: the jump table's page
  Load({0x00, 0x00}, 0x0100);
  cpu.SetPc(0x0100);
  Sfr(0xA8) = 0x80;
  Sfr(0xE8) = 0xE1;
  std::vector<std::uint16_t> pcs;
  for (const bool autovector : {true, false}) {
    cpu.SetAutovector(0x43, autovector, 0x14);  // SUDAV's slot
    cpu.SetPc(0x0100);
    Sfr(0x91) |= 0x10;
    cpu.Step();
    cpu.Step();
    pcs.push_back(cpu.Pc());
    Sfr(0x91) &= 0xEF;
    cpu.Reset();
    Sfr(0xA8) = 0x80;
    Sfr(0xE8) = 0xE1;
  }
  EXPECT_EQ(pcs, (std::vector<std::uint16_t>{0x0214, 0x0200}));
}

TEST_F(Fx2, WritingIeLetsOneInstructionRunFirst) {
  // MOV IE,#0x81 with INT0 pending, then NOP, NOP
  Load({0x32}, 0x0003);
  Load({0x75, 0xA8, 0x81, 0x00, 0x00}, 0x0100);
  Sfr(0x88) = 0x03;  // INT0 edge-triggered and pending
  cpu.Step();
  cpu.Step();
  EXPECT_EQ(cpu.Pc(), 0x0104);
  cpu.Step();
  EXPECT_EQ(cpu.Pc(), 0x0003);
  EXPECT_EQ(Sfr(0x88), 0x01);  // the edge flag cleared by the entry
}

// Timer 0 in mode 1 counts CLKOUT/12 (one tick per 3 cycles) or, with CKCON.3, CLKOUT/4.
TEST_F(Fx2, TimerClockFollowsCkcon) {
  for (const bool fast : {false, true}) {
    cpu.Reset();
    Load({0x80, 0xFE});  // SJMP to itself
    Sfr(0x8E) = static_cast<std::uint8_t>(fast ? 0x09 : 0x01);
    Sfr(0x89) = 0x01;
    Sfr(0x8C) = 0xFF;
    Sfr(0x8A) = 0x00;
    Sfr(0xA8) = 0x82;
    Sfr(0x88) = 0x10;
    const std::uint64_t start = cpu.Cycles();
    while (cpu.Pc() != 0x000B) cpu.Step();
    const std::uint64_t took = cpu.Cycles() - start;
    // 256 ticks, then the entry (4 cycles); the SJMP ends at the first multiple of 3 past.
    EXPECT_GE(took, (fast ? 256u : 768u) + 4) << fast;
    EXPECT_LT(took, (fast ? 256u : 768u) + 4 + 3) << fast;
  }
}

// Idle (PCON.0) stops instructions until an interrupt; after its RETI the program goes on.
TEST_F(Fx2, IdleWaitsForAnInterrupt) {
  Load({0x32}, 0x000B);  // timer 0: RETI
  // CKCON: timer 0 at CLKOUT/4; TMOD mode 1; TH0 0xFF, TL0 0xC0; IE: EA, ET0; TR0;
  // ORL PCON,#1; INC A; SJMP $
  Load({0x75, 0x8E, 0x09, 0x75, 0x89, 0x01, 0x75, 0x8C, 0xFF, 0x75, 0x8A, 0xC0,
        0x75, 0xA8, 0x82, 0xD2, 0x8C, 0x43, 0x87, 0x01, 0x04, 0x80, 0xFE},
       0x0100);
  cpu.Run(30);
  EXPECT_EQ(cpu.State().a, 0);
  EXPECT_EQ(cpu.Pc(), 0x0114);  // waiting after the write to PCON
  cpu.Run(60);
  EXPECT_EQ(cpu.State().a, 1);
  EXPECT_EQ(Sfr(0x87) & 0x01, 0);
}

TEST_F(Fx2, RunKeepsToItsBudgetAndTracesWrites) {
  struct Tracer : sim::fx2::Cpu8051Tracer {
    void InstructionDone(const sim::fx2::Cpu8051State&) override { ++instructions; }
    void InternalWrite(std::uint8_t address, std::uint8_t value) override {
      internal.emplace_back(address, value);
    }
    void XdataWrite(std::uint16_t address, std::uint8_t value) override {
      xdata.emplace_back(address, value);
    }
    int instructions = 0;
    std::vector<std::pair<int, int>> internal, xdata;
  } tracer;
  // MOV R0,#0x90; MOV @R0,#0x11; SETB PSW.3 (bank 1); MOV R7,#0x22; MOVX @DPTR,A; SJMP $
  Load({0x78, 0x90, 0x76, 0x11, 0xD2, 0xD3, 0x7F, 0x22, 0xF0, 0x80, 0xFE});
  cpu.SetTracer(&tracer);
  EXPECT_EQ(cpu.Run(14), 14u);  // 2+2+2+2+3 = 11, then an SJMP of 3
  EXPECT_EQ(tracer.instructions, 6);
  EXPECT_EQ(tracer.internal,
            (std::vector<std::pair<int, int>>{{0x00, 0x90}, {0x90, 0x11}, {0x0F, 0x22}}));
  EXPECT_EQ(tracer.xdata, (std::vector<std::pair<int, int>>{{0x0000, 0x00}}));
  EXPECT_EQ(cpu.State().r[7], 0x22);
  cpu.SetTracer(nullptr);
  EXPECT_EQ(cpu.Run(1), 3u);  // at least the budget: one whole SJMP
}

TEST_F(Fx2, ParityAlwaysFollowsA) {
  // MOV A,#0x01; MOV PSW,#0x00 (P cannot be written); MOV A,PSW
  Load({0x74, 0x01, 0x75, 0xD0, 0x00, 0xE5, 0xD0});
  for (int i = 0; i < 3; ++i) cpu.Step();
  EXPECT_EQ(cpu.State().a, 0x01);
  EXPECT_EQ(cpu.State().psw, 0x01);
}

}  // namespace
