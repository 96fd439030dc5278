// What the tests of the Windows deliverables share: where the Windows trees are, which files
// each made, and running a program (objdump, or a Windows program under Wine) with its output.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace windows_test {

struct CommandResult {
  int status = -1;     // exit status, or -1 when the program did not end normally
  std::string output;  // standard output and standard error, interleaved
};

// The console's Ctrl-C, pressed during a run: once `after` stands in the output, and `delayMs`
// later, `count` SIGINTs go to the process of the program whose file name is `program` (the
// innermost one, below wrappers that name it too). Wine hands a SIGINT to the Windows program
// as the console's Ctrl-C event.
struct CtrlC {
  std::string after;
  std::string program;
  int count = 1;
  int delayMs = 0;
};

// Runs `arguments` (the program first, found on PATH) with `environment` ("NAME=value") added
// to this process's own, `input` on its standard input, and presses Ctrl-C when asked.
CommandResult RunCommand(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {},
                         const std::string& input = "", const CtrlC* ctrlC = nullptr);

// The Windows tree of an architecture ("x86_64", "i686"), when this build made it.
std::optional<std::filesystem::path> WindowsTree(const std::string& architecture);
std::string WindowsTreesMissingReason();

// The cross binutils' objdump, or empty.
std::string Objdump();

// Why no Windows program can run under Wine here (no Wine, no x86_64 Windows tree), or nothing.
std::optional<std::string> WineOrTreeMissingReason();
// Why the Wine tests cannot run here (no Wine, no Windows tree, no prefix), or nothing.
std::optional<std::string> WineSkipReason();
// The architecture whose programs the Wine tests run: "x86_64" under this machine's Wine, or
// "i686" (MORVANE_WINE_ARCH) under the i386 root's Wine (scripts/i686-root).
std::string Architecture();
// The prefix of this test run (fixture wine_prefix, or wine_i686_prefix for i686) and the folder
// of that architecture's stand-ins.
std::filesystem::path WinePrefix();
std::filesystem::path StandIns();

// Runs a Windows program under Wine through sim/windows/wine-run: `options` are wine-run's own
// ("--standins"), `environment` is added ("NAME=value").
CommandResult RunUnderWine(const std::vector<std::string>& program,
                           const std::vector<std::string>& options = {},
                           const std::vector<std::string>& environment = {},
                           const std::string& input = "", const CtrlC* ctrlC = nullptr);

// The deliverables a Windows tree lists in its deliverables.txt.
std::vector<std::filesystem::path> Deliverables(const std::filesystem::path& tree);

}  // namespace windows_test
