// The adapter program's command handling against the simulated module: each reply code, the
// register traffic behind it, and the rule that an answer the module already holds is fetched
// before a new message is written.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core_rig.h"

namespace firmware_test {
namespace {

struct ReplyCase {
  std::string name;
  std::function<void(CoreRig&)> arrange;
  Bytes frame;
  std::vector<std::uint8_t> codes;  // reply codes, in order
  friend void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }
};

void Nothing(CoreRig&) {}
void Configured(CoreRig& rig) {
  rig.BringUp();
}
void Negotiated(CoreRig& rig) {
  rig.BringUpAndNegotiate();
}
void Empty(CoreRig& rig) {
  rig.slot.SetModule(nullptr);
}

class ReplyCodes : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyCodes, AnswerAsTheProtocolSays) {
  const auto& scenario = GetParam();
  CoreRig rig;
  scenario.arrange(rig);
  EXPECT_EQ(Codes(rig.Run(scenario.frame)), scenario.codes);
}

const Bytes kCor = {0xFE, 0x01, 0x09, 0x20, 0x03};  // 0x1FE, value 9, base 0x320

INSTANTIATE_TEST_SUITE_P(
    Adapter, ReplyCodes,
    ::testing::Values(
        ReplyCase{"ResetReady", Nothing, Frame(0x10, {0x0F}), {0x02}},
        ReplyCase{"ResetEmptySlot", Empty, Frame(0x10, {0x0F}), {0x30}},
        ReplyCase{"ResetNeverReady",
                  [](CoreRig& r) { r.slot.SetNeverReady(true); },
                  Frame(0x10, {0x0F}),
                  {0x10}},
        ReplyCase{"ResetReadyAfterOneSecond",
                  [](CoreRig& r) { r.slot.SetReadyDelayMs(1000); },
                  Frame(0x10, {0x0F}),
                  {0x02}},
        ReplyCase{"ResetReadyTooLate",
                  [](CoreRig& r) { r.slot.SetReadyDelayMs(1600); },
                  Frame(0x10, {0x0F}),
                  {0x10}},
        ReplyCase{"CorAccepted", Nothing, Frame(0x70, kCor), {0x07}},
        ReplyCase{"CorReadBackDiffers",
                  [](CoreRig& r) { r.slot.SetCorStuck(true); },
                  Frame(0x70, kCor),
                  {0x07, 0x10}},
        ReplyCase{"CorEmptySlot", Empty, Frame(0x70, kCor), {0x30}},
        ReplyCase{"CorShortPayload", Nothing, Frame(0x70, {0xFE, 0x01, 0x09}), {0x10}},
        ReplyCase{"StatusBeforeConfiguration", Nothing, Frame(0x50), {0x10}},
        ReplyCase{"Status", Configured, Frame(0x50), {0x05}},
        ReplyCase{"StatusEmptySlot", Empty, Frame(0x50), {0x30}},
        ReplyCase{"Negotiate", Configured, Frame(0x60, {0x80, 0x00}), {0x04}},
        ReplyCase{"NegotiateWrongLength", Configured, Frame(0x60, {0x80}), {0x10}},
        ReplyCase{"NegotiateEmptySlot", Empty, Frame(0x60, {0x80, 0x00}), {0x30}},
        ReplyCase{"WriteAnswered", Negotiated, Frame(0x20, PreparationMessage(0)), {0x20}},
        ReplyCase{"WriteSilentModule",
                  [](CoreRig& r) { Negotiated(r), r.module.SilenceAt(1); },
                  Frame(0x20, PreparationMessage(0)),
                  {0x00}},
        ReplyCase{"WriteModuleLeaves",
                  [](CoreRig& r) { Negotiated(r), r.module.RemoveAt(1); },
                  Frame(0x20, PreparationMessage(0)),
                  {0x30}},
        ReplyCase{"WriteEmptySlot", Empty, Frame(0x20, {0x00}), {0x30}},
        ReplyCase{"WriteNothing", Negotiated, Frame(0x20), {0x10}},
        ReplyCase{"ReadWithNothingWaiting", Negotiated, Frame(0x80), {0x10}},
        ReplyCase{"ReadEmptySlot", Empty, Frame(0x80), {0x30}},
        ReplyCase{"UnknownCode", Nothing, Frame(0x40), {0x90}},
        ReplyCase{"UnknownCodeEmptySlot", Empty, Frame(0x99), {0x90}},
        ReplyCase{"FrameShorterThanHeader", Nothing, Bytes{0x10, 0x00, 0xFF}, {0x90}},
        ReplyCase{"FrameLengthDisagrees", Nothing, Bytes{0x10, 0x00, 0xFF, 0x02, 0x0F}, {0x90}}),
    [](const auto& info) { return info.param.name; });

TEST(CommandHandling, ReplyFramesCarryHeaderStateAndPayload) {
  CoreRig rig;
  rig.BringUp();
  const auto negotiated = rig.Run(Frame(0x60, {0x80, 0x00}));
  ASSERT_EQ(negotiated.size(), 1u);
  // 0x00, state (module present, base configured, link negotiated), 0x04, 2, size high first.
  EXPECT_EQ(negotiated[0], (Bytes{0x00, 0x07, 0x04, 0x02, 0x00, 0x80}));

  const auto status = rig.Run(Frame(0x50));
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0], (Bytes{0x00, 0x07, 0x05, 0x01, 0x40}));  // FR: free, nothing waiting
}

// The proposal is read high byte first: the library's 128 (bytes 0x80 0x00) arrives as 32768,
// so the module's own size wins whenever it is smaller.
struct NegotiationCase {
  std::uint16_t moduleSize;
  Bytes proposal;
  std::uint16_t negotiated;
  friend void PrintTo(const NegotiationCase& c, std::ostream* out) { *out << c.moduleSize; }
};

class Negotiation : public ::testing::TestWithParam<NegotiationCase> {};

TEST_P(Negotiation, TakesTheSmallerSizeAndWritesItBack) {
  const auto& c = GetParam();
  CoreRig rig;
  rig.module.SetBufferSize(c.moduleSize);
  rig.BringUp();
  const auto replies = rig.Run(Frame(0x60, c.proposal));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][2], 0x04);
  EXPECT_EQ(replies[0][4] * 256 + replies[0][5], c.negotiated);
  EXPECT_EQ(rig.module.NegotiatedSize(), c.negotiated);
}

INSTANTIATE_TEST_SUITE_P(Adapter, Negotiation,
                         ::testing::Values(NegotiationCase{128, {0x80, 0x00}, 128},
                                           NegotiationCase{1024, {0x80, 0x00}, 1024},
                                           NegotiationCase{256, {0x00, 0x80}, 128},
                                           NegotiationCase{64, {0x00, 0x80}, 64}));

TEST(CommandHandling, ConfigurationWritesTheCorThenResetsTheCommandInterface) {
  CoreRig rig;
  rig.Run(Frame(0x10, {0x0F}));
  rig.slot.ClearCycles();
  rig.Run(Frame(0x70, {0xFE, 0x01, 0x09, 0x20, 0x03}));
  using C = firmware::CiSlot::Cycle;
  const auto& cycles = rig.slot.Cycles();
  ASSERT_GE(cycles.size(), 5u);
  EXPECT_EQ(cycles[0].kind, C::kAttributeWrite);
  EXPECT_EQ(cycles[0].address, 0x1FE);
  EXPECT_EQ(cycles[0].value, 0x09);
  EXPECT_EQ(cycles[1].kind, C::kAttributeRead);
  EXPECT_EQ(rig.slot.Cor(), 0x09);
  // Every register access afterwards lies in the window at the base the command named.
  bool sawReset = false;
  for (std::size_t i = 2; i < cycles.size(); ++i) {
    EXPECT_GE(cycles[i].address, 0x320);
    EXPECT_LE(cycles[i].address, 0x323);
    if (cycles[i].kind == C::kIoWrite && cycles[i].address == 0x321 && cycles[i].value == 0x08)
      sawReset = true;
  }
  EXPECT_TRUE(sawReset);
  EXPECT_EQ(rig.module.ResetCount(), 1);
}

TEST(CommandHandling, MessageTravelsWithSizeLowByteFirst) {
  CoreRig rig;
  rig.BringUpAndNegotiate();
  rig.slot.ClearCycles();
  rig.Run(Frame(0x20, PreparationMessage(0)));
  using C = firmware::CiSlot::Cycle;
  std::vector<C> writes;
  for (const auto& cycle : rig.slot.Cycles())
    if (cycle.kind == C::kIoWrite) writes.push_back(cycle);
  ASSERT_GE(writes.size(), 4u + 73u);
  EXPECT_EQ(writes[0].address, 0x321);  // HC
  EXPECT_EQ(writes[0].value, 0x01);
  EXPECT_EQ(writes[1].address, 0x322);  // size low
  EXPECT_EQ(writes[1].value, 73);
  EXPECT_EQ(writes[2].address, 0x323);  // size high
  EXPECT_EQ(writes[2].value, 0);
  EXPECT_EQ(writes.back().address, 0x321);  // HC cleared: the module takes the message
  EXPECT_EQ(writes.back().value, 0x00);
  ASSERT_EQ(rig.module.Messages().size(), 1u);
  EXPECT_EQ(rig.module.Messages()[0], PreparationMessage(0));
}

TEST(CommandHandling, ExchangeDeliversTheModulesAnswerOnce) {
  CoreRig rig;
  rig.BringUpAndNegotiate();
  EXPECT_EQ(Codes(rig.Run(Frame(0x20, PreparationMessage(0)))), (std::vector<std::uint8_t>{0x20}));
  const auto answer = rig.Run(Frame(0x80));
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0], (Bytes{0x00, 0x07, 0x06, 0x06, 0x21, 0x01, 0x02, 0x90, 0x00, 0xB2}));
  // The kept answer is forgotten once sent.
  EXPECT_EQ(Codes(rig.Run(Frame(0x80))), (std::vector<std::uint8_t>{0x10}));
}

// Keep the answer: a module that still holds an answer when the next message comes gets that
// answer fetched, and the new message is not written.
TEST(CommandHandling, AnswerWaitingInTheModuleIsFetchedInsteadOfWriting) {
  CoreRig rig;
  rig.BringUpAndNegotiate();
  rig.module.DelayAt(1, 70'000'000);  // answers after 70 s, later than the adapter waits
  EXPECT_EQ(Codes(rig.Run(Frame(0x20, PreparationMessage(0)))), (std::vector<std::uint8_t>{0x00}));
  rig.Idle(15000);  // now the answer is there
  EXPECT_EQ(Codes(rig.Run(Frame(0x20, PreparationMessage(1)))), (std::vector<std::uint8_t>{0x20}));
  EXPECT_EQ(rig.module.MessageCount(), 1);  // the second message was not written
  const auto answer = rig.Run(Frame(0x80));
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(Bytes(answer[0].begin() + 4, answer[0].end()), sim::CiModule::Bytes("2101029000B2"));
}

// The host gave up on an answer and sent its next command: the old command ends without a
// reply, and its answer, once the module has it, is kept by the rule above.
TEST(CommandHandling, NextCommandEndsAWaitTheHostGaveUpOn) {
  CoreRig rig;
  rig.BringUpAndNegotiate();
  rig.module.DelayAt(1, 5'000'000);
  rig.replies.clear();
  rig.core.Command(Frame(0x20, PreparationMessage(0)));
  rig.Idle(2000);
  EXPECT_TRUE(rig.core.Busy());
  EXPECT_EQ(Codes(rig.Run(Frame(0x80))), (std::vector<std::uint8_t>{0x10}));  // nothing yet
  EXPECT_FALSE(rig.core.Busy());
  rig.replies.clear();
  rig.Idle(4000);
  EXPECT_TRUE(rig.replies.empty());  // the abandoned write never replies
  EXPECT_EQ(Codes(rig.Run(Frame(0x80))), (std::vector<std::uint8_t>{0x06}));
}

TEST(CommandHandling, ModuleLeavingTakesTheKeptAnswerAndConfiguration) {
  CoreRig rig;
  rig.BringUpAndNegotiate();
  rig.Run(Frame(0x20, PreparationMessage(0)));
  rig.module.Remove();
  EXPECT_EQ(Codes(rig.Run(Frame(0x80))), (std::vector<std::uint8_t>{0x30}));
  rig.module.Insert();
  // Back in the slot, it needs reset and configuration before its registers are used.
  EXPECT_EQ(Codes(rig.Run(Frame(0x50))), (std::vector<std::uint8_t>{0x10}));
  rig.BringUp();
  EXPECT_EQ(Codes(rig.Run(Frame(0x50))), (std::vector<std::uint8_t>{0x05}));
}

TEST(CommandHandling, LongAnswerIsCutToWhatAReplyCarriesAndDrained) {
  CoreRig rig;
  rig.module.SetBufferSize(1024);
  rig.BringUp();
  rig.Run(Frame(0x60, {0x80, 0x00}));
  Bytes longAnswer(300);
  for (std::size_t i = 0; i < longAnswer.size(); ++i) longAnswer[i] = static_cast<std::uint8_t>(i);
  rig.module.AnswerAt(1, longAnswer);
  rig.Run(Frame(0x20, PreparationMessage(0)));
  const auto answer = rig.Run(Frame(0x80));
  ASSERT_EQ(answer.size(), 1u);
  ASSERT_EQ(answer[0][3], 255);
  EXPECT_EQ(Bytes(answer[0].begin() + 4, answer[0].end()),
            Bytes(longAnswer.begin(), longAnswer.begin() + 255));
  // The module's buffer was emptied: no stale DA.
  EXPECT_EQ(rig.Run(Frame(0x50))[0][4] & 0x80, 0);
}

TEST(CommandHandling, ResetForgetsConfigurationAndKeptAnswer) {
  CoreRig rig;
  rig.BringUpAndNegotiate();
  rig.Run(Frame(0x20, PreparationMessage(0)));
  EXPECT_EQ(Codes(rig.Run(Frame(0x10, {0x0F}))), (std::vector<std::uint8_t>{0x02}));
  EXPECT_FALSE(rig.slot.IoEnabled());
  EXPECT_EQ(Codes(rig.Run(Frame(0x80))), (std::vector<std::uint8_t>{0x10}));
}

}  // namespace
}  // namespace firmware_test
