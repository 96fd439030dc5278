// The adapter program's command handling on the host, with a simulated module in its slot,
// on virtual time. Commands go in as frames; every reply frame the program sends is collected.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ci_module.h"
#include "ci_slot.h"
#include "command_core.h"
#include "virtual_clock.h"

namespace firmware_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Frame(std::uint8_t code, const Bytes& payload = {}) {
  Bytes frame{code, 0x00, 0xFF, static_cast<std::uint8_t>(payload.size())};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

// A small update the module expects: two preparation messages and two chunks.
inline sim::ModuleImage SmallImage() {
  sim::ModuleImage image;
  for (int i = 0; i < 128; ++i) image.initBlock.push_back(static_cast<std::uint8_t>(i * 7));
  for (int i = 0; i < 256; ++i) image.transferStream.push_back(static_cast<std::uint8_t>(i ^ 0x5A));
  return image;
}

// The preparation message `sequence` (0 or 1) of SmallImage().
inline Bytes PreparationMessage(int sequence) {
  Bytes message{
      0x13, 0x01, 0x00, 0x80, 0xFF, 0x00, 0x00, 0x86, static_cast<std::uint8_t>(sequence)};
  const auto image = SmallImage();
  message.insert(message.end(), image.initBlock.begin() + sequence * 64,
                 image.initBlock.begin() + sequence * 64 + 64);
  return message;
}

struct CoreRig {
  sim::VirtualClock clock{1000};
  sim::CiModule module{clock, SmallImage()};
  firmware::CiSlot slot{clock, &module};
  std::vector<Bytes> replies;
  firmware::CommandCore core{clock, slot, [this](Bytes frame) { replies.push_back(frame); }};

  CoreRig() { core.Start(); }

  // Sends one frame and runs the program's main loop, 1 ms a pass, until the command is done
  // (at most `limitMs`). Returns the replies it sent.
  std::vector<Bytes> Run(const Bytes& frame, std::uint32_t limitMs = 120000) {
    replies.clear();
    core.Command(frame);
    for (std::uint32_t ms = 0; core.Busy() && ms < limitMs; ++ms) {
      clock.AdvanceMs(1);
      core.Poll();
    }
    return replies;
  }

  // Lets the program's main loop run for a while without a command.
  void Idle(std::uint32_t ms) {
    for (std::uint32_t i = 0; i < ms; ++i) {
      clock.AdvanceMs(1);
      core.Poll();
    }
  }

  // Reset and configuration as the library does them at bring-up.
  void BringUp() {
    Run(Frame(0x10, {0x0F}));
    Run(Frame(0x70, {0xFE, 0x01, 0x09, 0x20, 0x03}));
  }
  void BringUpAndNegotiate() {
    BringUp();
    Run(Frame(0x60, {0x80, 0x00}));
  }
};

inline std::vector<std::uint8_t> Codes(const std::vector<Bytes>& replies) {
  std::vector<std::uint8_t> codes;
  for (const auto& reply : replies) codes.push_back(reply.size() > 2 ? reply[2] : 0xEE);
  return codes;
}

}  // namespace firmware_test
