// Shared set-up for the library tests: the one device object over a scripted USB seam and a
// virtual clock, and helpers to build adapter replies.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cibridge_api.h"
#include "device_object.h"
#include "scripted_usb.h"
#include "virtual_clock.h"

// The exports as the library defines them (the updater binds them by name at run time).
extern "C" {
int32_t SearchUSBAdapter(char* pathBuffer);
int32_t USBAdapterOpen(const char* path);
int32_t USBAdapterClose(void);
int32_t USBAdapterCIReset(void);
int32_t GetCIStatus(void);
int32_t WriteCOR(int32_t address, int32_t value, int32_t ioBase);
int32_t NegociateCI(int32_t size, int32_t* answeredSize);
int32_t SetTimeout(int32_t milliseconds);
int32_t WriteExchange(const uint8_t* payload, int32_t length, uint8_t* answer,
                      int32_t* answerLength);
int32_t LoadFirmware(int32_t adapterIds);
}

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
