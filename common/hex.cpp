#include "hex.h"

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::string HexDigits(std::uint32_t value, int digitCount) {
  if (digitCount <= 0) return {};
  std::string text(static_cast<std::size_t>(digitCount), '0');
  for (int i = digitCount - 1; i >= 0 && value != 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

std::int32_t HexValue(std::string_view text) {
  if (text.empty() || text.size() >= 32) return -1;
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = DigitValue(c);
    if (digit < 0) return -1;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(value);
}

void AppendHexByte(std::string& out, std::uint8_t byte) {
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 0xF]);
}
