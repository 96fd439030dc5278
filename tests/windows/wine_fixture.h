// The fixture of the tests that run the Windows programs under Wine (x86_64, or i686 under the
// i386 root), and what they look for in
// the programs' output.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "windows_harness.h"

namespace windows_test {

constexpr const char* kDeviceMissing = "[Fehler] Gerät nicht vorhanden oder nicht bereit !";
constexpr const char* kPortRefused = "[Fehler] IO-Zugriff verweigert !";
constexpr const char* kRetryDialog =
    "[Information] Der gefundene VARAR-Adapter konnte nach der Enumeration nicht mehr "
    "ermittelt werden";
constexpr const char* kAdapterNotReady =
    "[Fehler] Modul im USB-CI Adapter konnte nicht initialisiert werden oder wurde nicht "
    "gefunden";
constexpr int kCliReady = 0;
constexpr int kCliNotOpened = 1;
constexpr int kCliFailed = 2;
constexpr int kCliStopped = 5;

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class UnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto reason = windows_test::WineSkipReason()) GTEST_SKIP() << *reason;
    bin = *windows_test::WindowsTree(windows_test::Architecture()) / "bin";
    settings = windows_test::WinePrefix() / "drive_c" / "windows" / "Morvane.ini";
    std::filesystem::remove(settings);
  }
  void TearDown() override {
    if (!settings.empty()) std::filesystem::remove(settings);
  }

  void WriteSettings(const std::string& text) { std::ofstream(settings) << text; }

  std::filesystem::path bin;
  std::filesystem::path settings;
};

}  // namespace windows_test
