// The whole update with the released image (images/demo.image, 1532 messages, some 200,000
// register requests) through cicard.sys under Wine: minutes of real time, so it runs only when
// asked for (cmake --build build --target driver_full).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "wine_driver_rig.h"
#include "wine_fixture.h"

namespace {

using namespace windows_test;

TEST_F(DriverUnderWine, LoaderCliSendsTheReleasedImageThroughTheDriverBinary) {
  const char* full = std::getenv("MORVANE_DRIVER_FULL");
  if (full == nullptr || std::string(full) != "1")
    GTEST_SKIP() << "takes minutes: cmake --build build --target driver_full";
  for (const char* window : {"window=port", "window=memory"}) {
    SCOPED_TRACE(window);
    ASSERT_TRUE(PutCard(window, "images/demo.image"));
    const auto run = Run(tree / "bin" / "loader-cli.exe");
    EXPECT_EQ(run.status, kCliReady) << run.output;
    EXPECT_TRUE(Contains(run.output, "Ready\nFortschritt: 100 %\n")) << run.output;
    const std::string status = Status();
    EXPECT_TRUE(Contains(status, "messages=1532 intact=yes programmed=yes")) << status;
    std::printf("%s: %s\n", window, status.c_str());
  }
}

}  // namespace
