// The exchange over the adapter library: what is handed over, what is taken back.
#include <gtest/gtest.h>

#include <stdexcept>

#include "link_rig.h"

namespace {

struct FakeAdapter {
  std::int32_t result = 1;
  std::int32_t reportedLength = 0;
  bool throwOnExchange = false;
  std::vector<std::uint8_t> payload;
  std::int32_t capacity = 0;
  std::vector<std::int32_t> timeouts;
};
FakeAdapter fake;

std::int32_t FakeSetTimeout(std::int32_t milliseconds) {
  fake.timeouts.push_back(milliseconds);
  return 1;
}

std::int32_t FakeWriteExchange(const std::uint8_t* payload, std::int32_t length,
                               std::uint8_t* answer, std::int32_t* answerLength) {
  if (fake.throwOnExchange) throw std::runtime_error("adapter gone");
  fake.payload.assign(payload, payload + length);
  fake.capacity = *answerLength;
  for (std::int32_t i = 0; i < *answerLength; ++i) answer[i] = static_cast<std::uint8_t>(i);
  *answerLength = fake.reportedLength;
  return fake.result;
}

class UsbExchange : public ::testing::Test {
 protected:
  UsbExchange() {
    fake = {};
    rig.link->AdapterBound = true;
    rig.link->Adapter.SetTimeout = FakeSetTimeout;
    rig.link->Adapter.WriteExchange = FakeWriteExchange;
    rig.link->LibraryTimeout = 2000;
  }
  test::LinkRig rig;
};

struct AnswerCase {
  std::int32_t result;
  std::int32_t reportedLength;
  std::size_t expectedBytes;
};

TEST_F(UsbExchange, TakesNoMoreThanTheReceiveBufferWhateverTheLibraryReports) {
  const AnswerCase cases[] = {
      {1, 3, 3},     {1, 0, 0},    {0x10001, 2, 2},  // only the low 16 bits of the result
      {49, 3, 0},    {0, 3, 0},    {1, 252, 252},
      {1, 256, 256}, {1, 600, 88},  // the low 9 bits of the length count
      {1, 300, 256},                // a library overstating its answer cannot overrun the buffer
      {1, -1, 256},
  };
  for (const auto& c : cases) {
    fake.result = c.result;
    fake.reportedLength = c.reportedLength;
    rig.link->ModuleExchange("0102", 2000);
    EXPECT_EQ(rig.link->AnswerText.size(), 2 * c.expectedBytes)
        << "result " << c.result << " length " << c.reportedLength;
    EXPECT_EQ(fake.capacity, 256);
    if (c.expectedBytes >= 2) {
      EXPECT_EQ(rig.link->AnswerText.substr(0, 4), "0001");
    }
  }
}

TEST_F(UsbExchange, HandsOverTheMessageBytes) {
  rig.link->ModuleExchange("A0B1C", 2000);
  EXPECT_EQ(fake.payload, (std::vector<std::uint8_t>{0xA0, 0xB1}));
  rig.link->ModuleExchange("", 2000);
  EXPECT_EQ(fake.payload, (std::vector<std::uint8_t>{0x00}));
}

TEST_F(UsbExchange, SetsTheLibraryTimeoutOnlyWhenItChanges) {
  rig.link->ModuleExchange("01", 2000);
  rig.link->ModuleExchange("01", 4000);
  rig.link->ModuleExchange("01", 4000);
  rig.link->ModuleExchange("01", 50000);
  rig.link->ModuleExchange("01", 4000);
  EXPECT_EQ(fake.timeouts, (std::vector<std::int32_t>{4000, 50000, 4000}));
  EXPECT_EQ(rig.link->LibraryTimeout, 4000);
}

TEST_F(UsbExchange, AnAbnormalEndGivesAnEmptyAnswerAndEndsTheCountdown) {
  fake.throwOnExchange = true;
  rig.link->TimeoutCountdown = 500;
  rig.link->ModuleExchange("01", 2000);
  EXPECT_EQ(rig.link->AnswerText, "");
  EXPECT_EQ(rig.link->TimeoutCountdown, 0);
}

TEST_F(UsbExchange, RegisterAccessIsSwitchedOffWhileBound) {
  rig.ports.SetLogging(true);
  rig.link->WriteCiRegister(0x320, 1);
  EXPECT_TRUE(rig.ports.Log().empty());
  EXPECT_FALSE(rig.link->CiLinkInit());
  EXPECT_TRUE(rig.link->OpenDriverDevice());
  EXPECT_TRUE(rig.devices.opened.empty());
}

}  // namespace
