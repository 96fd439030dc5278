#include "wine_driver_rig.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace windows_test {

namespace fs = std::filesystem;

std::string DriverUnderWine::skipReason;
std::string DriverUnderWine::installFailure;

fs::path DriverPrefix() {
  std::ifstream record(MORVANE_WINE_DRIVER_PREFIX_FILE);
  std::string prefix;
  std::getline(record, prefix);
  return prefix;
}

std::string WindowsPath(const fs::path& path) {
  return "Z:" + fs::absolute(path).generic_string();
}

namespace {

CommandResult RunInDriverPrefix(const std::vector<std::string>& program,
                                const std::vector<std::string>& environment = {}) {
  std::vector<std::string> all{"WINEPREFIX=" + DriverPrefix().string()};
  all.insert(all.end(), environment.begin(), environment.end());
  return RunUnderWine(program, {}, all);
}

fs::path BusFolder() {
  return *WindowsTree("x86_64") / "cibus";
}

// Ends every program of the prefix and starts its server again (kept up until the run ends, as
// wine-prefix does), then the bus, with `environment` for the programs that start next.
CommandResult RestartWithBus(const std::vector<std::string>& environment) {
  const std::string server = (fs::path(MORVANE_WINE).parent_path() / "wineserver").string();
  const std::string prefix = "WINEPREFIX=" + DriverPrefix().string();
  RunCommand({server, "-k"}, {prefix});
  RunCommand({server, "-w"}, {prefix});
  RunCommand({server, "-p"}, {prefix});
  return RunInDriverPrefix({(BusFolder() / "cibus-control.exe").string(), "start"}, environment);
}

// The driver package as the setup ships it (cicard.inf, x64\cicard.sys, an unsigned package's
// empty catalog) and the bus's own, copied into the prefix; then installed through SetupAPI.
std::string Install() {
  const fs::path drive = DriverPrefix() / "drive_c";
  const fs::path driver = drive / "morvane-driver";
  const fs::path bus = drive / "morvane-cibus";
  fs::create_directories(driver / "x64");
  fs::create_directories(bus);
  const auto copy = fs::copy_options::overwrite_existing;
  fs::copy_file(MORVANE_CICARD_INF, driver / "cicard.inf", copy);
  fs::copy_file(MORVANE_CICARD_SYS, driver / "x64" / "cicard.sys", copy);
  // Wine's setupapi takes the files from beside the INF, not from its \x64 folder.
  fs::copy_file(MORVANE_CICARD_SYS, driver / "cicard.sys", copy);
  std::ofstream(driver / "cicard.cat");
  for (const char* file :
       {"cibus.sys", "cibus.inf", "cibus.cat", "morvane_card.dll", "cibus-control.exe"})
    fs::copy_file(BusFolder() / file, bus / file, copy);
  const auto status = RunInDriverPrefix({(bus / "cibus-control.exe").string(), "status"});
  if (status.status == 0) return "";
  const auto run =
      RunInDriverPrefix({(bus / "cibus-control.exe").string(), "install",
                         "C:\\morvane-cibus\\cibus.inf", "C:\\morvane-driver\\cicard.inf"});
  if (run.status == 0) return "";
  if (run.output.find("driver INF:") == std::string::npos)
    return "installing the bus and the driver failed: " + run.output;
  // Installed, but Wine 8 did not start the bus in the session that made the prefix: it does
  // after a restart of the prefix's server.
  const auto start = RestartWithBus({});
  return start.status == 0 ? "" : "the bus did not start: " + run.output + start.output;
}

}  // namespace

void DriverUnderWine::SetUpTestSuite() {
  if (const auto reason = WineOrTreeMissingReason()) {
    skipReason = *reason;
    return;
  }
  if (DriverPrefix().empty() || !fs::exists(DriverPrefix())) {
    skipReason =
        "no Wine prefix for the driver tests: run them through CTest (fixture "
        "wine_driver_prefix)";
    return;
  }
  if (!fs::exists(BusFolder() / "cibus.sys") || !fs::exists(MORVANE_CICARD_SYS)) {
    skipReason = "the build made no cicard.sys or no bus stand-in";
    return;
  }
  // A failed installation is a failure of every test, not a reason to skip them.
  installFailure = Install();
}

void DriverUnderWine::SetUp() {
  if (!skipReason.empty()) GTEST_SKIP() << skipReason;
  ASSERT_EQ(installFailure, "");
  tree = *WindowsTree("x86_64");
  std::ofstream(DriverPrefix() / "drive_c" / "windows" / "Morvane.ini")
      << "[Options]\nUseDevice=1\n";
}

void DriverUnderWine::TearDown() {
  if (!skipReason.empty() || !installFailure.empty()) return;
  // Back to no display, whatever the test did, while its screen may already be gone.
  if (!screen_.empty()) {
    EXPECT_TRUE(UseScreen(""));
  }
  EXPECT_TRUE(TakeCardOut());
  fs::remove(DriverPrefix() / "drive_c" / "windows" / "Morvane.ini");
}

CommandResult DriverUnderWine::Run(const fs::path& program,
                                   const std::vector<std::string>& arguments) {
  std::vector<std::string> command{program.string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return RunInDriverPrefix(command, screen_);
}

::testing::AssertionResult DriverUnderWine::UseScreen(const std::string& display) {
  // Wine's desktop, started by a prefix's first window, keeps the display it was started on.
  screen_.clear();
  if (!display.empty()) screen_.push_back(display);
  const auto start = RestartWithBus(screen_);
  if (start.status != 0) return ::testing::AssertionFailure() << start.output;
  return ::testing::AssertionSuccess();
}

VirtualScreen::VirtualScreen() {
  int ready[2];
  if (pipe(ready) != 0) return;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    const std::string fd = std::to_string(ready[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  // The server writes its display number once it accepts clients.
  std::string number;
  char c = 0;
  while (child > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  close(ready[0]);
  server_ = child;
  if (!number.empty()) display_ = "DISPLAY=:" + number;
}

VirtualScreen::~VirtualScreen() {
  if (server_ <= 0) return;
  kill(server_, SIGTERM);
  waitpid(server_, nullptr, 0);
}

CommandResult DriverUnderWine::Bus(const std::vector<std::string>& arguments) {
  return Run(DriverPrefix() / "drive_c" / "morvane-cibus" / "cibus-control.exe", arguments);
}

::testing::AssertionResult DriverUnderWine::TakeCardOut() {
  const auto none = Bus({"none"});
  if (none.status != 0) return ::testing::AssertionFailure() << none.output;
  const auto gone = Bus({"wait", "absent", "DOV_IDDev", "20"});
  if (gone.status != 0) return ::testing::AssertionFailure() << gone.output;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DriverUnderWine::PutCard(const std::string& options,
                                                    const std::string& image) {
  if (auto out = TakeCardOut(); !out) return out;
  std::vector<std::string> command{"card", std::string("ids=") + MORVANE_CICARD_HARDWARE_IDS,
                                   "image=" + WindowsPath(fs::path(MORVANE_SOURCE_DIR) / image)};
  std::istringstream words(options);
  for (std::string word; words >> word;) command.push_back(word);
  const auto card = Bus(command);
  if (card.status != 0) return ::testing::AssertionFailure() << card.output;
  if (options.find("cards=0") != std::string::npos) return ::testing::AssertionSuccess();
  // Right after a new prefix plug and play can take several seconds.
  const auto present = Bus({"wait", "present", "DOV_IDDev", "20"});
  if (present.status != 0) return ::testing::AssertionFailure() << present.output << Status();
  return ::testing::AssertionSuccess();
}

std::string DriverUnderWine::Status() {
  std::string status = Bus({"status"}).output;
  while (!status.empty() && status.back() == '\n') status.pop_back();
  return status;
}

std::optional<std::uint64_t> DriverUnderWine::Number(const std::string& status,
                                                     const std::string& key) {
  const auto at = status.find(" " + key + "=");
  if (at == std::string::npos) return std::nullopt;
  return std::stoull(status.substr(at + key.size() + 2));
}

}  // namespace windows_test
