#include "cpu8051_s51.h"

#include <cstdio>
#include <fstream>

namespace test::s51 {

void WriteIntelHex(const std::string& path, const std::vector<std::uint8_t>& image) {
  std::ofstream out(path);
  char text[48];
  for (std::size_t at = 0; at < image.size(); at += 16) {
    const std::size_t count = std::min<std::size_t>(16, image.size() - at);
    unsigned sum = static_cast<unsigned>(count + (at >> 8) + (at & 0xFF));
    std::snprintf(text, sizeof text, ":%02X%04X00", static_cast<unsigned>(count),
                  static_cast<unsigned>(at));
    out << text;
    for (std::size_t i = 0; i < count; ++i) {
      std::snprintf(text, sizeof text, "%02X", image[at + i]);
      out << text;
      sum += image[at + i];
    }
    std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out << text;
  }
  out << ":00000001FF\n";
}

bool Run(const std::string& executable, const std::string& script, int timeoutSeconds,
         const std::function<void(const std::string&)>& line) {
  const std::string command = "timeout " + std::to_string(timeoutSeconds) + " " + executable +
                              " -t 8052 -X 48M -b -C " + script + " </dev/null 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    text += buffer;
    if (text.back() != '\n') continue;  // a line longer than the buffer: read on
    line(text);
    text.clear();
  }
  return pclose(pipe) == 0;
}

}  // namespace test::s51
