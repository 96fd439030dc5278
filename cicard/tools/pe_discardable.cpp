// Marks sections of a linked driver image discardable, as the platform's linker does for the
// initialisation section, and brings the image checksum up to date (the kernel checks it for
// drivers). GNU ld names the section but has no way to set that characteristic.
//
//   cicard_pe_discardable <image> <section>...
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kDiscardable = 0x02000000;

std::uint32_t Read32(const std::vector<unsigned char>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void Write32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The PE image checksum: 16-bit one's-complement-style sum of the file without the checksum
// field, plus the file length.
std::uint32_t ImageChecksum(const std::vector<unsigned char>& bytes, std::size_t checksumAt) {
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < bytes.size(); at += 2) {
    if (at == checksumAt || at == checksumAt + 2) continue;
    const std::uint32_t word = bytes[at] | (at + 1 < bytes.size() ? bytes[at + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <image> <section>...\n", argv[0]);
    return 2;
  }
  std::vector<unsigned char> bytes;
  {
    std::ifstream in(argv[1], std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') {
    std::fprintf(stderr, "%s: not a PE image\n", argv[1]);
    return 1;
  }
  const std::size_t pe = Read32(bytes, 0x3C);
  if (pe + 24 > bytes.size() || Read32(bytes, pe) != 0x00004550) {
    std::fprintf(stderr, "%s: no PE header\n", argv[1]);
    return 1;
  }
  const std::size_t coff = pe + 4;
  const unsigned sections = bytes[coff + 2] | bytes[coff + 3] << 8;
  const std::size_t optional = coff + 20;
  const std::size_t optionalSize = bytes[coff + 16] | bytes[coff + 17] << 8;
  const std::size_t table = optional + optionalSize;
  if (table + 40 * sections > bytes.size()) {
    std::fprintf(stderr, "%s: truncated section table\n", argv[1]);
    return 1;
  }
  for (int arg = 2; arg < argc; ++arg) {
    bool found = false;
    for (unsigned i = 0; i < sections; ++i) {
      const std::size_t at = table + 40 * i;
      std::size_t length = 0;  // names shorter than 8 bytes end in NULs
      while (length < 8 && bytes[at + length] != 0) ++length;
      const std::string name(reinterpret_cast<const char*>(&bytes[at]), length);
      if (name != argv[arg]) continue;
      Write32(bytes, at + 36, Read32(bytes, at + 36) | kDiscardable);
      found = true;
    }
    if (!found) {
      std::fprintf(stderr, "%s: no section %s\n", argv[1], argv[arg]);
      return 1;
    }
  }
  const std::size_t checksumAt = optional + 64;
  Write32(bytes, checksumAt, ImageChecksum(bytes, checksumAt));
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
