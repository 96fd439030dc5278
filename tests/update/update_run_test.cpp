// Whole updates against the simulated module over the port transport, on virtual time.
#include <gtest/gtest.h>
#include <malloc.h>

#include "hex.h"
#include "link_rig.h"

namespace {

// Twenty updates one after the other, as in a window left open for a day at a service desk:
// what the program (and the module it talks to) holds after the last is what it held after the
// second, give or take a little. (Under AddressSanitizer, whose allocator the count does not
// see, its leak check covers the same runs.)
TEST(UpdateRun, TwentyUpdatesInOneProcessKeepTheMemoryFlat) {
  test::LinkRig rig;
  std::size_t afterSecond = 0;
  for (int run = 1; run <= 20; ++run) {
    const UpdateOutcome outcome = rig.RunUpdate();
    ASSERT_EQ(outcome, run == 1 ? UpdateOutcome::kReady : UpdateOutcome::kAlreadyCurrent) << run;
    rig.view = {};
    if (run == 2) afterSecond = mallinfo2().uordblks;
  }
  const std::size_t afterLast = mallinfo2().uordblks;
  EXPECT_LT(afterLast, afterSecond + 32 * 1024) << "bytes in use grew from " << afterSecond;
}

TEST(UpdateRun, TheBuiltInImageReachesTheModuleWholeAndEndsInReady) {
  test::LinkRig rig;
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);

  EXPECT_TRUE(rig.module->ReceivedImageIntact());
  EXPECT_EQ(rig.module->PreparationBytesConfirmed(), 8320u);
  EXPECT_EQ(rig.module->TransferBytesConfirmed(), 179328u);
  EXPECT_TRUE(rig.module->Programmed());
  EXPECT_EQ(rig.module->MessageCount(), 130 + 1401 + 1);

  EXPECT_EQ(rig.view.statusLines,
            (std::vector<std::string>{"Suche CI Modul...", "Vorbereitung...", "Integritätstest...",
                                      "Modul wird programmiert...", "Ready"}));
  EXPECT_TRUE(rig.view.messages.empty());
  EXPECT_TRUE(rig.view.buttonsEnabled);
  EXPECT_EQ(rig.view.buttonChanges, (std::vector<bool>{false, true}));
  EXPECT_EQ(rig.view.label2Cleared, 1);
  EXPECT_EQ(rig.view.lastGauge, 100);
  EXPECT_EQ(rig.Closes(), 1);
  EXPECT_EQ(rig.host->Beeps(), 1u);
  EXPECT_EQ(rig.link->AnswerText, "Ready");
}

TEST(UpdateRun, GaugeClimbsTo60InThePreparationThenInSteps) {
  test::LinkRig rig;
  rig.RunUpdate();
  std::vector<int> expected = {0};
  for (int step = 1; step <= 65; ++step) {
    const int value = step * 128 * 60 / 8320;
    if (value != expected.back()) expected.push_back(value);
  }
  for (int value : {65, 70, 76, 81, 87, 100}) expected.push_back(value);
  EXPECT_EQ(rig.view.gauge, expected);
}

TEST(UpdateRun, MessagesCarryTheSequenceSlicesAndChunksInOrder) {
  test::LinkRig rig;
  rig.RunUpdate();
  const auto messages = rig.module->Messages();
  ASSERT_EQ(messages.size(), 1532u);
  const std::vector<std::uint8_t> prefix = {0x13, 0x01, 0x00, 0x80, 0xFF, 0x00, 0x00, 0x86};
  for (std::size_t i = 0; i < 130; ++i) {
    ASSERT_EQ(messages[i].size(), 73u);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), messages[i].begin()));
    EXPECT_EQ(messages[i][8], i) << "sequence byte";
    EXPECT_TRUE(std::equal(messages[i].begin() + 9, messages[i].end(), InitData + 64 * i));
  }
  for (std::size_t chunk = 0; chunk < 1401; ++chunk) {
    const auto& message = messages[130 + chunk];
    ASSERT_EQ(message.size(), 128u);
    EXPECT_TRUE(std::equal(message.begin(), message.end(), MainData + 128 * chunk)) << chunk;
  }
  EXPECT_EQ(messages.back(), std::vector<std::uint8_t>{0x00});
}

TEST(UpdateRun, TimeoutsFollowTheMessageKind) {
  // A silent module shows which time-out each message kind waits for.
  struct Probe {
    int message;
    std::int32_t timeout;
  };
  const Probe probes[] = {{1, 1999}, {2, 4000}, {3, 1999}, {131, 4000}, {1531, 50000}};
  for (const auto& probe : probes) {
    test::LinkRig silent;
    silent.module->SilenceAt(probe.message);
    const auto start = silent.clock.TickCount();
    // Time spent before the silent message is tiny (the module answers at once), so the run's
    // virtual duration is the time-out plus the fixed pauses of the link.
    silent.RunUpdate();
    const auto elapsed = static_cast<std::int32_t>(silent.clock.TickCount() - start);
    const auto pauses = static_cast<std::int32_t>(silent.clock.SleptMs());
    EXPECT_GE(elapsed - pauses, probe.timeout - 100) << "message " << probe.message;
    EXPECT_LE(elapsed - pauses, probe.timeout + 1500) << "message " << probe.message;
  }
}

TEST(UpdateRun, TheFinalExchangeWaitsForASlowProgramming) {
  test::LinkRig rig;
  rig.module->SetTiming({0, 0, 40'000'000, 45'000'000});  // integrity 40 s, programming 45 s
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  EXPECT_TRUE(rig.host->Messages().empty());
}

TEST(UpdateRun, AMainSizeAboveTheCapacityIsPaddedWithZeroBytes) {
  // 179328 + 200 bytes: two more chunks, the bytes past the capacity sent as 00.
  auto image = test::TestImage::Generated(8320, 8320, 179328 + 200);
  test::LinkRig rig(image.View());
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  const auto messages = rig.module->Messages();
  ASSERT_EQ(messages.size(), 130u + 1403u + 1u);
  const auto& last = messages[130 + 1402];
  EXPECT_TRUE(std::all_of(last.begin(), last.end(), [](auto b) { return b == 0; }));
  EXPECT_TRUE(rig.module->ReceivedImageIntact());
}

TEST(UpdateRun, AMainSizeOffTheChunkGridSendsTheStoredBytesThatFollow) {
  auto image = test::TestImage::Generated(8320, 8320, 1000);
  test::LinkRig rig(image.View());
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  const auto messages = rig.module->Messages();
  ASSERT_EQ(messages.size(), 130u + 8u + 1u);  // 1000 bytes in 8 chunks
  const auto& last = messages[130 + 7];
  EXPECT_TRUE(std::equal(last.begin(), last.end(), image.main.begin() + 7 * 128));
}

TEST(UpdateRun, ASmallerPreparationBlockSendsItsOwnStepCount) {
  auto image = test::TestImage::Generated(1024, 8320 * 8, 179328);
  test::LinkRig rig(image.View());
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kReady);
  const auto messages = rig.module->Messages();
  EXPECT_EQ(messages[15][8], 15);  // 8 steps: sequence 00 to 0F
  EXPECT_EQ(messages[16].size(), 128u);
}

TEST(UpdateRun, ARefusedBlockMovesToTheNextCandidateBlock) {
  auto image = test::TestImage::Generated(1024, 8320 * 8, 179328);
  test::LinkRig rig(image.View());
  // The module refuses block 0 at its first step; block 1 is then sent from sequence 00.
  rig.module->AnswerAt(2, "2101029000FF");
  rig.RunUpdate();
  const auto messages = rig.module->Messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[2][8], 0) << "block 1 starts again at sequence 00";
  EXPECT_TRUE(std::equal(messages[2].begin() + 9, messages[2].end(), image.init.begin() + 8320));
}

}  // namespace
