#include "windows_harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

namespace windows_test {

namespace {

std::string FileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The processes below `root` (itself included) whose command line names `program`, and none of
// whose own descendants do.
std::vector<pid_t> InnermostNaming(pid_t root, const std::string& program) {
  std::multimap<pid_t, pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = FileText(entry.path() / "stat");
    const auto end = stat.rfind(')');
    if (end == std::string::npos) continue;
    int parent = 0;
    if (std::sscanf(stat.c_str() + end + 1, " %*c %d", &parent) == 1)
      children.emplace(parent, std::stoi(name));
  }
  std::vector<pid_t> found;
  // Returns whether `pid` or a descendant names the program.
  auto walk = [&](auto&& self, pid_t pid) -> bool {
    bool below = false;
    for (auto [at, end] = children.equal_range(pid); at != end; ++at)
      below = self(self, at->second) || below;
    if (below) return true;
    if (FileText("/proc/" + std::to_string(pid) + "/cmdline").find(program) == std::string::npos)
      return false;
    found.push_back(pid);
    return true;
  };
  walk(walk, root);
  return found;
}

// Watches the output of `child` for the marker, then presses Ctrl-C as asked.
void PressCtrlC(pid_t child, std::FILE* out, const CtrlC& ctrlC) {
  using namespace std::chrono_literals;
  std::string seen;
  char buffer[4096];
  for (;;) {
    siginfo_t ended{};
    if (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        ended.si_pid != 0)
      return;
    ssize_t n = 0;
    while ((n = pread(fileno(out), buffer, sizeof buffer, static_cast<off_t>(seen.size()))) > 0)
      seen.append(buffer, static_cast<std::size_t>(n));
    if (seen.find(ctrlC.after) != std::string::npos) break;
    std::this_thread::sleep_for(20ms);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ctrlC.delayMs));
  for (int i = 0; i < ctrlC.count; ++i) {
    for (pid_t pid : InnermostNaming(child, ctrlC.program)) kill(pid, SIGINT);
    std::this_thread::sleep_for(100ms);
  }
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, const std::string& input,
                         const CtrlC* ctrlC) {
  CommandResult result;
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  if (in == nullptr || out == nullptr || arguments.empty()) return result;
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);

  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    for (const auto& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    dup2(fileno(in), 0);
    dup2(fileno(out), 1);
    dup2(fileno(out), 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (child > 0 && ctrlC != nullptr) PressCtrlC(child, out, *ctrlC);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  std::rewind(out);
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, out)) result.output.append(buffer, n);
  std::fclose(in);
  std::fclose(out);
  return result;
}

namespace {
std::string WindowsBuild() {
  return MORVANE_WINDOWS_BUILD;
}
}  // namespace

std::optional<std::filesystem::path> WindowsTree(const std::string& architecture) {
  if (WindowsBuild().empty()) return std::nullopt;
  const std::filesystem::path tree =
      std::filesystem::path(WindowsBuild()) / ("windows-" + architecture);
  if (!std::filesystem::exists(tree / "deliverables.txt")) return std::nullopt;
  return tree;
}

std::string WindowsTreesMissingReason() {
  return WindowsBuild().empty()
             ? "this build makes no Windows programs (no mingw-w64 cross compilers, or "
               "MORVANE_WINDOWS off, as in the sanitizer build)"
             : "the Windows tree was not built";
}

std::string Objdump() {
  return MORVANE_OBJDUMP;
}

std::string Architecture() {
  const char* architecture = std::getenv("MORVANE_WINE_ARCH");
  return architecture != nullptr && *architecture != '\0' ? architecture : "x86_64";
}

namespace {
bool Emulated() {
  return Architecture() == "i686";
}
}  // namespace

std::filesystem::path WinePrefix() {
  std::ifstream record(Emulated() ? MORVANE_WINE_I686_PREFIX_FILE : MORVANE_WINE_PREFIX_FILE);
  std::string prefix;
  std::getline(record, prefix);
  return prefix;
}

std::filesystem::path StandIns() {
  return std::filesystem::path(WindowsBuild()) / ("windows-" + Architecture()) / "standins";
}

std::optional<std::string> WineOrTreeMissingReason() {
  if (std::string(MORVANE_WINE).empty()) return "Wine is not installed (Debian: wine64)";
  if (!WindowsTree(Architecture())) return WindowsTreesMissingReason();
  return std::nullopt;
}

std::optional<std::string> WineSkipReason() {
  if (auto reason = WineOrTreeMissingReason()) return reason;
  if (Emulated()) {
    // The i386 root's own account of what this machine lacks.
    std::string reason = RunCommand({MORVANE_I686_ROOT_SCRIPT, "reason"}).output;
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    if (!reason.empty()) return "no i386 Wine: " + reason;
  }
  if (WinePrefix().empty() || !std::filesystem::exists(WinePrefix())) {
    return "no Wine prefix: run the tests through CTest (fixture wine_prefix or "
           "wine_i686_prefix)";
  }
  return std::nullopt;
}

CommandResult RunUnderWine(const std::vector<std::string>& program,
                           const std::vector<std::string>& options,
                           const std::vector<std::string>& environment, const std::string& input,
                           const CtrlC* ctrlC) {
  std::vector<std::string> arguments;
  // The i686 programs run under the i386 root's Wine, which finds itself there.
  if (Emulated()) {
    arguments = {MORVANE_I686_ROOT_SCRIPT, "run", "--bind", MORVANE_SOURCE_DIR, "--bind",
                 WindowsBuild(),           "--"};
  }
  arguments.push_back(MORVANE_WINE_RUN);
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.insert(arguments.end(), program.begin(), program.end());
  std::vector<std::string> fullEnvironment{std::string("WINE=") + (Emulated() ? "" : MORVANE_WINE),
                                           std::string("WINEPREFIX=") + WinePrefix().string(),
                                           std::string("MORVANE_STANDINS=") + StandIns().string()};
  fullEnvironment.insert(fullEnvironment.end(), environment.begin(), environment.end());
  CommandResult result = RunCommand(arguments, fullEnvironment, input, ctrlC);
  // The Windows C library writes text with carriage returns.
  std::erase(result.output, '\r');
  return result;
}

std::vector<std::filesystem::path> Deliverables(const std::filesystem::path& tree) {
  std::vector<std::filesystem::path> files;
  std::ifstream list(tree / "deliverables.txt");
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) files.emplace_back(line);
  }
  return files;
}

}  // namespace windows_test
