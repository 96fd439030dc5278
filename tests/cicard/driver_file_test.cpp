// The built cicard.sys files, read as PE images: a native-subsystem driver importing from the
// kernel and the HAL only, its routines in the initialisation, resident and pageable sections,
// and the version resource with its texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "scenario_print.h"

namespace {

using cicard_test::PrintTo;

class PeImage {
 public:
  struct Section {
    std::string name;
    std::uint32_t virtualAddress, virtualSize, rawOffset, rawSize, characteristics;
  };

  explicit PeImage(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { Parse(); }

  bool valid = false;
  std::uint16_t machine = 0;
  bool pe32Plus = false;
  std::uint16_t subsystem = 0;
  std::uint32_t entryPoint = 0;
  std::vector<Section> sections;
  std::map<std::string, std::set<std::string>> imports;  // DLL -> function names
  std::map<std::string, int> symbolSection;              // symbol -> section number (1-based)

  const Section* SectionAt(std::uint32_t rva) const {
    for (const auto& section : sections)
      if (rva >= section.virtualAddress &&
          rva < section.virtualAddress + std::max(section.virtualSize, section.rawSize))
        return &section;
    return nullptr;
  }
  bool ContainsUtf16(const std::string& text) const {
    std::vector<std::uint8_t> pattern;
    for (char c : text) {
      pattern.push_back(static_cast<std::uint8_t>(c));
      pattern.push_back(0);
    }
    return std::search(bytes_.begin(), bytes_.end(), pattern.begin(), pattern.end()) !=
           bytes_.end();
  }
  // The image checksum field agrees with the file.
  bool ChecksumValid() const {
    const std::size_t checksumAt = U32(0x3C) + 4 + 20 + 64;
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < bytes_.size(); at += 2) {
      if (at == checksumAt || at == checksumAt + 2) continue;
      sum += U16(at);  // images are a whole number of words long
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return sum + bytes_.size() == U32(checksumAt);
  }
  // The VS_FIXEDFILEINFO words after its signature, or nothing.
  std::optional<std::vector<std::uint32_t>> FixedFileInfo() const {
    for (std::size_t at = 0; at + 52 <= bytes_.size(); at += 4)
      if (U32(at) == 0xFEEF04BDu) {
        std::vector<std::uint32_t> words;
        for (int i = 0; i < 13; ++i) words.push_back(U32(at + 4u * i));
        return words;
      }
    return std::nullopt;
  }

 private:
  std::uint16_t U16(std::size_t at) const {
    return at + 2 <= bytes_.size() ? static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8)
                                   : 0;
  }
  std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
  }
  std::uint64_t U64(std::size_t at) const {
    return static_cast<std::uint64_t>(U32(at)) | static_cast<std::uint64_t>(U32(at + 4)) << 32;
  }
  std::optional<std::size_t> Offset(std::uint32_t rva) const {
    const Section* section = SectionAt(rva);
    if (section == nullptr || rva - section->virtualAddress >= section->rawSize)
      return std::nullopt;
    return section->rawOffset + (rva - section->virtualAddress);
  }
  std::string CString(std::size_t at) const {
    std::string text;
    while (at < bytes_.size() && bytes_[at] != 0) text.push_back(static_cast<char>(bytes_[at++]));
    return text;
  }

  void Parse() {
    if (bytes_.size() < 0x40 || U16(0) != 0x5A4D) return;
    const std::size_t pe = U32(0x3C);
    if (U32(pe) != 0x00004550) return;
    const std::size_t coff = pe + 4;
    machine = U16(coff);
    const std::uint16_t sectionCount = U16(coff + 2);
    const std::uint32_t symbolTable = U32(coff + 8);
    const std::uint32_t symbolCount = U32(coff + 12);
    const std::uint16_t optionalSize = U16(coff + 16);
    const std::size_t optional = coff + 20;
    pe32Plus = U16(optional) == 0x20B;
    entryPoint = U32(optional + 16);
    subsystem = U16(optional + 68);
    const std::size_t directories = optional + (pe32Plus ? 112 : 96);
    const std::size_t sectionTable = optional + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
      const std::size_t at = sectionTable + 40u * i;
      Section section;
      section.name = std::string(reinterpret_cast<const char*>(&bytes_[at]), 8).c_str();
      section.virtualSize = U32(at + 8);
      section.virtualAddress = U32(at + 12);
      section.rawSize = U32(at + 16);
      section.rawOffset = U32(at + 20);
      section.characteristics = U32(at + 36);
      sections.push_back(section);
    }
    ParseImports(U32(directories + 8));
    ParseSymbols(symbolTable, symbolCount);
    valid = true;
  }

  void ParseImports(std::uint32_t importRva) {
    auto descriptor = Offset(importRva);
    for (; descriptor && U32(*descriptor + 12) != 0; *descriptor += 20) {
      auto name = Offset(U32(*descriptor + 12));
      if (!name) break;
      auto& functions = imports[CString(*name)];
      std::uint32_t thunkRva = U32(*descriptor);
      if (thunkRva == 0) thunkRva = U32(*descriptor + 16);
      auto thunk = Offset(thunkRva);
      const std::size_t width = pe32Plus ? 8 : 4;
      for (; thunk; *thunk += width) {
        const std::uint64_t entry = pe32Plus ? U64(*thunk) : U32(*thunk);
        if (entry == 0) break;
        const bool byOrdinal = pe32Plus ? (entry >> 63) != 0 : (entry >> 31) != 0;
        if (byOrdinal) continue;
        auto hint = Offset(static_cast<std::uint32_t>(entry));
        if (hint) functions.insert(CString(*hint + 2));
      }
    }
  }

  void ParseSymbols(std::uint32_t table, std::uint32_t count) {
    if (table == 0 || table + 18ull * count > bytes_.size()) return;
    const std::size_t strings = table + 18u * count;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t at = table + 18u * i;
      std::string name = U32(at) == 0
                             ? CString(strings + U32(at + 4))
                             : std::string(reinterpret_cast<const char*>(&bytes_[at]), 8).c_str();
      symbolSection[name] = static_cast<std::int16_t>(U16(at + 12));
      i += bytes_[at + 17];  // auxiliary entries
    }
  }

  std::vector<std::uint8_t> bytes_;
};

struct Arch {
  const char* name;
  std::uint16_t machine;
  bool pe32Plus;
};

class DriverFile : public ::testing::TestWithParam<Arch> {
 protected:
  void SetUp() override {
    const char* folder = std::getenv("CICARD_BIN_DIR");
    ASSERT_NE(folder, nullptr);
    const std::string path = std::string(folder) + "/windows-" + GetParam().name + "/cicard.sys";
    std::ifstream file(path, std::ios::binary);
    if (!file)
      GTEST_SKIP() << path << " was not built (no mingw-w64 for " << GetParam().name << ")";
    image = std::make_unique<PeImage>(
        std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {}));
    ASSERT_TRUE(image->valid);
  }

  // The section of the routine `name`, found among the file's symbols in either name form.
  std::string SectionOf(const std::string& name) const {
    const std::string mangled = std::to_string(name.size()) + name;
    for (const auto& [symbol, number] : image->symbolSection) {
      const bool plain = symbol == name || symbol == "_" + name ||
                         symbol.rfind("_" + name + "@", 0) == 0 || symbol.rfind(name + "@", 0) == 0;
      if ((plain || symbol.find(mangled) != std::string::npos) && number > 0 &&
          number <= static_cast<int>(image->sections.size()))
        return image->sections[static_cast<std::size_t>(number - 1)].name;
    }
    return "(not found)";
  }

  std::unique_ptr<PeImage> image;
};

TEST_P(DriverFile, IsANativeDriverForItsMachine) {
  EXPECT_EQ(image->machine, GetParam().machine);
  EXPECT_EQ(image->pe32Plus, GetParam().pe32Plus);
  EXPECT_EQ(image->subsystem, 1) << "IMAGE_SUBSYSTEM_NATIVE";
  EXPECT_TRUE(image->ChecksumValid());
  const PeImage::Section* entry = image->SectionAt(image->entryPoint);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name, "INIT") << "the entry routine is discardable initialisation code";
}

TEST_P(DriverFile, ImportsFromTheKernelAndTheHalOnly) {
  ASSERT_TRUE(image->imports.count("ntoskrnl.exe"));
  for (const auto& [dll, functions] : image->imports)
    EXPECT_TRUE(dll == "ntoskrnl.exe" || dll == "HAL.dll") << dll;
  const auto& kernel = image->imports.at("ntoskrnl.exe");
  for (const char* function :
       {"IoCreateDevice", "IoCreateSymbolicLink", "IoAttachDeviceToDeviceStack",
        "IofCompleteRequest", "IofCallDriver", "IoAcquireRemoveLockEx",
        "IoReleaseRemoveLockAndWaitEx", "MmMapIoSpace", "MmUnmapIoSpace", "PoCallDriver",
        "PoStartNextPowerIrp", "KeWaitForSingleObject"})
    EXPECT_TRUE(kernel.count(function)) << function;
}

TEST_P(DriverFile, RoutinesSitInTheirSections) {
  const std::map<std::string, std::string> placement = {
      {"DriverEntry", "INIT"},      {"CiStartCompletion", ".text"},
      {"CiDispatchPower", ".text"}, {"CiAddDevice", "PAGE"},
      {"CiUnload", "PAGE"},         {"CiDispatchIo", "PAGE"},
      {"CiDispatchPnp", "PAGE"},    {"CiDispatchSystemControl", "PAGE"},
      {"CiStartDevice", "PAGE"},    {"CiReadRegister", "PAGE"},
      {"CiWriteRegister", "PAGE"}};
  for (const auto& [routine, section] : placement)
    EXPECT_EQ(SectionOf(routine), section) << routine;
  // Of the code, only the initialisation section is given back after the entry routine ran.
  for (const auto& section : image->sections)
    if (section.characteristics & 0x00000020u) {  // IMAGE_SCN_CNT_CODE
      EXPECT_EQ((section.characteristics & 0x02000000u) != 0, section.name == "INIT")
          << section.name;
    }
}

TEST_P(DriverFile, CarriesTheVersionResource) {
  for (const char* text : {"Generic DVB_CA_Module Driver", "5.00.00.002", "cicard.sys",
                           "Windows (R) 2000 DDK provider", "Windows (R) 2000 DDK driver",
                           "040904B0", "FileDescription", "OriginalFilename", "InternalName"})
    EXPECT_TRUE(image->ContainsUtf16(text)) << text;
  const auto fixed = image->FixedFileInfo();
  ASSERT_TRUE(fixed.has_value());
  EXPECT_EQ((*fixed)[2], 0x00050000u) << "file version 5.0";
  EXPECT_EQ((*fixed)[3], 0x00000002u) << "file version .0.2";
  EXPECT_EQ((*fixed)[9], 3u) << "VFT_DRV";
  EXPECT_EQ((*fixed)[10], 7u) << "VFT2_DRV_SYSTEM";
}

INSTANTIATE_TEST_SUITE_P(CicardArchitectures, DriverFile,
                         ::testing::Values(Arch{"i686", 0x014C, false},
                                           Arch{"x86_64", 0x8664, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
