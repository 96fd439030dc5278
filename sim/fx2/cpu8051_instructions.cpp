// The 8051 core's instruction set: the tables of instruction lengths and cycles, the loop that
// runs instructions between the timers' and interrupts' events, and one case per opcode.
#include <array>
#include <cstdint>

#include "cpu8051_core.h"

namespace sim::fx2 {
namespace {

// Instruction lengths in bytes, by opcode (rows of 16).
constexpr std::array<std::uint8_t, 256> kLength = {
    1, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x00
    3, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x10
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x20
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x30
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x40
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x50
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x60
    2, 2, 2, 1, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0x70
    2, 2, 2, 1, 1, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0x80
    3, 2, 2, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x90
    2, 2, 2, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xA0
    2, 2, 2, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // 0xB0
    2, 2, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xC0
    2, 2, 2, 1, 1, 3, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xD0
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xE0
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xF0
};

// Machine cycles by opcode on the FX2 (4 clocks each); MOVX adds CKCON's stretch.
constexpr std::array<std::uint8_t, 256> MakeFx2Cycles() {
  std::array<std::uint8_t, 256> cycles{};
  for (unsigned op = 0; op < 256; ++op) {
    unsigned n = kLength[op];  // most instructions take one cycle per byte
    if ((op & 0x1F) == 0x01 || (op & 0x1F) == 0x11) n = 3;  // AJMP, ACALL
    cycles[op] = static_cast<std::uint8_t>(n);
  }
  for (std::uint8_t op : {0x02, 0x12, 0x22, 0x32, 0x10, 0x20, 0x30, 0xD5}) cycles[op] = 4;
  for (unsigned op = 0xB4; op <= 0xBF; ++op) cycles[op] = 4;  // CJNE
  for (unsigned op = 0xD8; op <= 0xDF; ++op) cycles[op] = 3;  // DJNZ Rn
  for (std::uint8_t op : {0x40, 0x50, 0x60, 0x70, 0x80, 0x73, 0x83, 0x93, 0xA3}) cycles[op] = 3;
  for (std::uint8_t op : {0x84, 0xA4}) cycles[op] = 5;  // DIV, MUL
  for (std::uint8_t op : {0x76, 0x77, 0x86, 0x87, 0xA6, 0xA7}) cycles[op] = 2;
  for (std::uint8_t op : {0xE0, 0xE2, 0xE3, 0xF0, 0xF2, 0xF3}) cycles[op] = 2;  // MOVX
  return cycles;
}

// Machine cycles by opcode on the classic 8051 (12 clocks each).
constexpr std::array<std::uint8_t, 256> MakeClassicCycles() {
  std::array<std::uint8_t, 256> cycles{};
  for (unsigned op = 0; op < 256; ++op) {
    unsigned n = 1;
    if ((op & 0x0F) == 0x01) n = 2;  // AJMP, ACALL
    cycles[op] = static_cast<std::uint8_t>(n);
  }
  for (std::uint8_t op : {0x02, 0x12, 0x22, 0x32, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80,
                          0x73, 0x83, 0x93, 0xA3, 0x90, 0x43, 0x53, 0x63, 0x75, 0x85, 0xC0, 0xD0,
                          0xD5, 0x72, 0x82, 0x92, 0xA0, 0xB0, 0xE0, 0xE2, 0xE3, 0xF0, 0xF2, 0xF3})
    cycles[op] = 2;
  for (unsigned op = 0x86; op <= 0x8F; ++op) cycles[op] = 2;  // MOV dir,@Ri / dir,Rn
  for (unsigned op = 0xA6; op <= 0xAF; ++op) cycles[op] = 2;  // MOV @Ri,dir / Rn,dir
  for (unsigned op = 0xB4; op <= 0xBF; ++op) cycles[op] = 2;  // CJNE
  for (unsigned op = 0xD8; op <= 0xDF; ++op) cycles[op] = 2;  // DJNZ Rn
  for (std::uint8_t op : {0x84, 0xA4}) cycles[op] = 4;        // DIV, MUL
  return cycles;
}

constexpr std::array<std::uint8_t, 256> kFx2Cycles = MakeFx2Cycles();
constexpr std::array<std::uint8_t, 256> kClassicCycles = MakeClassicCycles();

}  // namespace

const std::uint8_t* InstructionCycles(Cpu8051::Variant variant) {
  return variant == Cpu8051::Variant::kFx2 ? kFx2Cycles.data() : kClassicCycles.data();
}

// One instruction; returns its machine cycles. The switch compiles to a jump table.
template <bool kTraced>
int Cpu8051::Execute() {
  const std::uint8_t* const code = memory_.get();
  const std::uint16_t pc = pc_;
  const std::uint8_t op = code[pc];
  const std::uint8_t b1 = code[static_cast<std::uint16_t>(pc + 1)];
  const std::uint8_t b2 = code[static_cast<std::uint16_t>(pc + 2)];
  const std::uint16_t next = static_cast<std::uint16_t>(pc + kLength[op]);
  pc_ = next;
  int cycles = cycleTable_[op];
  instructionCycles_ = static_cast<unsigned>(cycles);
  std::uint8_t& a = sfr_[kAcc];
  std::uint8_t& psw = sfr_[kPsw];
  const unsigned bank = psw & 0x18u;
  auto reg = [&](unsigned n) -> std::uint8_t& { return iram_[bank | n]; };
  auto setReg = [&](unsigned n, std::uint8_t value) {
    WriteIndirect<kTraced>(static_cast<std::uint8_t>(bank | n), value);
  };
  auto at = [&]() -> std::uint8_t { return iram_[reg(op & 1)]; };  // @Ri
  auto relative = [&](std::uint8_t offset) {
    pc_ = static_cast<std::uint16_t>(next + static_cast<std::int8_t>(offset));
  };
  auto carry = [&]() -> unsigned { return (psw & kCy) != 0 ? 1 : 0; };
  auto setCarry = [&](bool value) {
    psw = static_cast<std::uint8_t>(value ? (psw | kCy) : (psw & ~kCy));
  };
  auto call = [&](std::uint16_t target) {
    Push<kTraced>(static_cast<std::uint8_t>(next));
    Push<kTraced>(static_cast<std::uint8_t>(next >> 8));
    pc_ = target;
  };
  const std::uint16_t page = static_cast<std::uint16_t>((next & 0xF800) | ((op & 0xE0) << 3) | b1);

  switch (op) {
    case 0x00:  // NOP
      break;
    case 0x01:
    case 0x21:
    case 0x41:
    case 0x61:
    case 0x81:
    case 0xA1:
    case 0xC1:
    case 0xE1:
      pc_ = page;  // AJMP
      break;
    case 0x11:
    case 0x31:
    case 0x51:
    case 0x71:
    case 0x91:
    case 0xB1:
    case 0xD1:
    case 0xF1:
      call(page);  // ACALL
      break;
    case 0x02:                      // LJMP
      if (pc == autovectorJump_) {  // at an autovector: the low byte is the chip's
        autovectorJump_ = 0xFFFF;
        pc_ = static_cast<std::uint16_t>((b1 << 8) | autovector_[pc == 0x43 ? 0 : 1]);
        break;
      }
      pc_ = static_cast<std::uint16_t>((b1 << 8) | b2);
      break;
    case 0x12:  // LCALL
      call(static_cast<std::uint16_t>((b1 << 8) | b2));
      break;
    case 0x22:    // RET
    case 0x32: {  // RETI
      const std::uint8_t high = Pop();
      pc_ = static_cast<std::uint16_t>((high << 8) | Pop());
      if (op == 0x32) {
        inService_ = (inService_ & 2) != 0 ? (inService_ & 1) : 0;
        attention_ = holdOff_ = true;
        Poll();
      }
      break;
    }
    case 0x03:  // RR A
      a = static_cast<std::uint8_t>((a >> 1) | (a << 7));
      break;
    case 0x13: {  // RRC A
      const unsigned out = a & 1;
      a = static_cast<std::uint8_t>((a >> 1) | (carry() << 7));
      setCarry(out != 0);
      break;
    }
    case 0x23:  // RL A
      a = static_cast<std::uint8_t>((a << 1) | (a >> 7));
      break;
    case 0x33: {  // RLC A
      const unsigned out = a >> 7;
      a = static_cast<std::uint8_t>((a << 1) | carry());
      setCarry(out != 0);
      break;
    }
    case 0x04:  // INC A
      ++a;
      break;
    case 0x14:  // DEC A
      --a;
      break;
    case 0x05:  // INC direct
      WriteDirect<kTraced>(b1, static_cast<std::uint8_t>(ReadDirect(b1) + 1));
      break;
    case 0x15:  // DEC direct
      WriteDirect<kTraced>(b1, static_cast<std::uint8_t>(ReadDirect(b1) - 1));
      break;
    case 0x06:
    case 0x07:  // INC @Ri
      WriteIndirect<kTraced>(reg(op & 1), static_cast<std::uint8_t>(at() + 1));
      break;
    case 0x16:
    case 0x17:  // DEC @Ri
      WriteIndirect<kTraced>(reg(op & 1), static_cast<std::uint8_t>(at() - 1));
      break;
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:  // INC Rn
      setReg(op & 7, static_cast<std::uint8_t>(reg(op & 7) + 1));
      break;
    case 0x18:
    case 0x19:
    case 0x1A:
    case 0x1B:
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x1F:  // DEC Rn
      setReg(op & 7, static_cast<std::uint8_t>(reg(op & 7) - 1));
      break;
    case 0x10:  // JBC bit,rel
      if (ReadBit(b1)) {
        WriteBit<kTraced>(b1, false);
        relative(b2);
      }
      break;
    case 0x20:  // JB bit,rel
      if (ReadBit(b1)) relative(b2);
      break;
    case 0x30:  // JNB bit,rel
      if (!ReadBit(b1)) relative(b2);
      break;
    case 0x40:  // JC
      if (carry() != 0) relative(b1);
      break;
    case 0x50:  // JNC
      if (carry() == 0) relative(b1);
      break;
    case 0x60:  // JZ
      if (a == 0) relative(b1);
      break;
    case 0x70:  // JNZ
      if (a != 0) relative(b1);
      break;
    case 0x80:  // SJMP
      relative(b1);
      break;
    case 0x73:  // JMP @A+DPTR
      pc_ = static_cast<std::uint16_t>(Dptr() + a);
      break;
    case 0x24:
      Add(b1, 0);
      break;
    case 0x25:
      Add(ReadDirect(b1), 0);
      break;
    case 0x26:
    case 0x27:
      Add(at(), 0);
      break;
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B:
    case 0x2C:
    case 0x2D:
    case 0x2E:
    case 0x2F:
      Add(reg(op & 7), 0);
      break;
    case 0x34:
      Add(b1, carry());
      break;
    case 0x35:
      Add(ReadDirect(b1), carry());
      break;
    case 0x36:
    case 0x37:
      Add(at(), carry());
      break;
    case 0x38:
    case 0x39:
    case 0x3A:
    case 0x3B:
    case 0x3C:
    case 0x3D:
    case 0x3E:
    case 0x3F:
      Add(reg(op & 7), carry());
      break;
    case 0x94:
      Subtract(b1);
      break;
    case 0x95:
      Subtract(ReadDirect(b1));
      break;
    case 0x96:
    case 0x97:
      Subtract(at());
      break;
    case 0x98:
    case 0x99:
    case 0x9A:
    case 0x9B:
    case 0x9C:
    case 0x9D:
    case 0x9E:
    case 0x9F:
      Subtract(reg(op & 7));
      break;
    // ORL, ANL, XRL in their six forms.
    case 0x42:
      WriteDirect<kTraced>(b1, ReadDirect(b1) | a);
      break;
    case 0x43:
      WriteDirect<kTraced>(b1, ReadDirect(b1) | b2);
      break;
    case 0x44:
      a |= b1;
      break;
    case 0x45:
      a |= ReadDirect(b1);
      break;
    case 0x46:
    case 0x47:
      a |= at();
      break;
    case 0x48:
    case 0x49:
    case 0x4A:
    case 0x4B:
    case 0x4C:
    case 0x4D:
    case 0x4E:
    case 0x4F:
      a |= reg(op & 7);
      break;
    case 0x52:
      WriteDirect<kTraced>(b1, ReadDirect(b1) & a);
      break;
    case 0x53:
      WriteDirect<kTraced>(b1, ReadDirect(b1) & b2);
      break;
    case 0x54:
      a &= b1;
      break;
    case 0x55:
      a &= ReadDirect(b1);
      break;
    case 0x56:
    case 0x57:
      a &= at();
      break;
    case 0x58:
    case 0x59:
    case 0x5A:
    case 0x5B:
    case 0x5C:
    case 0x5D:
    case 0x5E:
    case 0x5F:
      a &= reg(op & 7);
      break;
    case 0x62:
      WriteDirect<kTraced>(b1, ReadDirect(b1) ^ a);
      break;
    case 0x63:
      WriteDirect<kTraced>(b1, ReadDirect(b1) ^ b2);
      break;
    case 0x64:
      a ^= b1;
      break;
    case 0x65:
      a ^= ReadDirect(b1);
      break;
    case 0x66:
    case 0x67:
      a ^= at();
      break;
    case 0x68:
    case 0x69:
    case 0x6A:
    case 0x6B:
    case 0x6C:
    case 0x6D:
    case 0x6E:
    case 0x6F:
      a ^= reg(op & 7);
      break;
    case 0x72:  // ORL C,bit
      if (ReadBit(b1)) psw |= kCy;
      break;
    case 0xA0:  // ORL C,/bit
      if (!ReadBit(b1)) psw |= kCy;
      break;
    case 0x82:  // ANL C,bit
      if (!ReadBit(b1)) psw &= static_cast<std::uint8_t>(~kCy);
      break;
    case 0xB0:  // ANL C,/bit
      if (ReadBit(b1)) psw &= static_cast<std::uint8_t>(~kCy);
      break;
    case 0xA2:  // MOV C,bit
      setCarry(ReadBit(b1));
      break;
    case 0x92:  // MOV bit,C
      WriteBit<kTraced>(b1, carry() != 0);
      break;
    case 0xB2:  // CPL bit
      WriteBit<kTraced>(b1, !ReadBit(b1));
      break;
    case 0xC2:  // CLR bit
      WriteBit<kTraced>(b1, false);
      break;
    case 0xD2:  // SETB bit
      WriteBit<kTraced>(b1, true);
      break;
    case 0xB3:  // CPL C
      psw ^= kCy;
      break;
    case 0xC3:  // CLR C
      psw &= static_cast<std::uint8_t>(~kCy);
      break;
    case 0xD3:  // SETB C
      psw |= kCy;
      break;
    case 0x74:  // MOV A,#data
      a = b1;
      break;
    case 0x75:  // MOV direct,#data
      WriteDirect<kTraced>(b1, b2);
      break;
    case 0x76:
    case 0x77:  // MOV @Ri,#data
      WriteIndirect<kTraced>(reg(op & 1), b1);
      break;
    case 0x78:
    case 0x79:
    case 0x7A:
    case 0x7B:
    case 0x7C:
    case 0x7D:
    case 0x7E:
    case 0x7F:  // MOV Rn,#data
      setReg(op & 7, b1);
      break;
    case 0x85:  // MOV direct,direct
      WriteDirect<kTraced>(b2, ReadDirect(b1));
      break;
    case 0x86:
    case 0x87:  // MOV direct,@Ri
      WriteDirect<kTraced>(b1, at());
      break;
    case 0x88:
    case 0x89:
    case 0x8A:
    case 0x8B:
    case 0x8C:
    case 0x8D:
    case 0x8E:
    case 0x8F:  // MOV direct,Rn
      WriteDirect<kTraced>(b1, reg(op & 7));
      break;
    case 0xA6:
    case 0xA7:  // MOV @Ri,direct
      WriteIndirect<kTraced>(reg(op & 1), ReadDirect(b1));
      break;
    case 0xA8:
    case 0xA9:
    case 0xAA:
    case 0xAB:
    case 0xAC:
    case 0xAD:
    case 0xAE:
    case 0xAF:  // MOV Rn,direct
      setReg(op & 7, ReadDirect(b1));
      break;
    case 0xE5:  // MOV A,direct
      a = ReadDirect(b1);
      break;
    case 0xE6:
    case 0xE7:  // MOV A,@Ri
      a = at();
      break;
    case 0xE8:
    case 0xE9:
    case 0xEA:
    case 0xEB:
    case 0xEC:
    case 0xED:
    case 0xEE:
    case 0xEF:  // MOV A,Rn
      a = reg(op & 7);
      break;
    case 0xF5:  // MOV direct,A
      WriteDirect<kTraced>(b1, a);
      break;
    case 0xF6:
    case 0xF7:  // MOV @Ri,A
      WriteIndirect<kTraced>(reg(op & 1), a);
      break;
    case 0xF8:
    case 0xF9:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFD:
    case 0xFE:
    case 0xFF:  // MOV Rn,A
      setReg(op & 7, a);
      break;
    case 0x90:  // MOV DPTR,#data16
      SetDptr(static_cast<std::uint16_t>((b1 << 8) | b2));
      break;
    case 0xA3:  // INC DPTR
      SetDptr(static_cast<std::uint16_t>(Dptr() + 1));
      break;
    case 0x83:  // MOVC A,@A+PC
      a = code[static_cast<std::uint16_t>(next + a)];
      break;
    case 0x93:  // MOVC A,@A+DPTR
      a = code[static_cast<std::uint16_t>(Dptr() + a)];
      break;
    case 0xE0:  // MOVX A,@DPTR
      a = ReadXdata(Dptr());
      cycles += static_cast<int>(movxStretch_);
      break;
    case 0xE2:
    case 0xE3:  // MOVX A,@Ri
      a = ReadXdata(static_cast<std::uint16_t>((sfr_[mpage_] << 8) | reg(op & 1)));
      cycles += static_cast<int>(movxStretch_);
      break;
    case 0xF0:  // MOVX @DPTR,A
      WriteXdata<kTraced>(Dptr(), a);
      cycles += static_cast<int>(movxStretch_);
      break;
    case 0xF2:
    case 0xF3:  // MOVX @Ri,A
      WriteXdata<kTraced>(static_cast<std::uint16_t>((sfr_[mpage_] << 8) | reg(op & 1)), a);
      cycles += static_cast<int>(movxStretch_);
      break;
    case 0xA4: {  // MUL AB
      const unsigned product = unsigned{a} * sfr_[kB];
      a = static_cast<std::uint8_t>(product);
      sfr_[kB] = static_cast<std::uint8_t>(product >> 8);
      psw = static_cast<std::uint8_t>((psw & ~(kCy | kOv)) | (product > 0xFF ? kOv : 0));
      break;
    }
    case 0x84: {  // DIV AB; by zero: OV set, A and B kept
      const std::uint8_t divisor = sfr_[kB];
      psw &= static_cast<std::uint8_t>(~(kCy | kOv));
      if (divisor == 0) {
        psw |= kOv;
      } else {
        const std::uint8_t dividend = a;
        a = static_cast<std::uint8_t>(dividend / divisor);
        sfr_[kB] = static_cast<std::uint8_t>(dividend % divisor);
      }
      break;
    }
    case 0xD4: {  // DA A
      unsigned value = a;
      if ((value & 0x0F) > 9 || (psw & kAc) != 0) value += 0x06;
      if (value > 0xFF) psw |= kCy;
      if (((value >> 4) & 0x0F) > 9 || (value > 0xFF) || (psw & kCy) != 0) value += 0x60;
      if (value > 0xFF) psw |= kCy;
      a = static_cast<std::uint8_t>(value);
      break;
    }
    case 0xC0:  // PUSH direct
      Push<kTraced>(ReadDirect(b1));
      break;
    case 0xD0: {  // POP direct
      const std::uint8_t value = Pop();
      WriteDirect<kTraced>(b1, value);
      break;
    }
    case 0xC4:  // SWAP A
      a = static_cast<std::uint8_t>((a << 4) | (a >> 4));
      break;
    case 0xC5: {  // XCH A,direct
      const std::uint8_t value = ReadDirect(b1);
      WriteDirect<kTraced>(b1, a);
      a = value;
      break;
    }
    case 0xC6:
    case 0xC7: {  // XCH A,@Ri
      const std::uint8_t value = at();
      WriteIndirect<kTraced>(reg(op & 1), a);
      a = value;
      break;
    }
    case 0xC8:
    case 0xC9:
    case 0xCA:
    case 0xCB:
    case 0xCC:
    case 0xCD:
    case 0xCE:
    case 0xCF: {  // XCH A,Rn
      const std::uint8_t value = reg(op & 7);
      setReg(op & 7, a);
      a = value;
      break;
    }
    case 0xD6:
    case 0xD7: {  // XCHD A,@Ri
      const std::uint8_t value = at();
      WriteIndirect<kTraced>(reg(op & 1), static_cast<std::uint8_t>((value & 0xF0) | (a & 0x0F)));
      a = static_cast<std::uint8_t>((a & 0xF0) | (value & 0x0F));
      break;
    }
    case 0xE4:  // CLR A
      a = 0;
      break;
    case 0xF4:  // CPL A
      a = static_cast<std::uint8_t>(~a);
      break;
    case 0xB4:  // CJNE A,#data,rel
      setCarry(a < b1);
      if (a != b1) relative(b2);
      break;
    case 0xB5: {  // CJNE A,direct,rel
      const std::uint8_t value = ReadDirect(b1);
      setCarry(a < value);
      if (a != value) relative(b2);
      break;
    }
    case 0xB6:
    case 0xB7: {  // CJNE @Ri,#data,rel
      const std::uint8_t value = at();
      setCarry(value < b1);
      if (value != b1) relative(b2);
      break;
    }
    case 0xB8:
    case 0xB9:
    case 0xBA:
    case 0xBB:
    case 0xBC:
    case 0xBD:
    case 0xBE:
    case 0xBF: {  // CJNE Rn,#data,rel
      const std::uint8_t value = reg(op & 7);
      setCarry(value < b1);
      if (value != b1) relative(b2);
      break;
    }
    case 0xD5: {  // DJNZ direct,rel
      const std::uint8_t value = static_cast<std::uint8_t>(ReadDirect(b1) - 1);
      WriteDirect<kTraced>(b1, value);
      if (value != 0) relative(b2);
      break;
    }
    case 0xD8:
    case 0xD9:
    case 0xDA:
    case 0xDB:
    case 0xDC:
    case 0xDD:
    case 0xDE:
    case 0xDF: {  // DJNZ Rn,rel
      const std::uint8_t value = static_cast<std::uint8_t>(reg(op & 7) - 1);
      setReg(op & 7, value);
      if (value != 0) relative(b1);
      break;
    }
    case 0xA5:  // reserved: a one-cycle no-op
      break;
  }
  return cycles;
}

template <bool kTraced>
int Cpu8051::StepAs() {
  int cycles = 0;
  if (cycles_ >= eventAt_) cycles = Attend();
  if (cycles == 0) cycles = Execute<kTraced>();
  cycles_ += static_cast<unsigned>(cycles);
  if constexpr (kTraced) tracer_->InstructionDone(State());
  return cycles;
}

std::uint64_t Cpu8051::Run(std::uint64_t cycles) {
  const std::uint64_t start = cycles_;
  const std::uint64_t end = start + cycles;
  Resume();
  if (tracer_ != nullptr) {
    while (cycles_ < end) StepAs<true>();
  } else {
    while (cycles_ < end) StepAs<false>();
  }
  SyncTimers(cycles_);  // the chip model sees the timers' registers as they are now
  return cycles_ - start;
}

int Cpu8051::Step() {
  Resume();
  const int cycles = tracer_ != nullptr ? StepAs<true>() : StepAs<false>();
  SyncTimers(cycles_);
  return cycles;
}

}  // namespace sim::fx2
