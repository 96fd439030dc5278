// The adapter program as SDCC built it, run in the 8051 simulator s51: it starts, waits out its
// re-enumeration on its own timer interrupt, takes a command frame from the 0x04 endpoint buffer
// and writes its reply into the 0x88 endpoint buffer. The simulator knows nothing of the FX2's
// USB registers, so the test plays the USB core: it puts the frame and its byte count in place
// and stops the program at each reply's commit (the write to EP8BCL). The slot is the port pins:
// card detect and READY on port E, the data bus on port B.
#include <gtest/gtest.h>

#include <algorithm>
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

// The program's start as the simulator runs it: loaded, reply buffers free, no packet yet, and
// its 1.5 s off the bus cut short by moving its millisecond counter on (its address comes from
// the link map) once the wait has begun.
std::string Preamble() {
  std::ifstream map(BUILT_MAP);
  std::string line;
  std::string counter = "0x08";
  while (std::getline(map, line)) {
    std::istringstream words(line);
    std::string value, name;
    if (words >> value >> name && name == "_milliseconds") counter = "0x" + value;
  }
  return std::string("file \"") + BUILT_PROGRAM + "\"\n" +
         "set mem xram 0xe6a6 0x00\n"  // EP8CS: reply buffers free
         "set mem xram 0xe6a8 0x04\n"  // EP2468STAT: no packet on 0x04 yet
         "break xram w 0xe680\n"       // USBCS: leaving the bus
         "run\nstep 40\n"              // past the start of the wait
         "set mem iram " +
         counter +
         " 0x00 0x80\n"
         "run\ndelete\n";  // back on the bus
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
  out << Preamble() << c.pins << "set mem xram 0xf400";
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

// Control requests: the test stands in for the USB core once more, putting a setup packet in
// SETUPDAT and flagging it as the USB interrupt would, then stops at the first of the two things
// the program can do: arm the data stage (EP0BCL) or touch EP0CS (stall or handshake).
struct ControlCase {
  std::string name;
  bool highSpeed;
  Bytes setup;
  bool stalled;
  Bytes data;  // what the data stage carries
  friend void PrintTo(const ControlCase& c, std::ostream* out) { *out << c.name; }
};

struct ControlResult {
  bool armed = false;
  bool stalled = false;
  Bytes data;
};

ControlResult RunControl(const ControlCase& c) {
  const std::string script = std::string(::testing::TempDir()) + "s51_ep0_" + c.name + ".cmd";
  std::ofstream out(script);
  out << Preamble() << "set mem xram 0xe680 " << (c.highSpeed ? "0x82" : "0x02")
      << "\n"                          // USBCS: HSM
      << "set mem xram 0xe6a0 0x00\n"  // EP0CS
      << "set mem xram 0xe6b8";
  for (unsigned byte : c.setup) out << " " << Hex(byte);
  out << "\nset mem iram 0x20 0x01\n"  // the SUDAV flag the USB interrupt sets
      << "break xram w 0xe68b\nbreak xram w 0xe6a0\nrun\n"
      << "dump xram 0xe68b 0xe68b\ndump xram 0xe6a0 0xe6a0\ndump xram 0xe740 0xe77f\nquit\n";
  out.close();

  const std::string command =
      "timeout 60 " + std::string(S51) + " -t 8052 -X 48M -C " + script + " </dev/null 2>&1";
  ControlResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char line[512];
  unsigned count = 0;
  Bytes buffer;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string text = line;
    if (text.find("Event `write'") != std::string::npos) {
      result.armed = text.find("xram[0xe68b]") != std::string::npos;
      continue;
    }
    std::istringstream words(text);
    std::string address;
    words >> address;
    std::string word;
    if (address == "0xe68b" && words >> word) count = std::stoul(word, nullptr, 16);
    if (address == "0xe6a0" && words >> word) result.stalled = std::stoul(word, nullptr, 16) & 1;
    if (address.rfind("0xe7", 0) == 0)
      for (int i = 0; i < 8 && words >> word; ++i) buffer.push_back(std::stoul(word, nullptr, 16));
  }
  pclose(pipe);
  if (result.armed)
    result.data.assign(buffer.begin(),
                       buffer.begin() + std::min<std::size_t>(count, buffer.size()));
  return result;
}

class ControlRequests : public ::testing::TestWithParam<ControlCase> {};

TEST_P(ControlRequests, AreServedFromTheDescriptorsOrStalled) {
  const auto& c = GetParam();
  const ControlResult result = RunControl(c);
  if (c.stalled) {
    EXPECT_FALSE(result.armed);
    EXPECT_TRUE(result.stalled);
  } else {
    EXPECT_TRUE(result.armed);
    EXPECT_EQ(result.data, c.data);
  }
}

const Bytes kDevice = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x0D, 0x1B, 0x10, 0x5F, 0, 0, 1, 2, 0, 1};
const Bytes kOtherSpeed = {9, 7, 18, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, 0xFF, 0, 0, 0};
const Bytes kConfiguration = {9,    2,    41, 0,    1, 1, 0, 0x80, 250,  9,    4,    0, 0, 0,
                              0xFF, 0,    0,  0,    9, 4, 0, 1,    2,    0xFF, 0,    0, 0, 7,
                              5,    0x04, 2,  0x00, 2, 0, 7, 5,    0x88, 3,    0x00, 2, 1};
Bytes Retyped(Bytes descriptor, unsigned type) {
  descriptor[1] = type;
  return descriptor;
}
Bytes First(const Bytes& bytes, std::size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

INSTANTIATE_TEST_SUITE_P(
    Fx2, ControlRequests,
    ::testing::Values(
        ControlCase{"DeviceDescriptor", true, {0x80, 6, 0, 1, 0, 0, 0x40, 0}, false, kDevice},
        ControlCase{"DeviceDescriptorFirstEightBytes",
                    true,
                    {0x80, 6, 0, 1, 0, 0, 8, 0},
                    false,
                    First(kDevice, 8)},
        ControlCase{"ConfigurationAtHighSpeed",
                    true,
                    {0x80, 6, 0, 2, 0, 0, 0xFF, 0},
                    false,
                    kConfiguration},
        ControlCase{"ConfigurationHeaderOnly",
                    true,
                    {0x80, 6, 0, 2, 0, 0, 9, 0},
                    false,
                    First(kConfiguration, 9)},
        ControlCase{
            "OtherSpeedAtHighSpeed", true, {0x80, 6, 0, 7, 0, 0, 0xFF, 0}, false, kOtherSpeed},
        ControlCase{"ConfigurationAtFullSpeed",
                    false,
                    {0x80, 6, 0, 2, 0, 0, 0xFF, 0},
                    false,
                    Retyped(kOtherSpeed, 2)},
        ControlCase{"OtherSpeedAtFullSpeed",
                    false,
                    {0x80, 6, 0, 7, 0, 0, 0xFF, 0},
                    false,
                    Retyped(kConfiguration, 7)},
        ControlCase{"Qualifier",
                    true,
                    {0x80, 6, 0, 6, 0, 0, 0x0A, 0},
                    false,
                    {10, 6, 0x00, 0x02, 0, 0, 0, 64, 1, 0}},
        ControlCase{
            "LanguageString", true, {0x80, 6, 0, 3, 0, 0, 0xFF, 0}, false, {4, 3, 0x09, 0x04}},
        ControlCase{"ManufacturerString",
                    true,
                    {0x80, 6, 1, 3, 0x09, 0x04, 0xFF, 0},
                    false,
                    {16, 3, 'M', 0, 'o', 0, 'r', 0, 'v', 0, 'a', 0, 'n', 0, 'e', 0}},
        ControlCase{"DeviceStatus", true, {0x80, 0, 0, 0, 0, 0, 2, 0}, false, {0, 0}},
        ControlCase{"Configuration", true, {0x80, 8, 0, 0, 0, 0, 1, 0}, false, {0}},
        ControlCase{"NoSerialNumberString", true, {0x80, 6, 3, 3, 0x09, 0x04, 0xFF, 0}, true, {}},
        ControlCase{"VendorRequest", true, {0xC0, 0xB0, 0, 0, 0, 0, 1, 0}, true, {}},
        ControlCase{"ConfigurationTwo", true, {0x00, 9, 2, 0, 0, 0, 0, 0}, true, {}},
        ControlCase{"AlternateSettingTwo", true, {0x01, 0x0B, 2, 0, 0, 0, 0, 0}, true, {}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
