// Two updates in a row through the driver: the device opened and closed for each run, the
// module restarted by the reset of each link initialisation.
#include "second_update.h"
#include "driver_transport.h"

namespace {

class SecondUpdateThroughTheDriver : public ::testing::TestWithParam<test::SecondUpdate> {};

TEST_P(SecondUpdateThroughTheDriver, EndsAsTheModuleStands) {
  cicard_test::DriverTransport transport(false, 0x1F0, {{sim::ResourceDescriptor::Port(0x1F0, 4)}});
  ASSERT_EQ(transport.startStatus, STATUS_SUCCESS);
  test::RunTwice(transport, GetParam());
  EXPECT_EQ(transport.module->ResetCount(), 2);
  EXPECT_EQ(transport.link->DriverHandle, platform::kInvalidDeviceHandle);
  for (const auto& violation : transport.Finish()) ADD_FAILURE() << "verifier: " << violation;
}

INSTANTIATE_TEST_SUITE_P(Cicard, SecondUpdateThroughTheDriver,
                         ::testing::ValuesIn(test::SecondUpdates()), test::SecondUpdateName);

}  // namespace
