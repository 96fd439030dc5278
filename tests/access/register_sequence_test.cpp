// The register traffic of the link initialisation and of one exchange, access by access, and
// the time-out behaviour of the exchange.
#include <gtest/gtest.h>

#include "link_rig.h"

namespace {

using sim::PortAccess;

PortAccess W(std::uint16_t port, std::uint8_t value) {
  return {true, port, value};
}
PortAccess R(std::uint16_t port, std::uint8_t value) {
  return {false, port, value};
}

class RegisterSequence : public ::testing::Test {
 protected:
  RegisterSequence() {
    rig.link->IOBase = 0x320;
    rig.link->Application = rig.host.get();
    rig.ports.SetLogging(true);
  }
  test::LinkRig rig;
};

TEST_F(RegisterSequence, LinkInitResetsReadsTheSizeAndWrites128) {
  ASSERT_TRUE(rig.link->CiLinkInit());
  const std::vector<PortAccess> expected = {
      W(0x321, 0x08), W(0x321, 0x00), W(0x321, 0x04), R(0x321, 0xC0),  // DA and FR
      R(0x322, 0x02), R(0x323, 0x00), R(0x320, 0x00), R(0x320, 0x80), W(0x321, 0x00),
      W(0x321, 0x02), W(0x321, 0x03), W(0x323, 0x00), W(0x322, 0x02), W(0x320, 0x00),
      W(0x320, 0x80), W(0x321, 0x02), W(0x321, 0x00),
  };
  EXPECT_EQ(rig.ports.Log(), expected);
  EXPECT_EQ(rig.link->AnswerText, "0080");
  EXPECT_EQ(rig.module->NegotiatedSize(), 128);
}

TEST_F(RegisterSequence, SwapboxLinkInitSkipsTheResetAndSplitsDataWrites) {
  rig.link->SwapboxMode = true;
  rig.ports.SetSwapboxAdapter(true);
  ASSERT_TRUE(rig.link->CiLinkInit());
  const std::vector<PortAccess> expected = {
      W(0x321, 0x00), W(0x321, 0x04), R(0x321, 0xC0), R(0x322, 0x02), R(0x323, 0x00),
      R(0x320, 0x00), R(0x320, 0x80), W(0x321, 0x00), W(0x321, 0x02), W(0x321, 0x03),
      W(0x323, 0x00), W(0x322, 0x02), W(0x323, 0x00), W(0x320, 0x00),  // 0x00 in halves
      W(0x323, 0x00), W(0x320, 0x80),                                  // 0x80 in halves
      W(0x321, 0x02), W(0x321, 0x00),
  };
  EXPECT_EQ(rig.ports.Log(), expected);
  EXPECT_EQ(rig.module->NegotiatedSize(), 128);
  EXPECT_EQ(rig.module->ResetCount(), 0);
}

TEST_F(RegisterSequence, LinkInitWithAnotherBufferSizeStillWrites128ButFails) {
  rig.module->SetBufferSize(256);
  EXPECT_FALSE(rig.link->CiLinkInit());
  EXPECT_EQ(rig.link->AnswerText, "0100");
  EXPECT_EQ(rig.module->NegotiatedSize(), 128);
}

TEST_F(RegisterSequence, LinkInitGivesUpAfterASecondWithoutDataAvailable) {
  rig.module->Remove();
  rig.ports.SetFixedPort(0x321, 0x00);
  const auto start = rig.clock.TickCount();
  EXPECT_FALSE(rig.link->CiLinkInit());
  const auto waited = rig.clock.TickCount() - start;
  EXPECT_GE(waited, 1000u);
  EXPECT_LE(waited, 1120u);
  EXPECT_TRUE(rig.host->Messages().empty());
}

TEST_F(RegisterSequence, ExchangeWritesTheMessageThenCollectsTheAnswer) {
  rig.module->AnswerAt(1, "A1B2C3");
  rig.link->ModuleExchange("0102", 4000);
  const std::vector<PortAccess> expected = {
      W(0x321, 0x01), W(0x323, 0x00), W(0x322, 0x02), W(0x320, 0x01), W(0x320, 0x02),
      W(0x321, 0x00), W(0x321, 0x00), R(0x321, 0xC0), R(0x322, 0x03), R(0x323, 0x00),
      R(0x320, 0xA1), R(0x320, 0xB2), R(0x320, 0xC3),
  };
  EXPECT_EQ(rig.ports.Log(), expected);
  EXPECT_EQ(rig.link->AnswerText, "A1B2C3");
}

struct MessageCase {
  const char* message;
  std::vector<std::uint8_t> sent;
};

TEST_F(RegisterSequence, MessageTextsBecomeBytes) {
  const MessageCase cases[] = {
      {"", {0x00}},                     // an empty message is the single byte 0
      {"ABCDEF1", {0xAB, 0xCD, 0xEF}},  // an odd last character is ignored
      {"0G11", {0xFF, 0x11}},           // a pair that is not hexadecimal sends 0xFF
      {"ff7e", {0xFF, 0x7E}},
      {"5", {0x00}},  // no whole pair: as empty
  };
  int number = 0;
  for (const auto& c : cases) {
    rig.link->ModuleExchange(c.message, 4000);
    ++number;
    ASSERT_EQ(rig.module->MessageCount(), number);
    EXPECT_EQ(rig.module->Messages().back(), c.sent) << '"' << c.message << '"';
  }
}

TEST_F(RegisterSequence, AnEmptyAnswerGivesAnEmptyTextWithoutMessage) {
  rig.module->AnswerAt(1, std::vector<std::uint8_t>{});
  rig.link->AnswerText = "stale";
  rig.link->ModuleExchange("01", 4000);
  EXPECT_EQ(rig.link->AnswerText, "");
  EXPECT_TRUE(rig.host->Messages().empty());
}

struct TimeoutCase {
  std::int32_t timeout;
  bool message;
};

TEST_F(RegisterSequence, TimeoutsShowTheirMessageExceptThe1999One) {
  const TimeoutCase cases[] = {{4000, true}, {1999, false}, {50000, true}, {2000, true}};
  int number = 0;
  for (const auto& c : cases) {
    rig.module->SilenceAt(++number);
    const auto before = rig.host->Messages().size();
    const auto start = rig.clock.TickCount();
    rig.link->ModuleExchange("01", c.timeout);
    const auto waited = static_cast<std::int32_t>(rig.clock.TickCount() - start);
    EXPECT_EQ(rig.link->AnswerText, "");
    EXPECT_EQ(rig.link->TimeoutCountdown, 0);
    // The countdown falls in 100 ms steps of the timer, so the wait ends within one step.
    EXPECT_GE(waited, c.timeout - 100) << c.timeout;
    EXPECT_LE(waited, c.timeout + 120) << c.timeout;
    ASSERT_EQ(rig.host->Messages().size(), before + (c.message ? 1 : 0)) << c.timeout;
    if (c.message) {
      const auto& shown = rig.host->Messages().back();
      EXPECT_EQ(shown.text, "Timeout, keine Antwort vom Modul");
      EXPECT_EQ(shown.title, "Fehler");
      EXPECT_TRUE(shown.systemModal);
    }
  }
}

TEST_F(RegisterSequence, ADelayedAnswerIsCollectedBeforeTheTimeout) {
  rig.module->DelayAt(1, 3500 * 1000);
  rig.link->ModuleExchange("01", 4000);
  EXPECT_FALSE(rig.link->AnswerText.empty());
  EXPECT_TRUE(rig.host->Messages().empty());
}

struct CountdownCase {
  std::int32_t start;
  std::vector<std::int32_t> afterTicks;
};

TEST(TimeoutCountdown, FallsByHundredToExactlyZero) {
  const CountdownCase cases[] = {
      {250, {150, 50, 0, 0}}, {100, {0, 0}},           {101, {1, 0}}, {0, {0}},
      {-5, {-5, -5}},         {50000, {49900, 49800}},
  };
  test::LinkRig rig;
  for (const auto& c : cases) {
    rig.link->TimeoutCountdown = c.start;
    for (auto expected : c.afterTicks) {
      rig.link->TimeoutTick();
      EXPECT_EQ(rig.link->TimeoutCountdown, expected) << "from " << c.start;
    }
  }
}

}  // namespace
