// The demo's adapter library as the loader gets it: the file build/demo/libcibridge.so loaded
// through the platform's library seam, its ten exports found by name, and its cold emulated
// adapter brought up through them on the machine's clock (about two seconds, most of it the
// adapter's re-enumeration).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "cibridge_api.h"
#include "clock.h"
#include "library_loader.h"

namespace {

template <typename Entry>
Entry Find(platform::LibraryHandle library, const char* name) {
  return reinterpret_cast<Entry>(platform::SystemLibraries().Find(library, name));
}

TEST(DemoLibrary, ColdAdapterComesUpThroughTheExports) {
  auto& libraries = platform::SystemLibraries();
  platform::LibraryHandle library = libraries.Load(DEMO_LIBRARY);
  ASSERT_NE(library, nullptr);
  const auto search = Find<SearchUSBAdapterFn>(library, "SearchUSBAdapter");
  const auto open = Find<USBAdapterOpenFn>(library, "USBAdapterOpen");
  const auto close = Find<USBAdapterCloseFn>(library, "USBAdapterClose");
  const auto reset = Find<USBAdapterCIResetFn>(library, "USBAdapterCIReset");
  const auto status = Find<GetCIStatusFn>(library, "GetCIStatus");
  const auto cor = Find<WriteCORFn>(library, "WriteCOR");
  const auto negotiate = Find<NegociateCIFn>(library, "NegociateCI");
  const auto timeout = Find<SetTimeoutFn>(library, "SetTimeout");
  const auto exchange = Find<WriteExchangeFn>(library, "WriteExchange");
  const auto load = Find<LoadFirmwareFn>(library, "LoadFirmware");
  ASSERT_TRUE(search && open && close && reset && status && cor && negotiate && timeout &&
              exchange && load);

  std::array<char, 512> path{};
  ASSERT_EQ(search(path.data()), 1);
  const std::string coldPath = path.data();
  ASSERT_EQ(open(coldPath.c_str()), 1);
  timeout(2000);
  EXPECT_EQ(reset(), 0);  // no program yet
  ASSERT_EQ(load(0x1B0D5F10), 1);
  close();

  // Back after its re-enumeration, under the same path. The program leaves the bus a little
  // after it starts; like the loader, wait before searching. The bound is generous: where the
  // machine cannot run the chip in real time (a sanitizer build on busy cores), the chip's time
  // goes slower than the clock's.
  auto& clock = platform::SystemClock();
  clock.Sleep(300);
  const std::uint32_t start = clock.TickCount();
  bool found = false;
  while (!found && clock.TickCount() - start < 60'000) {
    found = search(path.data()) == 1 && open(path.data()) == 1;
    if (!found) clock.Sleep(100);
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(std::string(path.data()).substr(0, 25), coldPath.substr(0, 25));
  timeout(2000);
  EXPECT_EQ(reset(), 2);
  EXPECT_EQ(cor(0x1FE, 9, 0x320), 1);
  std::int32_t size = 0;
  EXPECT_EQ(negotiate(128, &size), 1);
  EXPECT_EQ(size, 128);

  // The module in the slot expects the built-in update; an empty message is refused by it
  // with an answer, which is all this test needs.
  const std::uint8_t empty = 0x00;
  std::array<std::uint8_t, 256> answer{};
  std::int32_t length = 256;
  timeout(4000);
  EXPECT_EQ(exchange(&empty, 1, answer.data(), &length), 1);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(close(), 1);
  libraries.Unload(library);
}

}  // namespace
