#include "loader_cli.h"
#include "settings.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // The program's texts are UTF-8; the console shows them as such.
  SetConsoleOutputCP(CP_UTF8);
#else
  // A standard stream that was closed keeps its number taken by a file open for reading only:
  // otherwise the next file the program opens would receive its output, and writes to it now
  // fail, which the program notes as lost output.
  for (int stream = 0; stream <= 2; ++stream)
    if (fcntl(stream, F_GETFD) == -1) {
      const int placeholder = open("/dev/null", O_RDONLY);
      if (placeholder >= 0 && placeholder != stream) {
        dup2(placeholder, stream);
        close(placeholder);
      }
    }
#endif
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto settings = OpenSettingsFile();
  return RunLoaderCli(arguments, StandardStreams(), MachineHardware(), *settings);
}
