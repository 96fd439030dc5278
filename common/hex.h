// Hexadecimal conversions shared by the updater, the adapter library and the tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The lowest `digitCount` hexadecimal digits of `value`, upper case, always exactly
// `digitCount` digits (2 for a byte, 4 for an I/O address).
std::string HexDigits(std::uint32_t value, int digitCount);

// The value of a text of hexadecimal digits (0-9, A-F, a-f). -1 for an empty text, a text of
// 32 or more characters, or a text holding any other character. Digits beyond the eighth
// shift out of the 32-bit result, as in 32-bit arithmetic.
std::int32_t HexValue(std::string_view text);

// Appends the two upper-case digits of `byte` to `out`, the form of every byte in a command
// message and in an answer.
void AppendHexByte(std::string& out, std::uint8_t byte);
