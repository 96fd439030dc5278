// The built library as the updater loads it: by file with dlopen, its exports looked up by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "cibridge_api.h"
#include "usbdevfs_adapter.h"

namespace {

const std::set<std::string> kExports = {
    "SearchUSBAdapter", "USBAdapterOpen", "USBAdapterClose", "USBAdapterCIReset", "GetCIStatus",
    "WriteCOR",         "NegociateCI",    "SetTimeout",      "WriteExchange",     "LoadFirmware"};

std::string RunCommand(const std::string& command) {
  std::string output;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return output;
  std::array<char, 256> chunk{};
  while (fgets(chunk.data(), chunk.size(), pipe.get()) != nullptr) output += chunk.data();
  return output;
}

TEST(CibridgeLibrary, ExportsExactlyTheTenFunctions) {
  // The symbol table is read without any preloaded library in the way.
  const std::string table =
      RunCommand(std::string("env -u LD_PRELOAD nm -D --defined-only ") + CIBRIDGE_LIBRARY_PATH);
  ASSERT_FALSE(table.empty());
  std::set<std::string> defined;
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty()) name = type;  // an absolute symbol has no address column
    defined.insert(name);
  }
  EXPECT_EQ(defined, kExports);
}

struct Bound {
  void* library = nullptr;
  SearchUSBAdapterFn search = nullptr;
  USBAdapterOpenFn open = nullptr;
  USBAdapterCloseFn close = nullptr;
  USBAdapterCIResetFn reset = nullptr;
  GetCIStatusFn status = nullptr;
  WriteCORFn writeCor = nullptr;
  NegociateCIFn negotiate = nullptr;
  SetTimeoutFn setTimeout = nullptr;
  WriteExchangeFn exchange = nullptr;
  LoadFirmwareFn loadFirmware = nullptr;
};

// Loads the library once for the process, as the updater does, and binds the ten names.
const Bound& Library() {
  static const Bound bound = [] {
    Bound b;
    b.library = dlopen(CIBRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (b.library == nullptr) return b;
    auto find = [&](const char* name) { return dlsym(b.library, name); };
    b.search = reinterpret_cast<SearchUSBAdapterFn>(find("SearchUSBAdapter"));
    b.open = reinterpret_cast<USBAdapterOpenFn>(find("USBAdapterOpen"));
    b.close = reinterpret_cast<USBAdapterCloseFn>(find("USBAdapterClose"));
    b.reset = reinterpret_cast<USBAdapterCIResetFn>(find("USBAdapterCIReset"));
    b.status = reinterpret_cast<GetCIStatusFn>(find("GetCIStatus"));
    b.writeCor = reinterpret_cast<WriteCORFn>(find("WriteCOR"));
    b.negotiate = reinterpret_cast<NegociateCIFn>(find("NegociateCI"));
    b.setTimeout = reinterpret_cast<SetTimeoutFn>(find("SetTimeout"));
    b.exchange = reinterpret_cast<WriteExchangeFn>(find("WriteExchange"));
    b.loadFirmware = reinterpret_cast<LoadFirmwareFn>(find("LoadFirmware"));
    return b;
  }();
  return bound;
}

bool UnderUmockdev() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

TEST(CibridgeLibrary, LoadsAndBindsEveryName) {
  const Bound& lib = Library();
  ASSERT_NE(lib.library, nullptr) << dlerror();
  for (void* entry :
       {reinterpret_cast<void*>(lib.search), reinterpret_cast<void*>(lib.open),
        reinterpret_cast<void*>(lib.close), reinterpret_cast<void*>(lib.reset),
        reinterpret_cast<void*>(lib.status), reinterpret_cast<void*>(lib.writeCor),
        reinterpret_cast<void*>(lib.negotiate), reinterpret_cast<void*>(lib.setTimeout),
        reinterpret_cast<void*>(lib.exchange), reinterpret_cast<void*>(lib.loadFirmware)}) {
    EXPECT_NE(entry, nullptr);
  }
  // Internal names stay inside.
  EXPECT_EQ(dlsym(lib.library, "g_pDevice"), nullptr);
  EXPECT_EQ(dlsym(lib.library, "_ZN8cibridge9g_pDeviceE"), nullptr);
}

TEST(CibridgeLibrary, StaysLoadedWhenTheUpdaterUnloadsIt) {
  // The updater unloads the library after every release and loads it again for the next run;
  // the one device object and the USB library's threads must survive that.
  void* library = dlopen(CIBRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  void* search = dlsym(library, "SearchUSBAdapter");
  EXPECT_EQ(dlclose(library), 0);
  void* again = dlopen(CIBRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  ASSERT_NE(again, nullptr) << "the library was unloaded";
  EXPECT_EQ(dlsym(again, "SearchUSBAdapter"), search);
  dlclose(again);
}

TEST(CibridgeLibrary, WithoutAnAdapterNothingIsFoundOrOpened) {
  // Runs in a child process, so that the bus the library's USB context sees here (an empty
  // testbed under umockdev, else the machine's own) stays out of the other tests.
  EXPECT_EXIT(
      {
        UMockdevTestbed* emptyBus = UnderUmockdev() ? umockdev_testbed_new() : nullptr;
        const Bound& lib = Library();
        char path[512] = "x";
        const bool ok = lib.library != nullptr && lib.search(path) == 0 && path[0] == '\0' &&
                        lib.open("") == 0 && lib.close() == 1;
        (void)emptyBus;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// One whole session over the real libusb against the emulated adapter.
TEST(CibridgeLibrary, RunsAWholeSessionAgainstAnEmulatedAdapter) {
  if (!UnderUmockdev()) GTEST_SKIP() << "needs libumockdev-preload";
  bridge_test::UsbdevfsAdapter adapter;
  const Bound& lib = Library();
  ASSERT_NE(lib.library, nullptr);

  char path[512];
  ASSERT_EQ(lib.search(path), 1);
  EXPECT_STREQ(path, "\\\\?\\usb#vid_1b0d&pid_5f10#1-4#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}");
  ASSERT_EQ(lib.open(path), 1);
  EXPECT_EQ(adapter.AlternateSetting(), 1);
  EXPECT_EQ(lib.setTimeout(300), 1);

  adapter.ScriptReply({{0x00, 0x00, 0x02, 0x00}});
  EXPECT_EQ(lib.reset(), 2);
  adapter.ScriptReply({{0x00, 0x00, 0x07, 0x00}, {0x00, 0x00, 0x10, 0x00}});
  EXPECT_EQ(lib.writeCor(510, 9, 800), 1);
  adapter.ScriptReply({{0x00, 0x00, 0x04, 0x02, 0x00, 0x80}});
  std::int32_t size = 0;
  EXPECT_EQ(lib.negotiate(128, &size), 1);
  EXPECT_EQ(size, 128);
  adapter.ScriptReply({{0x00, 0x00, 0x05, 0x01, 0x40}});
  EXPECT_EQ(lib.status(), 0x40);

  adapter.ScriptReply({{0x00, 0x00, 0x20, 0x00}});
  adapter.ScriptReply({{0x00, 0x00, 0x06, 0x03, 0x9F, 0x80, 0x31}});
  const std::uint8_t message[3] = {0x9F, 0x80, 0x30};
  std::uint8_t answer[256];
  std::int32_t length = sizeof answer;
  EXPECT_EQ(lib.exchange(message, 3, answer, &length), 1);
  ASSERT_EQ(length, 3);
  EXPECT_EQ(answer[2], 0x31);

  // A poll that gets no reply ends on the pipe time-out.
  adapter.ScriptReply({});
  length = sizeof answer;
  EXPECT_EQ(lib.exchange(message, 0, answer, &length), 53);

  const auto before = adapter.ControlTransfers().size();
  EXPECT_EQ(lib.loadFirmware(0x1234ABCD), 1);
  const auto controls = adapter.ControlTransfers();
  ASSERT_EQ(controls.size() - before, 518u);
  std::vector<std::uint8_t> memory;
  for (std::size_t i = before + 2; i < before + 514; ++i) {
    EXPECT_EQ(controls[i].request, 0xA0);
    EXPECT_EQ(controls[i].value, (i - before - 2) * 16);
    memory.insert(memory.end(), controls[i].data.begin(), controls[i].data.end());
  }
  ASSERT_EQ(memory.size(), 8192u);
  EXPECT_EQ(std::vector<std::uint8_t>(memory.begin() + 0x108, memory.begin() + 0x10C),
            (std::vector<std::uint8_t>{0x34, 0x12, 0xCD, 0xAB}));
  EXPECT_EQ(controls.back().value, 0xE600);
  EXPECT_EQ(controls.back().data, std::vector<std::uint8_t>{0});

  const auto frames = adapter.Frames();
  ASSERT_GE(frames.size(), 6u);
  EXPECT_EQ(frames[0], (std::vector<std::uint8_t>{0x10, 0x00, 0xFF, 0x01, 0x0F}));
  EXPECT_EQ(lib.close(), 1);
}

}  // namespace
