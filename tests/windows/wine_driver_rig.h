// The rig of the driver tests under Wine: a prefix of their own with the PC Card bus stand-in
// installed (sim/windows/cibus) and cicard.sys bound to its children through cicard.inf, a card
// put in or taken out through cibus-control.exe, and the card model's counts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "windows_harness.h"

namespace windows_test {

class DriverUnderWine : public ::testing::Test {
 protected:
  // Installs the bus and the driver into the prefix once.
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // A program of the x86_64 tree run in the driver prefix; UseDevice=1 in its settings.
  CommandResult Run(const std::filesystem::path& program,
                    const std::vector<std::string>& arguments = {});
  // The prefix's programs end and start again (the bus with them, no card in it) with the
  // display `display` ("DISPLAY=:n"), or with none for ""; TearDown goes back to none.
  ::testing::AssertionResult UseScreen(const std::string& display);
  // cibus-control.exe with these arguments.
  CommandResult Bus(const std::vector<std::string>& arguments);
  // Takes out any card, then puts one in with the options (card_model.cpp); the hardware IDs
  // and the image are added. Waits for \\.\DOV_IDDev when the card has a child at all.
  ::testing::AssertionResult PutCard(const std::string& options, const std::string& image);
  ::testing::AssertionResult TakeCardOut();
  // The bus's status line, and one number of it ("accesses=123").
  std::string Status();
  static std::optional<std::uint64_t> Number(const std::string& status, const std::string& key);

  std::filesystem::path tree;        // the x86_64 Windows tree
  std::vector<std::string> screen_;  // "DISPLAY=:n" for the programs, or nothing
  static std::string skipReason;
  static std::string installFailure;
};

// An X server of its own (Xvfb) for a window program, while it lives.
class VirtualScreen {
 public:
  VirtualScreen();
  ~VirtualScreen();
  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;
  // "DISPLAY=:n", or empty when no server came up.
  const std::string& Display() const { return display_; }

 private:
  int server_ = -1;
  std::string display_;
};

std::filesystem::path DriverPrefix();
// The Windows path (Z:) of a file of this machine.
std::string WindowsPath(const std::filesystem::path& path);

}  // namespace windows_test
