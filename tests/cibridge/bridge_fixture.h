// Shared set-up for the library tests: the one device object over a scripted USB seam and a
// virtual clock, and helpers to build adapter replies.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cibridge_api.h"
#include "device_object.h"
#include "exports.h"
#include "scripted_usb.h"
#include "virtual_clock.h"

namespace bridge_test {

inline constexpr const char* kAdapterPath =
    "\\\\?\\usb#vid_1b0d&pid_5f10#1-4#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}";

// A reply frame: 0x00, state, code, payload length, payload.
inline sim::Bytes ReplyFrame(std::uint8_t code, sim::Bytes payload = {}) {
  sim::Bytes frame(4 + payload.size());
  frame[2] = code;
  frame[3] = static_cast<std::uint8_t>(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) frame[4 + i] = payload[i];
  return frame;
}

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    usb.UseAdapterSettings();
    usb.AddDevice(kAdapterPath);
    cibridge::InstallDevice(usb, clock);
  }
  void TearDown() override { cibridge::InstallNoDevice(); }

  // Opens the adapter through the exports and forgets the calls that took.
  void OpenAdapter() {
    ASSERT_EQ(USBAdapterOpen(kAdapterPath), 1);
    usb.ClearCalls();
  }

  cibridge::CUsbDevice& Device() { return *cibridge::g_pDevice; }

  sim::VirtualClock clock;
  sim::ScriptedUsb usb{&clock};
};

}  // namespace bridge_test
