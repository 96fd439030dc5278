// The adapter program as SDCC built it, run in the 8051 simulator s51: it starts, waits out its
// re-enumeration on its own timer interrupt, takes a command frame from the 0x04 endpoint buffer
// and writes its reply into the 0x88 endpoint buffer. The simulator knows nothing of the FX2's
// USB registers, so the test plays the USB core: it puts the frame and its byte count in place
// and stops the program at each reply's commit (the write to EP8BCL). The slot is the port pins:
// card detect and READY on port E, the data bus on port B.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned>;

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

struct RunCase {
  std::string name;
  std::string pins;  // simulator commands that set the slot's pins once the program runs
  Bytes frame;
  std::vector<Bytes> replies;  // the first four bytes of each reply, in order
  friend void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }
};

// Runs the scenario in s51; returns the first 4 bytes of each reply.
std::vector<Bytes> RunInSimulator(const RunCase& c, const std::string& name) {
  const std::string script = std::string(::testing::TempDir()) + "s51_" + name + ".cmd";
  std::ofstream out(script);
  out << "file \"" << BUILT_PROGRAM << "\"\n"
      << "set mem xram 0xe6a6 0x00\n"  // EP8CS: reply buffers free
      << "set mem xram 0xe6a8 0x04\n"  // EP2468STAT: no packet on 0x04 yet
      << "break xram w 0xe680\n"       // USBCS: leaving the bus, then back on it
      << "run\nrun\ndelete\n"
      << c.pins << "set mem xram 0xf400";
  for (unsigned byte : c.frame) out << " " << Hex(byte);
  out << "\nset mem xram 0xe694 0x00 " << Hex(static_cast<unsigned>(c.frame.size())) << "\n"
      << "set mem xram 0xe6a8 0x00\n"  // the packet has arrived
      << "break xram w 0xe69d\n"       // EP8BCL: a reply is committed
      << "break xram w 0xe695\n";      // EP4BCL: the frame is taken, the buffer handed back
  // One stop for the frame's buffer and one for each reply, in whatever order they come.
  for (std::size_t i = 0; i <= c.replies.size(); ++i) {
    out << "run\ndump xram 0xfc00 0xfc03\n";
    if (i == 0) out << "set mem xram 0xe6a8 0x04\n";  // no further packet
  }
  out << "quit\n";
  out.close();

  const std::string command =
      "timeout 60 " + std::string(S51) + " -t 8052 -X 48M -C " + script + " </dev/null 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::vector<Bytes> replies;
  if (pipe == nullptr) return replies;
  char line[512];
  bool atReply = false;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string text = line;
    if (text.find("Event `write'") != std::string::npos) {
      atReply = text.find("xram[0xe69d]") != std::string::npos;
      continue;
    }
    std::istringstream words(text);
    std::string address;
    words >> address;
    if (address != "0xfc00" || !atReply) continue;
    atReply = false;
    Bytes reply;
    std::string word;
    while (reply.size() < 4 && words >> word) reply.push_back(std::stoul(word, nullptr, 16));
    replies.push_back(reply);
  }
  pclose(pipe);
  return replies;
}

class ProgramImage : public ::testing::TestWithParam<RunCase> {};

TEST_P(ProgramImage, AnswersAFrameInTheSimulator) {
  const auto& c = GetParam();
  EXPECT_EQ(RunInSimulator(c, c.name), c.replies);
}

// Port E: CD1# and CD2# low (card seated), READY (bit 2), CE2# (bit 4) as the program drives it.
const std::string kCardNotReady = "set mem sfr 0xb1 0x10\n";
const std::string kCardReady = "set mem sfr 0xb1 0x14\n";
const std::string kEmptySlot = "set mem sfr 0xb1 0x13\n";

INSTANTIATE_TEST_SUITE_P(
    Fx2, ProgramImage,
    ::testing::Values(
        RunCase{"StatusBeforeConfiguration",
                kCardNotReady,
                {0x50, 0x00, 0xFF, 0x00},
                {{0x00, 0x01, 0x10, 0x00}}},
        RunCase{"EmptySlot", kEmptySlot, {0x50, 0x00, 0xFF, 0x00}, {{0x00, 0x00, 0x30, 0x00}}},
        RunCase{"UnknownCode", kCardNotReady, {0x40, 0x00, 0xFF, 0x00}, {{0x00, 0x01, 0x90, 0x00}}},
        RunCase{"LengthDisagrees",
                kCardNotReady,
                {0x10, 0x00, 0xFF, 0x02, 0x0F},
                {{0x00, 0x01, 0x90, 0x00}}},
        RunCase{
            "ResetReady", kCardReady, {0x10, 0x00, 0xFF, 0x01, 0x0F}, {{0x00, 0x01, 0x02, 0x00}}},
        // READY stays low: the program gives up after its wait, on its own timer.
        RunCase{"ResetNeverReady",
                kCardNotReady,
                {0x10, 0x00, 0xFF, 0x01, 0x0F},
                {{0x00, 0x01, 0x10, 0x00}}},
        // Accepted at once; the COR reads back, but the module never reports FR on the
        // unconnected data bus, so a second reply follows.
        RunCase{"CorAcceptedThenNotFree",
                kCardNotReady,
                {0x70, 0x00, 0xFF, 0x05, 0xFE, 0x01, 0x09, 0x20, 0x03},
                {{0x00, 0x03, 0x07, 0x00}, {0x00, 0x01, 0x10, 0x00}}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
