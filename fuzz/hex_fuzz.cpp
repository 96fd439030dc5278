// HexValue on any text, and HexDigits/AppendHexByte checked against it: the digits of a value
// read back as the value, in exactly the number of digits asked for.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto value = input.ConsumeIntegral<std::uint32_t>();
  const int digitCount = input.ConsumeIntegralInRange<int>(-2, 40);
  const std::string text = input.ConsumeRemainingBytesAsString();

  const std::int32_t parsed = HexValue(text);
  if (parsed != -1 && (text.empty() || text.size() >= 32)) std::abort();

  const std::string digits = HexDigits(value, digitCount);
  if (digits.size() != static_cast<std::size_t>(digitCount < 0 ? 0 : digitCount)) std::abort();
  if (digitCount > 0 && digitCount < 32) {
    const std::uint32_t mask = digitCount >= 8 ? 0xFFFFFFFFu : (1u << (4 * digitCount)) - 1;
    if (static_cast<std::uint32_t>(HexValue(digits)) != (value & mask)) std::abort();
  }

  std::string pair;
  AppendHexByte(pair, static_cast<std::uint8_t>(value));
  if (pair != HexDigits(value & 0xFF, 2)) std::abort();
  return 0;
}
