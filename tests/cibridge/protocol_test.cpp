// The adapter command protocol through the exports, over a scripted adapter: frames, reply
// rules, the two-phase exchange and the program download.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "adapter_program.h"
#include "bridge_fixture.h"

namespace {

using bridge_test::BridgeTest;
using bridge_test::ReplyFrame;
using sim::Bytes;
using sim::CommandResponse;
using sim::UsbOp;

Bytes Payload(std::size_t length, std::uint8_t first = 1) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

CommandResponse Answer(Bytes packet) {
  return {false, std::nullopt, {std::move(packet)}};
}
CommandResponse Silence() {
  return {};
}
CommandResponse WriteFails() {
  return {true, std::nullopt, {}};
}
CommandResponse ShortWrite(std::uint32_t count) {
  return {false, count, {}};
}

// --- WriteExchange ---

struct ExchangeCase {
  const char* name;
  std::int32_t length;
  std::int32_t capacity;
  std::vector<CommandResponse> responses;
  std::int32_t result;
  std::int32_t answerLength;  // after the call (unchanged = capacity)
  Bytes answer;
  std::vector<std::uint8_t> commands;  // codes of the frames written
};

class ExchangeTest : public BridgeTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(ExchangeTest, FollowsTheReplyRules) {
  const ExchangeCase& c = GetParam();
  OpenAdapter();
  for (const CommandResponse& response : c.responses) usb.Respond(response);
  const Bytes payload = Payload(c.length > 0 ? static_cast<std::size_t>(c.length) : 1);
  std::vector<std::uint8_t> answer(400, 0xEE);
  std::int32_t answerLength = c.capacity;
  EXPECT_EQ(WriteExchange(payload.data(), c.length, answer.data(), &answerLength), c.result);
  EXPECT_EQ(answerLength, c.answerLength);
  EXPECT_TRUE(std::equal(c.answer.begin(), c.answer.end(), answer.begin()));
  // Nothing lands in the caller's buffer beyond the answer it was told about.
  const std::size_t used = c.result == 1 ? static_cast<std::size_t>(answerLength) : 0;
  EXPECT_TRUE(std::all_of(answer.begin() + used, answer.end(), [](auto b) { return b == 0xEE; }));

  std::vector<std::uint8_t> commands;
  for (const Bytes& frame : usb.WrittenFrames()) commands.push_back(frame.at(0));
  EXPECT_EQ(commands, c.commands);
  const auto frames = usb.WrittenFrames();
  if (!frames.empty() && frames[0][0] == 0x20) {
    Bytes expected = {0x20, 0x00, 0xFF, static_cast<std::uint8_t>(c.length)};
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(frames[0], expected);
  }
  for (const Bytes& frame : frames) {
    if (frame[0] == 0x80) {
      EXPECT_EQ(frame, (Bytes{0x80, 0x00, 0xFF, 0x00}));
    }
  }
}

Bytes LongReply() {
  return ReplyFrame(0x06, Payload(255, 0x10));
}
Bytes FirstOf(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + n);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ExchangeTest,
    ::testing::Values(
        ExchangeCase{"Payload255", 255, 256, {Answer(ReplyFrame(0x00))}, 1, 0, {}, {0x20}},
        ExchangeCase{"LengthZeroOnlyPolls",
                     0,
                     256,
                     {Answer(ReplyFrame(0x06, {7, 8, 9}))},
                     1,
                     3,
                     {7, 8, 9},
                     {0x80}},
        ExchangeCase{"HeaderOnlyReply", 0, 256, {Answer(ReplyFrame(0x10))}, 1, 0, {}, {0x80}},
        ExchangeCase{"NoModuleReply", 0, 256, {Answer(ReplyFrame(0x30))}, 1, 0, {}, {0x80}},
        ExchangeCase{"WrittenNoAnswer", 3, 256, {Answer(ReplyFrame(0x00))}, 1, 0, {}, {0x20}},
        ExchangeCase{"NoReplyReadsAsNoAnswer", 3, 256, {Silence()}, 1, 0, {}, {0x20}},
        ExchangeCase{
            "DataCodeAfterWrite", 3, 256, {Answer(ReplyFrame(0x06, {1}))}, 51, 256, {}, {0x20}},
        ExchangeCase{"NoModuleAfterWrite", 3, 256, {Answer(ReplyFrame(0x30))}, 51, 256, {}, {0x20}},
        ExchangeCase{"PendingThenFetched",
                     2,
                     256,
                     {Answer(ReplyFrame(0x20)), Answer(ReplyFrame(0x06, {0xA1, 0xB2}))},
                     1,
                     2,
                     {0xA1, 0xB2},
                     {0x20, 0x80}},
        ExchangeCase{"WriteFails", 3, 256, {WriteFails()}, 50, 256, {}, {0x20}},
        ExchangeCase{"WriteShort", 3, 256, {ShortWrite(6)}, 50, 256, {}, {0x20}},
        ExchangeCase{"PollFails",
                     3,
                     256,
                     {Answer(ReplyFrame(0x20)), WriteFails()},
                     52,
                     256,
                     {},
                     {0x20, 0x80}},
        ExchangeCase{"PollShort", 0, 256, {ShortWrite(3)}, 52, 256, {}, {0x80}},
        ExchangeCase{"NoReplyToPoll",
                     3,
                     256,
                     {Answer(ReplyFrame(0x20)), Silence()},
                     53,
                     256,
                     {},
                     {0x20, 0x80}},
        ExchangeCase{
            "ReplyShorterThanHeader", 0, 256, {Answer({0x00, 0x00, 0x06})}, 53, 256, {}, {0x80}},
        ExchangeCase{"AnswerCutTo252",
                     0,
                     256,
                     {Answer(LongReply())},
                     1,
                     252,
                     FirstOf(Payload(255, 0x10), 252),
                     {0x80}},
        ExchangeCase{"CapacityLimitsTheRead",
                     0,
                     10,
                     {Answer(LongReply())},
                     1,
                     6,
                     FirstOf(Payload(255, 0x10), 6),
                     {0x80}},
        ExchangeCase{"CapacityAboveBufferReadsAt256",
                     0,
                     400,
                     {Answer(LongReply())},
                     1,
                     252,
                     FirstOf(Payload(255, 0x10), 252),
                     {0x80}},
        ExchangeCase{
            "CapacityBelowHeader", 0, 3, {Answer(ReplyFrame(0x06, {1, 2}))}, 53, 3, {}, {0x80}},
        ExchangeCase{"CapacityZero", 3, 0, {}, 49, 0, {}, {}},
        ExchangeCase{"CapacityNegative", 3, -5, {}, 49, -5, {}, {}},
        ExchangeCase{"Length256", 256, 256, {}, 49, 256, {}, {}},
        ExchangeCase{"LengthNegative", -1, 256, {}, 49, 256, {}, {}}),
    [](const auto& info) { return info.param.name; });

TEST_F(BridgeTest, ExchangeRejectsNullPointers) {
  OpenAdapter();
  std::uint8_t payload[1] = {1};
  std::uint8_t answer[8];
  std::int32_t length = 8;
  EXPECT_EQ(WriteExchange(nullptr, 1, answer, &length), 49);
  EXPECT_EQ(WriteExchange(payload, 1, nullptr, &length), 49);
  EXPECT_EQ(WriteExchange(payload, 1, answer, nullptr), 49);
  EXPECT_TRUE(usb.WrittenFrames().empty());
}

TEST_F(BridgeTest, LateRestOfAReplyNeverAnswersTheNextCommand) {
  OpenAdapter();
  // The write answers "no answer" with a longer packet; its rest must not be taken as the
  // answer to the following poll.
  usb.Reply(ReplyFrame(0x00, {0xDE, 0xAD}));
  usb.Reply(ReplyFrame(0x10));
  const std::uint8_t payload[2] = {1, 2};
  std::uint8_t answer[256];
  std::int32_t length = 256;
  ASSERT_EQ(WriteExchange(payload, 2, answer, &length), 1);
  length = 256;
  ASSERT_EQ(WriteExchange(payload, 0, answer, &length), 1);
  EXPECT_EQ(length, 0);
}

// --- Status, configuration register, negotiation, reset ---

struct SimpleCase {
  const char* name;
  std::vector<CommandResponse> responses;
  std::int32_t result;
  std::int32_t stored;  // NegociateCI only
};

class StatusTest : public BridgeTest, public ::testing::WithParamInterface<SimpleCase> {};

TEST_P(StatusTest, ReturnsTheStatusByteOfAStatusReply) {
  OpenAdapter();
  for (const auto& response : GetParam().responses) usb.Respond(response);
  EXPECT_EQ(GetCIStatus(), GetParam().result);
  ASSERT_EQ(usb.WrittenFrames().size(), 1u);
  EXPECT_EQ(usb.WrittenFrames()[0], (Bytes{0x50, 0x00, 0xFF, 0x00}));
  EXPECT_EQ(usb.CallsOf(UsbOp::ReadPipe).at(0).length, 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StatusTest,
    ::testing::Values(SimpleCase{"Status85", {Answer({0x00, 0x00, 0x05, 0x01, 0x85})}, 0x85, 0},
                      SimpleCase{"StatusZero", {Answer({0x00, 0x00, 0x05, 0x01, 0x00})}, 0, 0},
                      SimpleCase{"NoModule", {Answer({0x00, 0x00, 0x30, 0x00})}, -1, 0},
                      SimpleCase{"WrongLength", {Answer({0x00, 0x00, 0x05, 0x02, 0x85, 1})}, -1, 0},
                      SimpleCase{"NoReply", {Silence()}, -1, 0}),
    [](const auto& info) { return info.param.name; });

class WriteCorTest : public BridgeTest, public ::testing::WithParamInterface<SimpleCase> {};

TEST_P(WriteCorTest, NeedsExactlyAFourByteAcceptReply) {
  OpenAdapter();
  for (const auto& response : GetParam().responses) usb.Respond(response);
  EXPECT_EQ(WriteCOR(0x1FE, 9, 0x320), GetParam().result);
  ASSERT_EQ(usb.WrittenFrames().size(), 1u);
  EXPECT_EQ(usb.WrittenFrames()[0], (Bytes{0x70, 0x00, 0xFF, 0x05, 0xFE, 0x01, 0x09, 0x20, 0x03}));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, WriteCorTest,
    ::testing::Values(SimpleCase{"Accepted", {Answer({0x00, 0x00, 0x07, 0x00})}, 1, 0},
                      SimpleCase{"ShortReplyWithCode07", {Answer({0x00, 0x00, 0x07})}, 0, 0},
                      SimpleCase{"NotReady", {Answer({0x00, 0x00, 0x10, 0x00})}, 0, 0},
                      SimpleCase{"SecondReplyQueuedToo",
                                 {{false, std::nullopt, {{0, 0, 0x07, 0}, {0, 0, 0x10, 0}}}},
                                 1,
                                 0},
                      SimpleCase{"NoReply", {Silence()}, 0, 0}),
    [](const auto& info) { return info.param.name; });

class NegotiateTest : public BridgeTest, public ::testing::WithParamInterface<SimpleCase> {};

TEST_P(NegotiateTest, StoresTheAnsweredSizeWhateverTheCode) {
  OpenAdapter();
  for (const auto& response : GetParam().responses) usb.Respond(response);
  std::int32_t size = -7;
  EXPECT_EQ(NegociateCI(128, &size), GetParam().result);
  EXPECT_EQ(size, GetParam().stored);
  ASSERT_EQ(usb.WrittenFrames().size(), 1u);
  EXPECT_EQ(usb.WrittenFrames()[0], (Bytes{0x60, 0x00, 0xFF, 0x02, 0x80, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, NegotiateTest,
    ::testing::Values(
        SimpleCase{"Negotiated128", {Answer({0x00, 0x00, 0x04, 0x02, 0x00, 0x80})}, 1, 128},
        SimpleCase{"Negotiated256", {Answer({0x00, 0x00, 0x04, 0x02, 0x01, 0x00})}, 1, 256},
        SimpleCase{"WrongCodeStillStored", {Answer({0x00, 0x00, 0x10, 0x02, 0x00, 0x40})}, 0, 64},
        SimpleCase{"WrongLength", {Answer({0x00, 0x00, 0x04, 0x01, 0x00})}, 0, 0},
        SimpleCase{"NoReply", {Silence()}, 0, 0}),
    [](const auto& info) { return info.param.name; });

class ResetTest : public BridgeTest, public ::testing::WithParamInterface<SimpleCase> {};

TEST_P(ResetTest, ReturnsTheReplyCode) {
  OpenAdapter();
  usb.SetDeviceDescriptor(Payload(18));
  for (const auto& response : GetParam().responses) usb.Respond(response);
  EXPECT_EQ(USBAdapterCIReset(), GetParam().result);
  const auto& calls = usb.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].op, UsbOp::ControlTransfer) << "the device descriptor is read first";
  EXPECT_EQ(calls[0].setup.RequestType, 0x80);
  EXPECT_EQ(calls[0].setup.Request, 0x06);
  EXPECT_EQ(calls[0].setup.Value, 0x0100);
  EXPECT_EQ(calls[0].setup.Length, 18);
  EXPECT_EQ(usb.WrittenFrames().at(0), (Bytes{0x10, 0x00, 0xFF, 0x01, 0x0F}));
  EXPECT_EQ(usb.CallsOf(UsbOp::ReadPipe).at(0).length, 512u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ResetTest,
    ::testing::Values(SimpleCase{"Ready", {Answer(ReplyFrame(0x02))}, 2, 0},
                      SimpleCase{"NotReady", {Answer(ReplyFrame(0x10))}, 0x10, 0},
                      SimpleCase{"NoModule", {Answer(ReplyFrame(0x30))}, 0x30, 0},
                      SimpleCase{"NoProgramNoReply", {Silence()}, 0, 0},
                      SimpleCase{"WriteFails", {WriteFails()}, 0, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(BridgeTest, ResetIgnoresAFailingDescriptorRead) {
  OpenAdapter();
  usb.FailCall(UsbOp::ControlTransfer);
  usb.Reply(ReplyFrame(0x02));
  EXPECT_EQ(USBAdapterCIReset(), 2);
}

// --- Program download ---

struct Transfer {
  std::uint16_t address;
  Bytes data;
};

std::vector<Transfer> ControlWrites(const sim::ScriptedUsb& usb) {
  std::vector<Transfer> writes;
  for (const auto& call : usb.CallsOf(UsbOp::ControlTransfer)) {
    if (call.setup.RequestType == 0x80 && call.setup.Request == 0x06) continue;  // presence probe
    EXPECT_EQ(call.setup.RequestType, 0x40);
    EXPECT_EQ(call.setup.Request, 0xA0);
    EXPECT_EQ(call.setup.Index, 0);
    writes.push_back({call.setup.Value, call.data});
  }
  return writes;
}

struct DownloadCase {
  const char* name;
  std::int32_t ids;
  Bytes marker;  // the four bytes expected at 0x108
};

class DownloadTest : public BridgeTest, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(DownloadTest, WritesTheWholeCodeMemoryWithTheCpuHeld) {
  OpenAdapter();
  ASSERT_EQ(LoadFirmware(GetParam().ids), 1);
  const std::vector<Transfer> writes = ControlWrites(usb);
  ASSERT_EQ(writes.size(), 2u + 512u + 4u);
  const std::vector<std::pair<std::uint16_t, std::uint8_t>> cpu = {
      {0x7F92, 1}, {0xE600, 1}, {0x7F92, 1}, {0xE600, 1}, {0x7F92, 0}, {0xE600, 0}};
  for (std::size_t i = 0; i < 6; ++i) {
    const Transfer& write = writes[i < 2 ? i : 512 + i];
    EXPECT_EQ(write.address, cpu[i].first) << i;
    EXPECT_EQ(write.data, Bytes{cpu[i].second}) << i;
  }
  Bytes memory;
  for (std::size_t chunk = 0; chunk < 512; ++chunk) {
    const Transfer& write = writes[2 + chunk];
    ASSERT_EQ(write.address, chunk * 16);
    ASSERT_EQ(write.data.size(), 16u);
    memory.insert(memory.end(), write.data.begin(), write.data.end());
  }
  Bytes expected(cibridge::kAdapterProgram,
                 cibridge::kAdapterProgram + cibridge::kAdapterProgramSize);
  expected.resize(8192, 0xFF);
  std::copy(GetParam().marker.begin(), GetParam().marker.end(), expected.begin() + 0x108);
  EXPECT_EQ(memory, expected);
  EXPECT_TRUE(std::all_of(memory.begin() + 0x1C90, memory.end(), [](auto b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(
    Ids, DownloadTest,
    ::testing::Values(DownloadCase{"Unchanged0x100", 0x100, {0x0D, 0x1B, 0x10, 0x5F}},
                      DownloadCase{"Patched0x101", 0x101, {0x00, 0x00, 0x01, 0x01}},
                      DownloadCase{"OwnIds", 0x1B0D5F10, {0x0D, 0x1B, 0x10, 0x5F}},
                      DownloadCase{"OtherIds", 0x1234ABCD, {0x34, 0x12, 0xCD, 0xAB}},
                      DownloadCase{"Zero", 0, {0x0D, 0x1B, 0x10, 0x5F}},
                      DownloadCase{"UnknownIds", -1, {0x0D, 0x1B, 0x10, 0x5F}},
                      DownloadCase{"VendorWithTopBit",
                                   static_cast<std::int32_t>(0x80865F10u),
                                   {0x86, 0x80, 0x10, 0x5F}}),
    [](const auto& info) { return info.param.name; });

TEST(AdapterProgram, CarriesTheDescriptorLayout) {
  const unsigned char* p = cibridge::kAdapterProgram;
  EXPECT_EQ(p[0x100], 18);
  EXPECT_EQ(p[0x101], 0x01);
  EXPECT_EQ(Bytes(p + 0x108, p + 0x10C), (Bytes{0x0D, 0x1B, 0x10, 0x5F}));
  EXPECT_EQ(p[0x114], 10);
  EXPECT_EQ(p[0x115], 0x06);
  EXPECT_EQ(p[0x120], 9);
  EXPECT_EQ(p[0x121], 0x07);
  EXPECT_EQ(p[0x134], 9);
  EXPECT_EQ(p[0x135], 0x02);
  EXPECT_EQ(p[0x136], 41);
  EXPECT_EQ(Bytes(p + 0x15E, p + 0x162), (Bytes{0x04, 0x03, 0x09, 0x04}));
  // The marker occurs once, so the download patches the descriptor and nothing else.
  const Bytes marker = {0x0D, 0x1B, 0x10, 0x5F};
  const auto first =
      std::search(p, p + cibridge::kAdapterProgramSize, marker.begin(), marker.end());
  EXPECT_EQ(first - p, 0x108);
}

struct DownloadFailureCase {
  const char* name;
  int failingTransfer;
};

class DownloadFailureTest : public BridgeTest,
                            public ::testing::WithParamInterface<DownloadFailureCase> {};

TEST_P(DownloadFailureTest, StopsAndLeavesTheCpuHeld) {
  OpenAdapter();
  usb.FailCall(UsbOp::ControlTransfer, GetParam().failingTransfer);
  EXPECT_EQ(LoadFirmware(0x1B0D5F10), 0);
  const std::vector<Transfer> writes = ControlWrites(usb);
  const bool releaseAttempted = std::any_of(writes.begin(), writes.end(), [](const Transfer& w) {
    return (w.address == 0x7F92 || w.address == 0xE600) && w.data == Bytes{0};
  });
  const bool failedInRelease = GetParam().failingTransfer >= 516;
  EXPECT_EQ(releaseAttempted, failedInRelease);
  if (!failedInRelease) {
    // Nothing after the failing step except the second register write of a hold.
    EXPECT_LE(writes.size(), static_cast<std::size_t>(GetParam().failingTransfer) + 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, DownloadFailureTest,
                         ::testing::Values(DownloadFailureCase{"FirstHold", 0},
                                           DownloadFailureCase{"SecondHoldRegister", 1},
                                           DownloadFailureCase{"FirstChunk", 2},
                                           DownloadFailureCase{"MiddleChunk", 300},
                                           DownloadFailureCase{"LastChunk", 513},
                                           DownloadFailureCase{"HoldAgain", 514},
                                           DownloadFailureCase{"ReleaseFirstGeneration", 516},
                                           DownloadFailureCase{"ReleaseFx2", 517}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
