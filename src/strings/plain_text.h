// Plain UTF-16 texts outside any string: counting one, and writing a number as decimal text.
// Shared by the strings, the formatter and the log's file name, so each is said once.
#pragma once

#include <cstdint>

namespace orvane {

/// Counts the characters before `text`'s terminator (0 for null).
std::uint32_t TextLength(const char16_t* text);

/// Room for any number WriteDecimal writes: a sign, 19 digits and the terminator.
inline constexpr std::uint32_t DECIMAL_UNITS = 21;

/// Writes `value` in decimal ("-" before a negative one) and a terminator into `out`; returns
/// the units written before the terminator.
std::uint32_t WriteDecimal(std::int64_t value, char16_t (&out)[DECIMAL_UNITS]);

/// Writes `count` bytes as 2 * `count` upper-case hexadecimal digits, most significant first,
/// and a terminator into `out`, which has room for them.
void WriteHex(const std::uint8_t* bytes, std::uint32_t count, char16_t* out);

}  // namespace orvane
