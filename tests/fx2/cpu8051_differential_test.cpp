// The 8051 core against s51 (Debian's sdcc-ucsim), instruction by instruction: after every
// instruction PC, A, B, PSW, SP, DPTR, R0..R7, the machine cycles taken and the whole internal
// RAM must agree, every external RAM byte the core writes must read back the same in s51, and the
// external RAM must agree at the end. s51 models the classic 12-clock 8051, so the core runs as
// that variant here (its cycle table, MOVX @Ri paged by P2); the FX2's own timing, DPTR1 and
// MPAGE are checked in the core's own tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "adapter_program.h"
#include "cpu8051.h"
#include "cpu8051_s51.h"

namespace {

using sim::fx2::Cpu8051;
using sim::fx2::Cpu8051State;

// One instruction as either simulator saw it.
struct StepRecord {
  Cpu8051State state;
  int cycles = 0;
  std::set<std::uint8_t> iramWritten;   // internal RAM addresses the instruction wrote
  std::set<std::uint16_t> xramWritten;  // external RAM addresses it wrote
  std::vector<std::uint8_t> values;     // their contents after it: internal, then external
  bool interrupted = false;  // an interrupt's entry and the vector's instruction followed it
};

class NoBus : public sim::fx2::Cpu8051Bus {
 public:
  std::uint8_t ReadXdata(std::uint16_t) override { return 0; }
  void WriteXdata(std::uint16_t, std::uint8_t) override {}
  std::uint8_t ReadSfr(std::uint8_t) override { return 0; }
  void WriteSfr(std::uint8_t, std::uint8_t) override {}
};

class Recorder : public sim::fx2::Cpu8051Tracer {
 public:
  void InstructionDone(const Cpu8051State& state) override { last.state = state; }
  void InternalWrite(std::uint8_t address, std::uint8_t) override {
    last.iramWritten.insert(address);
  }
  void XdataWrite(std::uint16_t address, std::uint8_t) override {
    last.xramWritten.insert(address);
  }
  StepRecord last;
};

using Image = std::vector<std::uint8_t>;  // code from address 0

Image ReadIntelHex(const std::string& path) {
  Image image;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 11 || line[0] != ':') continue;
    auto byte = [&](std::size_t i) { return std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16); };
    const std::size_t count = byte(0);
    const std::size_t address = (byte(1) << 8) | byte(2);
    if (byte(3) != 0) continue;
    if (image.size() < address + count) image.resize(address + count, 0xFF);
    for (std::size_t i = 0; i < count; ++i)
      image[address + i] = static_cast<std::uint8_t>(byte(4 + i));
  }
  return image;
}

struct Run {
  std::vector<StepRecord> steps;
  std::vector<std::uint8_t> iram;  // at the end
  std::vector<std::uint8_t> xram;  // at the end
};

Run RunCore(const Image& image, std::size_t steps) {
  NoBus bus;
  Cpu8051 cpu(bus);
  cpu.SetVariant(Cpu8051::Variant::kClassic);
  std::copy(image.begin(), image.end(), cpu.Memory());
  cpu.Reset();
  Recorder recorder;
  cpu.SetTracer(&recorder);
  Run run;
  while (run.steps.size() < steps) {
    recorder.last = StepRecord{};
    recorder.last.cycles = cpu.Step();
    // s51 takes an interrupt's entry and the instruction at its vector into the step of the
    // instruction before: the core's entry (PC on a vector, the interrupted PC on the stack,
    // no call there) is folded in the same way.
    const auto& state = recorder.last.state;
    const std::uint16_t pushed =
        static_cast<std::uint16_t>((cpu.InternalRam()[state.sp] << 8) |
                                   cpu.InternalRam()[static_cast<std::uint8_t>(state.sp - 1)]);
    const bool entry = !run.steps.empty() && state.pc % 8 == 3 && state.pc <= 0x6B &&
                       pushed == run.steps.back().state.pc && recorder.last.iramWritten.size() == 2;
    if (entry) {
      StepRecord merged = run.steps.back();
      run.steps.pop_back();
      const std::set<std::uint8_t> pushedTo = recorder.last.iramWritten;
      recorder.last = StepRecord{};
      merged.cycles += cpu.Step();
      recorder.last.iramWritten.insert(pushedTo.begin(), pushedTo.end());
      recorder.last.iramWritten.insert(merged.iramWritten.begin(), merged.iramWritten.end());
      recorder.last.xramWritten.insert(merged.xramWritten.begin(), merged.xramWritten.end());
      recorder.last.cycles = merged.cycles;
      recorder.last.interrupted = true;
    }
    for (std::uint8_t address : recorder.last.iramWritten)
      recorder.last.values.push_back(cpu.InternalRam()[address]);
    for (std::uint16_t address : recorder.last.xramWritten)
      recorder.last.values.push_back(cpu.Memory()[address]);
    run.steps.push_back(recorder.last);
  }
  run.iram.assign(cpu.InternalRam(), cpu.InternalRam() + 256);
  run.xram.assign(cpu.Memory(), cpu.Memory() + 65536);
  return run;
}

// Up to `count` two-digit hex numbers from the start of `text`.
std::vector<std::uint8_t> HexBytes(const std::string& text, std::size_t count) {
  std::istringstream words(text);
  std::vector<std::uint8_t> bytes;
  std::string word;
  while (bytes.size() < count && words >> word && word.size() == 2 &&
         std::isxdigit(static_cast<unsigned char>(word[0])) &&
         std::isxdigit(static_cast<unsigned char>(word[1])))
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
  return bytes;
}

unsigned Field(const std::string& line, const char* name) {
  const auto at = line.find(name);
  if (at == std::string::npos) return 0;
  return static_cast<unsigned>(std::stoul(line.substr(at + std::strlen(name)), nullptr, 16));
}

// s51's run of the same number of steps, each followed by dumps of the bytes the core's
// instruction wrote; at the end the whole internal and external RAM. Code memory is apart from
// external RAM in s51; both RAMs start cleared.
Run RunS51(const std::string& name, const Image& image, const Run& core) {
  // Named after the process: other builds may run the same test at the same time.
  const std::string dir = ::testing::TempDir() + "cpu8051_" + std::to_string(getpid()) + "_" + name;
  const std::string hex = dir + ".ihx";
  test::s51::WriteIntelHex(hex, image);
  const std::string script = dir + ".cmd";
  {
    std::ofstream out(script);
    out << "file \"" << hex << "\"\nfill iram 0 0xff 0\nfill xram 0 0xffff 0\n";
    for (const auto& step : core.steps) {
      out << "step\n";
      for (unsigned address : step.iramWritten)
        out << "dump iram " << address << " " << address << "\n";
      for (unsigned address : step.xramWritten)
        out << "dump xram " << address << " " << address << "\n";
    }
    out << "dump iram 0 0xff 16\ndump xram 0 0xffff 16\nquit\n";
  }
  Run run;
  StepRecord* step = nullptr;
  std::vector<std::uint8_t>* finalDump = nullptr;
  bool registersNext = false;
  const bool ended = test::s51::Run(S51, script, 300, [&](const std::string& line) {
    if (line.rfind("Stop at 0x", 0) == 0) {
      step = &run.steps.emplace_back();
      step->state.pc = static_cast<std::uint16_t>(Field(line, "Stop at 0x"));
      const auto ticks = line.find("stepped ");
      if (ticks != std::string::npos) step->cycles = std::stoi(line.substr(ticks + 8)) / 12;
    } else if (line.rfind("dump iram 0 0xff 16", 0) == 0) {
      finalDump = &run.iram;
    } else if (line.rfind("dump xram 0 0xffff 16", 0) == 0) {
      finalDump = &run.xram;
    } else if (step == nullptr) {
      return;
    } else if (registersNext) {
      const auto r = HexBytes(line, 8);
      std::copy(r.begin(), r.end(), step->state.r.begin());
      registersNext = false;
    } else if (line.rfind("     R0 R1", 0) == 0) {
      registersNext = true;
    } else if (line.rfind("@R0", 0) == 0) {
      step->state.a = static_cast<std::uint8_t>(Field(line, "ACC= 0x"));
      step->state.b = static_cast<std::uint8_t>(Field(line, "B= 0x"));
    } else if (line.rfind("@R1", 0) == 0) {
      step->state.psw = static_cast<std::uint8_t>(Field(line, "PSW= 0x"));
    } else if (line.rfind("SP 0x", 0) == 0) {
      step->state.sp = static_cast<std::uint8_t>(Field(line, "SP 0x"));
    } else if (line.rfind("   DPTR= 0x", 0) == 0) {
      step->state.dptr = static_cast<std::uint16_t>(Field(line, "DPTR= 0x"));
    } else if (line.rfind("0x", 0) == 0 && line.find(' ') != std::string::npos &&
               line.compare(line.find(' '), 10, "          ") == 0) {
      // A memory dump's line: the address, padding, the bytes.
      const auto bytes = HexBytes(line.substr(line.find(' ')), 16);
      if (finalDump != nullptr) {
        finalDump->insert(finalDump->end(), bytes.begin(), bytes.end());
      } else if (!bytes.empty()) {
        step->values.push_back(bytes[0]);
      }
    }
  });
  EXPECT_TRUE(ended) << "s51 failed or timed out";
  std::remove(hex.c_str());
  std::remove(script.c_str());
  return run;
}

std::string Describe(const Cpu8051State& s, int cycles) {
  char text[160];
  std::snprintf(text, sizeof text,
                "PC=%04X A=%02X B=%02X PSW=%02X SP=%02X DPTR=%04X R=%02X %02X %02X %02X %02X %02X "
                "%02X %02X cycles=%d",
                s.pc, s.a, s.b, s.psw, s.sp, s.dptr, s.r[0], s.r[1], s.r[2], s.r[3], s.r[4], s.r[5],
                s.r[6], s.r[7], cycles);
  return text;
}

bool SameState(const Cpu8051State& a, const Cpu8051State& b) {
  return a.pc == b.pc && a.a == b.a && a.b == b.b && a.psw == b.psw && a.sp == b.sp &&
         a.dptr == b.dptr && a.r == b.r;
}

// Compares the runs; returns the number of instructions that agreed before the first difference.
std::size_t Compare(const std::string& name, const Image& image, std::size_t steps) {
  const Run core = RunCore(image, steps);
  const Run s51 = RunS51(name, image, core);
  EXPECT_EQ(s51.steps.size(), core.steps.size()) << "s51 stopped early";
  const std::size_t n = std::min(core.steps.size(), s51.steps.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto& ours = core.steps[i];
    const auto& theirs = s51.steps[i];
    // s51 counts an interrupt's entry as one cycle, the classic core takes two (its LCALL).
    const int theirCycles = theirs.cycles - (ours.interrupted ? 1 : 0);
    if (SameState(ours.state, theirs.state) && ours.cycles == theirCycles &&
        ours.values == theirs.values)
      continue;
    ADD_FAILURE() << "instruction " << i << " after "
                  << (i > 0 ? Describe(core.steps[i - 1].state, core.steps[i - 1].cycles) : "reset")
                  << "\n core: " << Describe(ours.state, ours.cycles) << " writes "
                  << ::testing::PrintToString(ours.values)
                  << "\n s51:  " << Describe(theirs.state, theirCycles) << " writes "
                  << ::testing::PrintToString(theirs.values);
    return i;
  }
  EXPECT_EQ(core.iram, s51.iram) << "internal RAM at the end";
  // Code memory and external RAM are one memory in the core, two in s51.
  std::vector<std::uint8_t> coreXram = core.xram;
  std::fill_n(coreXram.begin(), std::min(image.size(), coreXram.size()), 0);
  EXPECT_EQ(coreXram == s51.xram, true) << "external RAM at the end";
  return n;
}

TEST(Cpu8051AgainstS51, EveryOpcodeWithEdgeOperands) {
  const Image image = ReadIntelHex(OPCODES_PROGRAM);
  ASSERT_GT(image.size(), 0x1000u);
  // The program must reach its end and run every opcode but the reserved one.
  NoBus bus;
  Cpu8051 cpu(bus);
  cpu.SetVariant(Cpu8051::Variant::kClassic);
  std::copy(image.begin(), image.end(), cpu.Memory());
  cpu.Reset();
  std::set<std::uint8_t> seen;
  std::size_t steps = 0;
  std::uint16_t done = 0xFFFF;
  while (steps < 200000) {
    const std::uint16_t pc = cpu.Pc();
    seen.insert(cpu.Memory()[pc]);
    cpu.Step();
    ++steps;
    if (cpu.Pc() == pc && cpu.Memory()[pc] == 0x80) {  // SJMP to itself: done
      done = pc;
      break;
    }
  }
  ASSERT_NE(done, 0xFFFF) << "the program never reached its end";
  std::string missing;
  for (unsigned op = 0; op < 256; ++op)
    if (op != 0xA5 && seen.count(static_cast<std::uint8_t>(op)) == 0)
      missing += " " + std::to_string(op);
  EXPECT_EQ(missing, "") << "opcodes the program never ran";
  EXPECT_EQ(Compare("opcodes", image, steps + 4), steps + 4);
}

TEST(Cpu8051AgainstS51, AdapterProgramStartUp) {
  const Image image(cibridge::kAdapterProgram,
                    cibridge::kAdapterProgram + cibridge::kAdapterProgramSize);
  constexpr std::size_t kSteps = 7000;
  EXPECT_EQ(Compare("adapter", image, kSteps), kSteps);
}

}  // namespace
