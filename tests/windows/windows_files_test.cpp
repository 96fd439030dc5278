// The Windows deliverables as files: each Windows tree's programs and library read back with
// the cross binutils' objdump. PE type and machine, nothing imported but the system's own DLLs
// (the compiler's runtime is linked in), and cibridge.dll's exports exactly the ten adapter
// functions under their undecorated names on both architectures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "windows_harness.h"

namespace {

struct PeFacts {
  std::string format;             // "pei-x86-64", "pei-i386"
  unsigned long characteristics;  // COFF file header characteristics
  int subsystem = -1;
  std::set<std::string> imports;  // DLL names in lower case
  std::set<std::string> exports;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

PeFacts ReadPe(const std::string& objdump, const std::filesystem::path& file) {
  const auto dump = windows_test::RunCommand({objdump, "-p", file.string()});
  PeFacts facts{};
  std::istringstream lines(dump.output);
  bool inExportNames = false;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string first, second, third;
    words >> first >> second >> third;
    if (line.find("file format ") != std::string::npos) {
      facts.format = line.substr(line.find("file format ") + 12);
    } else if (first == "Characteristics" && facts.characteristics == 0) {
      facts.characteristics = std::stoul(second, nullptr, 16);
    } else if (first == "Subsystem") {
      facts.subsystem = std::stoi(second, nullptr, 16);
    } else if (first == "DLL" && second == "Name:") {
      facts.imports.insert(Lower(third));
    } else if (line.rfind("[Ordinal/Name Pointer] Table", 0) == 0) {
      inExportNames = true;
    } else if (inExportNames) {
      // "\t[   3] SearchUSBAdapter"
      const auto close = line.find(']');
      if (line.empty() || close == std::string::npos) {
        inExportNames = false;
      } else {
        std::istringstream name(line.substr(close + 1));
        std::string export_;
        name >> export_;
        facts.exports.insert(export_);
      }
    }
  }
  return facts;
}

constexpr unsigned long kImageDll = 0x2000;
constexpr unsigned long kExecutableImage = 0x0002;
constexpr int kSubsystemGui = 2;
constexpr int kSubsystemConsole = 3;

// DLLs every Windows installation carries; a compiler runtime DLL (libstdc++-6.dll,
// libgcc_s_*.dll, libwinpthread-1.dll) would have to travel with the files.
const std::set<std::string> kSystemDlls = {
    "kernel32.dll", "msvcrt.dll",   "user32.dll",   "gdi32.dll",   "msimg32.dll",
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "shell32.dll", "ole32.dll",
    "uxtheme.dll",  "winmm.dll",    "setupapi.dll", "winusb.dll"};

const std::set<std::string> kAdapterExports = {
    "SearchUSBAdapter", "USBAdapterOpen", "USBAdapterClose", "USBAdapterCIReset", "GetCIStatus",
    "WriteCOR",         "NegociateCI",    "SetTimeout",      "WriteExchange",     "LoadFirmware"};

struct Architecture {
  const char* name;
  const char* format;
};

class WindowsFiles : public ::testing::TestWithParam<Architecture> {};

TEST_P(WindowsFiles, AreSelfContainedPeFilesOfTheirArchitecture) {
  const auto tree = windows_test::WindowsTree(GetParam().name);
  if (!tree) GTEST_SKIP() << windows_test::WindowsTreesMissingReason();
  const std::string objdump = windows_test::Objdump();
  if (objdump.empty()) GTEST_SKIP() << "no mingw-w64 objdump installed";

  const auto files = windows_test::Deliverables(*tree);
  std::set<std::string> names;
  for (const auto& file : files) names.insert(file.filename().string());
  EXPECT_TRUE(names.count("loader-cli.exe")) << "deliverables of " << *tree;
  EXPECT_TRUE(names.count("cibridge.dll")) << "deliverables of " << *tree;

  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    ASSERT_TRUE(std::filesystem::exists(file));
    const PeFacts pe = ReadPe(objdump, file);
    EXPECT_EQ(pe.format, GetParam().format);
    EXPECT_TRUE(pe.characteristics & kExecutableImage);
    for (const auto& dll : pe.imports) EXPECT_TRUE(kSystemDlls.count(dll)) << "imports " << dll;
    EXPECT_TRUE(pe.imports.count("kernel32.dll"));

    const std::string name = file.filename().string();
    if (name == "cibridge.dll") {
      EXPECT_TRUE(pe.characteristics & kImageDll);
      EXPECT_EQ(pe.exports, kAdapterExports);
      EXPECT_TRUE(pe.imports.count("setupapi.dll") && pe.imports.count("winusb.dll"));
    } else {
      EXPECT_FALSE(pe.characteristics & kImageDll);
      EXPECT_EQ(pe.subsystem, name == "loader.exe" ? kSubsystemGui : kSubsystemConsole);
      // The program loads the adapter library at run time; it never links against it or WinUSB.
      EXPECT_FALSE(pe.imports.count("winusb.dll") || pe.imports.count("setupapi.dll"));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Trees, WindowsFiles,
                         ::testing::Values(Architecture{"x86_64", "pei-x86-64"},
                                           Architecture{"i686", "pei-i386"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
