#include "loader_cli.h"
#include "settings.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto settings = OpenSettingsFile();
  return RunLoaderCli(arguments, StandardStreams(), MachineHardware(), *settings);
}
