#include <gtest/gtest.h>

#include "hex.h"

namespace {

struct DigitsCase {
  std::uint32_t value;
  int digits;
  const char* expected;
};

TEST(HexDigits, GivesExactlyTheLowestDigitsInUpperCase) {
  const DigitsCase cases[] = {
      {0x00, 2, "00"},    {0xAB, 2, "AB"},     {0x1AB, 2, "AB"},     {0x5, 4, "0005"},
      {0x320, 4, "0320"}, {0xFFFF, 4, "FFFF"}, {0x12345, 4, "2345"}, {0xdeadbeef, 8, "DEADBEEF"},
      {0x7, 1, "7"},      {0x7, 0, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HexDigits(c.value, c.digits), c.expected) << c.value << " with " << c.digits;
}

struct ValueCase {
  const char* text;
  std::int32_t expected;
};

TEST(HexValue, AcceptsBothCasesAndRefusesEverythingElse) {
  const ValueCase cases[] = {
      {"", -1},
      {"0", 0},
      {"ff", 255},
      {"Ff", 255},
      {"0G", -1},
      {"G0", -1},
      {" 1", -1},
      {"-1", -1},
      {"0x10", -1},
      {"12345678", 0x12345678},
      {"7FFFFFFF", 0x7FFFFFFF},
      {"0000000000000000000000000000001", 1},    // 31 characters
      {"00000000000000000000000000000001", -1},  // 32 characters
  };
  for (const auto& c : cases) EXPECT_EQ(HexValue(c.text), c.expected) << '"' << c.text << '"';
}

TEST(HexValue, KeepsTheLowThirtyTwoBitsOfLongerNumbers) {
  EXPECT_EQ(HexValue("FFFFFFFF"), -1);
  EXPECT_EQ(HexValue("123456789"), 0x23456789);
}

TEST(AppendHexByte, AppendsTwoUpperCaseDigits) {
  std::string text = "x";
  AppendHexByte(text, 0x0A);
  AppendHexByte(text, 0xF0);
  EXPECT_EQ(text, "x0AF0");
}

}  // namespace
