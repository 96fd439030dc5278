// Two updates in a row over the port transport, on virtual time.
#include "second_update.h"
#include "link_rig.h"

namespace {

class SecondUpdateOverPorts : public ::testing::TestWithParam<test::SecondUpdate> {};

TEST_P(SecondUpdateOverPorts, EndsAsTheModuleStands) {
  test::LinkRig rig;
  test::RunTwice(rig, GetParam());
  EXPECT_EQ(rig.Closes(), 2);
  EXPECT_EQ(rig.module->ResetCount(), 2);  // the link was brought up once for each run
}

INSTANTIATE_TEST_SUITE_P(Ports, SecondUpdateOverPorts, ::testing::ValuesIn(test::SecondUpdates()),
                         test::SecondUpdateName);

TEST(ModuleSoftware, ACardThatHoldsTheImageAnswersIdenticalAtOnce) {
  test::LinkRig rig;
  rig.module->SetCardSoftware(rig.module->Image());
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kAlreadyCurrent);
  // A new card holds the same software as configured; without it, it would be programmed.
  rig.module->Remove();
  rig.module->Insert();
  EXPECT_EQ(rig.RunUpdate(), UpdateOutcome::kAlreadyCurrent);
  EXPECT_FALSE(rig.module->Programmed());
}

}  // namespace
