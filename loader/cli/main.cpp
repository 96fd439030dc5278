#include "loader_cli.h"
#include "settings.h"

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // The program's texts are UTF-8; the console shows them as such.
  SetConsoleOutputCP(CP_UTF8);
#endif
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto settings = OpenSettingsFile();
  return RunLoaderCli(arguments, StandardStreams(), MachineHardware(), *settings);
}
