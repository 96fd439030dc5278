// Turns the adapter program as SDCC links it (Intel HEX) into the 7312-byte image the library
// carries, checks its layout, and writes the image both as the library's table source and as a
// plain binary.
//
//   fx2_program_table <program.ihx> <table.cpp> <image.bin>
//
// Checks: every byte lies below 7312; the image begins with the reset vector (a long jump); the
// USB descriptors stand at their fixed offsets with their lengths and types; the ID marker
// 0x0D 0x1B 0x10 0x5F first occurs at 0x108. Bytes the program does not use are 0xFF.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kImageSize = 7312;
constexpr std::size_t kMarkerOffset = 0x108;
constexpr std::uint8_t kMarker[4] = {0x0D, 0x1B, 0x10, 0x5F};

int Fail(const std::string& message) {
  std::cerr << "fx2_program_table: " << message << "\n";
  return 1;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads an Intel HEX file into `image`; false with `error` set on any fault.
bool ReadIntelHex(std::istream& in, std::vector<std::uint8_t>& image, std::vector<bool>& used,
                  std::string& error) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0) {
      error = "line " + std::to_string(number) + ": not an Intel HEX record";
      return false;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i < line.size(); i += 2) {
      const int high = HexDigit(line[i]);
      const int low = HexDigit(line[i + 1]);
      if (high < 0 || low < 0) {
        error = "line " + std::to_string(number) + ": bad digit";
        return false;
      }
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    std::uint8_t sum = 0;
    for (auto b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    const std::size_t count = bytes[0];
    if (sum != 0 || bytes.size() != count + 5) {
      error = "line " + std::to_string(number) + ": bad length or checksum";
      return false;
    }
    const std::size_t address = (std::size_t{bytes[1]} << 8) | bytes[2];
    const std::uint8_t type = bytes[3];
    if (type == 0x01) return true;
    if (type != 0x00) {
      error = "line " + std::to_string(number) + ": unexpected record type";
      return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = address + i;
      if (at >= image.size()) {
        error = "program byte at 0x" + std::to_string(at) + " beyond the 7312-byte image";
        return false;
      }
      if (used[at]) {
        error = "two parts of the program overlap at byte " + std::to_string(at);
        return false;
      }
      image[at] = bytes[4 + i];
      used[at] = true;
    }
  }
  error = "no end record";
  return false;
}

struct Descriptor {
  const char* name;
  std::size_t offset;
  std::uint8_t length;  // bLength
  std::uint8_t type;    // bDescriptorType
  std::size_t total;    // bytes the descriptor occupies (wTotalLength for configurations)
};

bool CheckLayout(const std::vector<std::uint8_t>& image, std::string& error) {
  if (image[0] != 0x02) {
    error = "the image does not begin with a long jump (reset vector)";
    return false;
  }
  const Descriptor descriptors[] = {
      {"device", 0x100, 18, 0x01, 18},
      {"device qualifier", 0x114, 10, 0x06, 10},
      {"other-speed configuration", 0x120, 9, 0x07, 18},
      {"configuration", 0x134, 9, 0x02, 41},
      {"language string", 0x15E, 4, 0x03, 4},
      {"manufacturer string", 0x162, 16, 0x03, 16},
      {"product string", 0x172, 32, 0x03, 32},
  };
  for (const auto& d : descriptors) {
    const bool configuration = d.type == 0x02 || d.type == 0x07;
    const std::size_t total =
        configuration ? (image[d.offset + 2] | (std::size_t{image[d.offset + 3]} << 8)) : d.length;
    if (image[d.offset] != d.length || image[d.offset + 1] != d.type || total != d.total) {
      error = std::string("the ") + d.name + " descriptor is not in its place";
      return false;
    }
  }
  for (std::size_t offset = 0; offset + 4 <= image.size(); ++offset) {
    if (std::memcmp(image.data() + offset, kMarker, 4) == 0) {
      if (offset != kMarkerOffset) {
        error = "the ID marker first occurs at " + std::to_string(offset) + ", not at 0x108";
        return false;
      }
      return true;
    }
  }
  error = "the ID marker is missing";
  return false;
}

std::string TableSource(const std::vector<std::uint8_t>& image) {
  std::ostringstream out;
  out << "// The adapter's 8051 program, loaded at code address 0 by LoadFirmware.\n"
         "//\n"
         "// Generated from the compiled adapter program (firmware/) by fx2_program_table; do not\n"
         "// edit by hand: build the target update_adapter_program_table to regenerate it. Layout\n"
         "// the library relies on: the program begins at offset 0 with the reset vector and the\n"
         "// interrupt vectors; the USB device descriptor stands at 0x100 with the vendor and\n"
         "// product IDs (the four-byte marker 0x0D 0x1B 0x10 0x5F) at 0x108; the device "
         "qualifier\n"
         "// at 0x114, the other-speed configuration at 0x120, the configuration at 0x134 and the\n"
         "// string descriptors from 0x15E. Bytes the program does not use are 0xFF.\n"
         "#include \"adapter_program.h\"\n"
         "\n"
         "namespace cibridge {\n"
         "\n"
         "// clang-format off\n"
         "const unsigned char kAdapterProgram[kAdapterProgramSize] = {\n";
  char cell[8];
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i % 16 == 0) out << "   ";
    std::snprintf(cell, sizeof cell, " 0x%02X,", image[i]);
    out << cell;
    if (i % 16 == 15 || i + 1 == image.size()) out << "\n";
  }
  out << "};\n"
         "// clang-format on\n"
         "\n"
         "}  // namespace cibridge\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: fx2_program_table <program.ihx> <table.cpp> <image.bin>");
  std::ifstream in(argv[1]);
  if (!in) return Fail(std::string("cannot read ") + argv[1]);
  std::vector<std::uint8_t> image(kImageSize, 0xFF);
  std::vector<bool> used(kImageSize, false);
  std::string error;
  if (!ReadIntelHex(in, image, used, error) || !CheckLayout(image, error)) return Fail(error);

  std::ofstream table(argv[2], std::ios::binary);
  table << TableSource(image);
  std::ofstream binary(argv[3], std::ios::binary);
  binary.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
  if (!table || !binary) return Fail("cannot write the outputs");
  return 0;
}
