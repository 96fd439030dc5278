// Two updates in a row over the USB adapter: the first downloads the adapter's program, the
// second finds it running; the module restarts at the reset of each bring-up.
#include "second_update.h"
#include "usb_rig.h"

namespace usb_test {
namespace {

class SecondUpdateOverUsb : public ::testing::TestWithParam<test::SecondUpdate> {};

TEST_P(SecondUpdateOverUsb, EndsAsTheModuleStands) {
  UsbRig rig;
  test::RunTwice(rig, GetParam());
  EXPECT_EQ(rig.lastOpenResult, 0);
  EXPECT_EQ(rig.adapter->ProgramStarts(), 1);  // downloaded for the first run only
  EXPECT_TRUE(rig.adapter->ProgramRunning());
  EXPECT_TRUE(rig.host->RetryDialogs().empty());
  EXPECT_FALSE(rig.link->AdapterBound);
}

INSTANTIATE_TEST_SUITE_P(Usb, SecondUpdateOverUsb, ::testing::ValuesIn(test::SecondUpdates()),
                         test::SecondUpdateName);

}  // namespace
}  // namespace usb_test
